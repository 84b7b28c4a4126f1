// The download window's list menu: captions, guards, the header sort, the
// commands on selected rows, opening through the (recording) shell, the name
// export and the address replacement dialog. Nothing is downloaded here and
// no external program is started.
#include "GuiTestMain.h"

#include "app/Timings.h"
#include "CellTexts.h"
#include "download/DownloadListModel.h"
#include "gui/UrlReplaceDialog.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "ports/Prompter.h"
#include "ports/Shell.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using namespace dh;
using dh::test::setCellTexts;
using namespace std::chrono_literals;

class DownloadListOpsTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    RecordingShell shell;
    QTemporaryDir dir;
    DownloadWindow* d = nullptr;

    QString folder() const { return dir.path() + "/"; }
    DownloadListModel& list() { return *d->list(); }

    void addRow(const QString& name, DownloadState s, const QString& size = {}, const QString& received = {},
                const QString& progress = {}, const QString& type = QStringLiteral("pdf"))
    {
        const int i = list().size();
        list().addItem("http://h/" + name, name, type, folder(), "http://h/ref");
        DownloadItem it = list().item(i);
        it.state = s;
        setCellTexts(it, size, received, progress);
        list().setItem(i, it);
    }
    void writeFile(const QString& path, qint64 bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(bytes, 'a'));
    }
    void select(std::initializer_list<int> rows)
    {
        d->m_downloadsView->clearSelection();
        for (int r : rows) {
            d->m_downloadsView->selectionModel()->select(list().index(r, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        if (rows.size())
            d->m_downloadsView->selectionModel()->setCurrentIndex(list().index(*rows.begin(), 0),
                                                            QItemSelectionModel::NoUpdate);
    }
    QStringList names()
    {
        QStringList n;
        for (int i = 0; i < list().size(); ++i)
            n << list().item(i).name;
        return n;
    }
    static QStringList captions(QMenu* m)
    {
        QStringList out;
        for (QAction* a : m->actions()) {
            if (a->isSeparator())
                continue;
            out << a->text();
            if (a->menu())
                out << QStringLiteral("[") + captions(a->menu()).join(u'|') + QStringLiteral("]");
        }
        return out;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        Shell::setInstance(&shell);
        timings().tick = 1h;  // neither the scheduler nor the monitor ticks on its own
        QVERIFY(dir.isValid());
    }
    void init()
    {
        d = windows::download();
        d->show();
        list().clear();
        prompter.clear();
        shell.calls.clear();
        shell.result = true;
    }
    void cleanup()
    {
        d->m_schedulerTimer->stop();
        d->m_state.endTransfer();
    }
    void cleanupTestCase()
    {
        if (DownloadWindow* w = windows::downloadIfLoaded()) {
            QPointer<QWidget> p(w);
            prompter.questionAnswers.assign(1, true);
            w->close();
            QTRY_VERIFY(p.isNull());
        }
        Shell::setInstance(nullptr);
        Prompter::setInstance(nullptr);
    }

    void menuCaptionsInOrder()
    {
        QCOMPARE(d->m_listMenu->title(), QStringLiteral("列表操作(&D)"));
        const QStringList want = {
            "全选", "全不选", "随机排序列表(打乱)", "自动调整列宽", "重新下载",
            "[选中项|出错项|网页类型文件(HTM/HTML/xml)项|重新下载出错项和网页类型文件项|文件大小小于指定数字的项]",
            "清除", "[选中项|全部出错项|完成项]", "清空", "删除文件", "[网页类型文件(HTM/HTML/xml)项|出错项]",
            "开始下载", "停止下载", "取消下载选中项", "打开下载文件", "打开所在文件夹", "用记事本打开文件",
            "复制名称", "批量替换网址", "打开网址", "导出名称", "[全部|未完成项]", "关闭本下载窗口"};
        QCOMPARE(captions(d->m_listMenu), want);
        QMenu* tools = d->m_clearBrowserCacheAction->associatedObjects().isEmpty()
            ? nullptr
            : qobject_cast<QMenu*>(d->m_clearBrowserCacheAction->associatedObjects().first());
        QVERIFY(tools);
        QCOMPARE(captions(tools), QStringList({"设置", "自动定位到下载项", "检查文件是否存在", "检查并纠正磁盘文件类型",
                                               "清空IE浏览器缓存", "打开文件判断类型"}));
        QCOMPARE(d->m_downloadsView->toolTip(), QStringLiteral("双击鼠标：下载当前项或者打开文件"));
        QCOMPARE(d->m_downloadsView->editTriggers(), QAbstractItemView::NoEditTriggers);
    }

    void guardsWhileTheSchedulerRuns()
    {
        addRow("a", DownloadState::Waiting);
        addRow("b", DownloadState::Done, "9", "9", "100%");
        d->m_schedulerTimer->setInterval(1h);
        d->m_schedulerTimer->start();

        d->shuffleRows();
        d->removeRowsInState(DownloadState::Done);
        d->clearAllRows();
        // The address replacement too: a running transfer finds its row by
        // address. (Should the dialog open after all, it is closed again.)
        QTimer::singleShot(300, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->close();
        });
        d->replaceAddresses();
        QCOMPARE(prompter.texts(), QStringList(4, QStringLiteral("停止下载以后，才能执行此操作！")));
        QCOMPARE(prompter.shown.back().icon, MessageIcon::Information);
        prompter.clear();
        d->sortByColumn(DownloadListModel::ColName);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("停止下载后方可排序！")});
        QCOMPARE(names(), QStringList({"a", "b"}));

        d->prepareListMenu();
        QVERIFY(!d->m_removeMenu->menuAction()->isEnabled());
        QVERIFY(!d->m_removeAllAction->isEnabled());
        QVERIFY(!d->m_selectAllAction->isEnabled());
        QVERIFY(d->m_stopAction->isEnabled());

        // The cancelling guard looks only at the busy flag: the cancel runs in the pause between files.
        prompter.clear();
        select({0, 1});
        d->cancelSelectedRows();
        QVERIFY(prompter.shown.empty());
        QCOMPARE(list().item(0).state, DownloadState::Failed);
        QCOMPARE(list().item(1).state, DownloadState::Done);

        d->m_schedulerTimer->stop();
        d->m_state.beginTransfer();
        d->cancelSelectedRows();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("停止下载后方可设置！")});
        QCOMPARE(prompter.shown.back().icon, MessageIcon::Error);
        d->m_state.endTransfer();

        d->prepareListMenu();
        QVERIFY(d->m_removeMenu->menuAction()->isEnabled());
        QVERIFY(d->m_removeAllAction->isEnabled());
        QVERIFY(d->m_selectAllAction->isEnabled());
        QVERIFY(!d->m_stopAction->isEnabled());
    }

    void headerClickSortsSizesAsNumbersAndFlips()
    {
        addRow("big", DownloadState::Done, "1536", "1536", "100%");
        addRow("nine", DownloadState::Done, "9", "9", "100%");
        addRow("ten", DownloadState::Done, "10", "10", "100%");
        QHeaderView* h = d->m_downloadsView->header();
        const QPoint at(h->sectionViewportPosition(DownloadListModel::ColSize) + 4, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(names(), QStringList({"nine", "ten", "big"}));
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(names(), QStringList({"big", "ten", "nine"}));
        QVERIFY(prompter.shown.empty());
    }

    void selectionRemovalAndClearing()
    {
        for (const char* n : {"a", "b", "c", "d"})
            addRow(n, DownloadState::Waiting);
        d->selectAllRows();
        QCOMPARE(d->selectedRows().size(), size_t(4));
        d->selectNoRows();
        QVERIFY(d->selectedRows().empty());
        select({1, 3});
        d->removeSelectedRows();
        QCOMPARE(names(), QStringList({"a", "c"}));
        QCOMPARE(d->m_rowCountLabel->text(), QStringLiteral("2条"));

        prompter.questionAnswers.assign(1, false);
        d->clearAllRows();
        QCOMPARE(list().size(), 2);
        prompter.questionAnswers.assign(1, true);
        d->clearAllRows();
        QCOMPARE(list().size(), 0);
        QCOMPARE(d->m_rowCountLabel->text(), QStringLiteral("0条"));
        // On an empty list the question is still asked; the removals say nothing.
        prompter.clear();
        d->clearAllRows();
        d->removeSelectedRows();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("您确定要清空列表的所有信息吗？")});
    }

    void shuffleReportsAndKeepsRows()
    {
        for (const char* n : {"a", "b", "c"})
            addRow(n, DownloadState::Waiting);
        d->shuffleRandom = [](int n) { return n; };  // last remaining each time: reversed
        d->shuffleRows();
        d->shuffleRandom = {};
        QCOMPARE(names(), QStringList({"c", "b", "a"}));
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("随机排序完成！")});
        QCOMPARE(list().findUrl("http://h/a"), 2);
    }

    void smallFilePrompt()
    {
        addRow("small", DownloadState::Done, "4096", "4096", "100%");
        addRow("partial", DownloadState::Done, "4096", "2000", "48%");
        for (const auto& answer : {std::optional<QString>(QStringLiteral("abc")), std::optional<QString>()}) {
            prompter.inputAnswers.assign(1, answer);
            d->redownloadSmallFiles();
            QCOMPARE(list().item(0).state, DownloadState::Done);
        }
        prompter.inputAnswers.assign(1, QStringLiteral(" 50000 "));
        d->redownloadSmallFiles();
        QCOMPARE(list().item(0).state, DownloadState::Waiting);
        QVERIFY(cellText(list().item(0), DownloadListModel::ColSize).isEmpty());
        QCOMPARE(list().item(1).state, DownloadState::Done);
        // Three prompts and no message at all.
        QCOMPARE(prompter.texts(), QStringList(3, QStringLiteral("请输入数字：")));
    }

    void openingThroughTheShell()
    {
        QVERIFY(QDir().mkpath(folder() + "sub"));
        addRow("doc", DownloadState::Done, "3", "3", "100%");
        const QString path = folder() + "doc.pdf";
        select({0});

        d->openSelectedFile();
        d->openInTextEditor();
        QCOMPARE(prompter.texts(), QStringList(2, QStringLiteral("该文件不存在！")));
        d->openContainingFolder();  // folder exists, file missing: the folder itself, no message
        QCOMPARE(shell.calls, (std::vector<RecordingShell::Call>{{"openFolder", folder()}}));

        writeFile(path, 2097152);
        prompter.clear();
        shell.calls.clear();
        d->openSelectedFile();
        d->openInTextEditor();
        d->openContainingFolder();
        d->openSelectedAddress();
        QCOMPARE(shell.calls, (std::vector<RecordingShell::Call>{{"openFile", path}, {"openAsText", path},
                                                                 {"showInFolder", path},
                                                                 {"openInBrowser", "http://h/doc"}}));
        QVERIFY(prompter.shown.empty());

        writeFile(path, 2097153);
        shell.calls.clear();
        shell.result = false;
        d->openInTextEditor();
        d->openContainingFolder();
        QCOMPARE(prompter.texts(), QStringList({QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！"),
                                                QStringLiteral("打开失败！")}));
        QCOMPARE(shell.calls.size(), size_t(1));

        prompter.clear();
        DownloadItem it = list().item(0);
        it.folder = folder() + "gone/";
        list().setItem(0, it);
        d->openContainingFolder();
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("文件夹不存在！")});
    }

    void clicksAndDoubleClicks()
    {
        addRow("done", DownloadState::Done, "1", "1", "100%");
        addRow("failed", DownloadState::Failed, "10", "4", "40%", "html");
        addRow("running", DownloadState::Downloading, "10", "4", "40%");
        writeFile(folder() + "failed.html", 4);
        list().setOwnedFile(1, folder() + "failed.html");  // as the row's transfer left it

        d->rowDoubleClicked(0);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("文件不存在！")});
        d->rowDoubleClicked(1);
        QCOMPARE(list().item(1).state, DownloadState::Waiting);
        QCOMPARE(list().item(1).fileType, QStringLiteral("html"));
        QVERIFY(cellText(list().item(1), DownloadListModel::ColProgress).isEmpty());
        QVERIFY(!QFile::exists(folder() + "failed.html"));
        d->rowDoubleClicked(2);
        QCOMPARE(cellText(list().item(2), DownloadListModel::ColProgress), QStringLiteral("40%"));

        writeFile(folder() + "done.pdf", 1);
        shell.calls.clear();
        d->rowDoubleClicked(0);
        QCOMPARE(shell.calls, (std::vector<RecordingShell::Call>{{"openFile", folder() + "done.pdf"}}));

        // A click shows the file's path in panel 2; a click there opens it in the browser.
        d->rowClicked(0);
        QCOMPARE(d->m_statusPanels[2]->text(), folder() + "done.pdf");
        shell.calls.clear();
        QTest::mouseClick(d->m_statusPanels[2], Qt::LeftButton);
        QCOMPARE(shell.calls, (std::vector<RecordingShell::Call>{{"openInBrowser", folder() + "done.pdf"}}));
        d->rowClicked(2);
        QVERIFY(d->m_statusPanels[2]->text().isEmpty());
        shell.calls.clear();
        d->statusPanelClicked(2);
        QVERIFY(shell.calls.empty());
    }

    void copyNameAndExport()
    {
        addRow("甲", DownloadState::Done);
        addRow("乙", DownloadState::Failed);
        addRow("丙", DownloadState::Done);
        select({1});
        d->copySelectedName();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("乙"));

        const QString out = folder() + "names.txt";
        prompter.pathAnswers.assign(1, out);
        d->exportNames(true);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QStringLiteral("乙\r\n").toUtf8());
        f.close();
        prompter.pathAnswers.assign(1, out);
        d->exportNames(false);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QStringLiteral("甲\r\n乙\r\n丙\r\n").toUtf8());

        prompter.pathAnswers.assign(1, folder() + "missing/dir/n.txt");
        d->exportNames(false);
        QCOMPARE(prompter.shown.size(), size_t(1));
        QCOMPARE(prompter.shown.back().icon, MessageIcon::Error);
    }

    void addressReplacementDialog()
    {
        list().addItem("http://h/old/a.pdf", "a", "pdf", folder(), "http://h/Old/list");
        list().addItem("http://h/x/b.pdf", "b", "pdf", folder(), "");
        UrlReplaceDialog dlg(list(), d);
        QCOMPARE(dlg.m_findLabel->text(), QStringLiteral("所有网址中的字符串："));
        QCOMPARE(dlg.m_replaceLabel->text(), QStringLiteral("将被全部替换为字符串："));
        QCOMPARE(dlg.m_replaceButton->text(), QStringLiteral("替换"));
        QCOMPARE(dlg.m_cancelButton->text(), QStringLiteral("取消"));
        dlg.show();
        dlg.m_findEdit->setText("  ");
        QTest::mouseClick(dlg.m_replaceButton, Qt::LeftButton);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("请输入字符串！")});
        QVERIFY(dlg.isVisible());

        prompter.clear();
        dlg.m_findEdit->setText("/OLD/");
        dlg.m_replaceEdit->setText("/new/");
        QTest::mouseClick(dlg.m_replaceButton, Qt::LeftButton);
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("全部网址替换完成！")});
        QVERIFY(!dlg.isVisible());
        QCOMPARE(list().item(0).url, QStringLiteral("http://h/new/a.pdf"));
        QCOMPARE(list().item(0).referer, QStringLiteral("http://h/new/list"));
        QCOMPARE(list().item(1).url, QStringLiteral("http://h/x/b.pdf"));

        // A result that would give two rows one address changes nothing.
        prompter.clear();
        UrlReplaceDialog again(list(), d);
        again.m_findEdit->setText("/x/b");
        again.m_replaceEdit->setText("/new/a");
        again.replaceAll();
        QCOMPARE(prompter.shown.size(), size_t(1));
        QCOMPARE(prompter.shown.back().icon, MessageIcon::Error);
        QCOMPARE(list().item(1).url, QStringLiteral("http://h/x/b.pdf"));
    }
};

DH_GUI_TEST_MAIN(DownloadListOpsTest)
#include "download_list_ops_test.moc"
