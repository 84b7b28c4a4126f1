// The search window's commands around the links list and the browser:
// the five clearing commands with their guard and dialogs, the export and
// the page source in the system code page, the status bar, new windows and
// close requests kept inside the window, the script-dialog switch, opening
// an address, back and forward, the smallest window size, the about box and
// the usage window.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "demo/DemoService.h"
#include "gui/Windows.h"
#include "gui/CacheViewerWindow.h"
#include "gui/HelpWindow.h"
#include "gui/SearchWindow.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QAction>
#include <QCheckBox>
#include <QCoroTask>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using namespace dh;

namespace {

QStringList actionTexts(const QMenu* m)
{
    QStringList l;
    for (QAction* a : m->actions())
        if (!a->isSeparator())
            l << a->text();
    return l;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class SearchCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<demo::DemoService> svc;
    QString base;
    ScriptedPrompter prompter;
    QTemporaryDir dir;
    SearchWindow* w = nullptr;

    bool loadInBrowser(const QString& url)
    {
        const quint64 before = w->m_browser->completedLoads();
        w->m_browser->navigate(url);
        // The address check keeps a load still finishing from an earlier
        // navigation from counting as this one.
        return QTest::qWaitFor(
            [&] {
                return w->m_browser->completedLoads() > before && !w->m_browser->busy()
                       && w->m_browser->locationUrl() == url;
            },
            20000);
    }

    bool clickInPage(const QString& id)
    {
        DocumentPtr doc = QCoro::waitFor(w->m_browser->document());
        return doc && doc->getElementById(id).click();
    }

    void fillLinks(const QStringList& titles)
    {
        w->engine()->links()->clear();
        int n = 0;
        for (const QString& t : titles)
            QVERIFY(w->engine()->addToLinksList(t, QStringLiteral("http://h/%1.pdf").arg(n++), base, QStringLiteral("pdf"), {}));
    }

    QStringList titles() const
    {
        QStringList l;
        for (const LinkItem& it : w->engine()->links()->items())
            l << it.title;
        return l;
    }

private Q_SLOTS:
    void initTestCase()
    {
        svc = std::make_unique<demo::DemoService>();
        QVERIFY(svc->start());
        base = svc->baseUrl();
        Prompter::setInstance(&prompter);
        globals().searchBaseAddress = base;
        globals().osDescription = QStringLiteral("Test Linux 1.0[64位]");
    }

    void init()
    {
        prompter.clear();
        prompter.inputAnswers.clear();
        prompter.questionAnswers.clear();
        prompter.pathAnswers.clear();
        // One window serves every case: each new web page would open fresh
        // connections to the demo service and the idle ones fill its workers.
        if (!windows::searchIfLoaded()) {
            w = windows::search();
            w->resize(1100, 760);
            w->show();
            QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(), 30000);
        }
        w = windows::searchIfLoaded();
    }

    void cleanup()
    {
        SystemCodePage::setName({});
    }

    void cleanupTestCase()
    {
        if (auto* s = windows::searchIfLoaded()) {
            prompter.questionAnswers.assign(1, true);  // collected links may be left
            QPointer<QWidget> p(s);
            s->close();
            QTRY_VERIFY(p.isNull());
        }
        Prompter::setInstance(nullptr);
        svc->stop();
    }

    void backAndForwardWithoutHistory()
    {
        // The fresh window has only its first page: both do nothing.
        auto* web = w->m_browser;
        QVERIFY(!web->canGoBack());
        const QString first = web->locationUrl();
        QCOMPARE(first, searchHomeAddress(base));
        const quint64 loads = web->completedLoads();
        w->m_backAction->trigger();
        w->m_forwardAction->trigger();
        QTest::qWait(300);
        QCOMPARE(web->locationUrl(), first);
        QCOMPARE(web->completedLoads(), loads);
    }

    void menusCarryTheirCaptions()
    {
        QStringList bar;
        for (QAction* a : w->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{"浏览(&B)", "搜索(&S)", "清除(&C)", "工具(&T)", "帮助(&H)"}));
        const auto menuAt = [&](int i) { return w->menuBar()->actions()[i]->menu(); };
        QCOMPARE(actionTexts(menuAt(0)), (QStringList{"打开Quorvex搜索首页", "打开指定网址", "后退", "前进", "关闭本窗口"}));
        QCOMPARE(actionTexts(menuAt(1)),
                 (QStringList{"开始批量搜索提取", "加入本页到列表", "分析下载", "转到下一区域", "转到上一区域"}));
        QCOMPARE(actionTexts(menuAt(2)),
                 (QStringList{"清除选中项", "清除分析成功项", "清除标题含指定字符项", "清除标题不含指定字符项", "清空全部"}));
        QCOMPARE(menuAt(2), w->m_removeMenu);
        QCOMPARE(actionTexts(menuAt(3)),
                 (QStringList{"设置", "打开下载窗口", "查看IE浏览器缓存", "清空IE浏览器缓存", "网页源码另存为"}));
        QCOMPARE(actionTexts(menuAt(4)), (QStringList{"关于(&A)", "使用方法"}));
        QCOMPARE(w->m_exportButton->text(), QStringLiteral("导出数据..."));
        QCOMPARE(w->m_silenceScriptDialogsCheck->text(), QStringLiteral("禁止网页脚本对话框"));
        QVERIFY(w->m_silenceScriptDialogsCheck->isChecked());
        QVERIFY(w->m_browser->silent());
        QVERIFY(!w->windowIcon().isNull());

        // The right mouse button on the list opens the same menu.
        emit w->m_linksView->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(w->m_removeMenu->isVisible());
        w->m_removeMenu->hide();
    }

    void clearingCommands()
    {
        fillLinks({"C语言教程PDF", "手册 pdf版", "Qt 指南", "数据库教程", "网络手册"});
        auto* links = w->engine()->links();
        links->setStatus(0, QStringLiteral("成功"));
        links->setStatus(2, QStringLiteral("分析失败"));

        // Two adjacent selected rows both go.
        auto* sel = w->m_linksView->selectionModel();
        sel->select(links->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        sel->select(links->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w->m_removeSelectedAction->trigger();
        QCOMPARE(titles(), (QStringList{"C语言教程PDF", "数据库教程", "网络手册"}));
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("3"));
        // After the removal: a cell alone does not select its row; scattered rows go.
        sel->select(links->index(1, 0), QItemSelectionModel::ClearAndSelect);
        w->m_removeSelectedAction->trigger();
        QCOMPARE(titles(), (QStringList{"C语言教程PDF", "数据库教程", "网络手册"}));
        sel->select(links->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        sel->select(links->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w->m_removeSelectedAction->trigger();
        QCOMPARE(titles(), QStringList{"数据库教程"});
        fillLinks({"C语言教程PDF", "数据库教程", "网络手册"});
        links->setStatus(0, QStringLiteral("成功"));

        // Handed-over rows go; others stay.
        w->m_removeAnalysedAction->trigger();
        QCOMPARE(titles(), (QStringList{"数据库教程", "网络手册"}));
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("2"));

        // Title text, case-insensitive, asked with the program title.
        fillLinks({"C语言教程PDF", "手册 pdf版", "Qt 指南"});
        prompter.inputAnswers.push_back(QStringLiteral("PDF"));
        w->m_removeTitleContainingAction->trigger();
        QCOMPARE(titles(), QStringList{"Qt 指南"});
        QCOMPARE(prompter.shown.back().text, QStringLiteral("请输入指定字符："));
        QCOMPARE(prompter.shown.back().title, programTitle());
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("1"));

        // Cancelled or empty answers change nothing.
        fillLinks({"甲", "乙"});
        prompter.inputAnswers.push_back(std::nullopt);
        w->m_removeTitleNotContainingAction->trigger();
        prompter.inputAnswers.push_back(QString());
        w->m_removeTitleNotContainingAction->trigger();
        QCOMPARE(titles(), (QStringList{"甲", "乙"}));
        // A text that no title holds empties the list.
        prompter.inputAnswers.push_back(QStringLiteral("丙"));
        w->m_removeTitleNotContainingAction->trigger();
        QCOMPARE(links->size(), 0);
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("0"));

        // Refused while a hand-over runs, for every clearing command.
        fillLinks({"甲", "乙"});
        w->engine()->stopAnalysis = false;
        prompter.clear();
        prompter.questionAnswers.assign(1, true);
        prompter.inputAnswers.push_back(QStringLiteral("甲"));
        for (QAction* a : {w->m_removeSelectedAction, w->m_removeAnalysedAction, w->m_removeTitleContainingAction,
                           w->m_removeTitleNotContainingAction, w->m_removeAllAction})
            a->trigger();
        w->engine()->stopAnalysis = true;
        QCOMPARE(prompter.texts(), QStringList(5, QStringLiteral("正在分析，不能清除！")));
        QCOMPARE(links->size(), 2);

        // 清空全部 asks first.
        prompter.clear();
        prompter.questionAnswers.assign({false, true});
        w->m_removeAllAction->trigger();
        QCOMPARE(links->size(), 2);
        w->m_removeAllAction->trigger();
        QCOMPARE(links->size(), 0);
        QCOMPARE(w->m_linkCountLabel->text(), QStringLiteral("0"));
        QCOMPARE(prompter.texts(), QStringList(2, QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？")));
    }

    void exportAndPageSourceInGbk()
    {
        SystemCodePage::setName(QStringLiteral("GBK"));
        // Empty list: no dialog.
        w->engine()->links()->clear();
        QTest::mouseClick(w->m_exportButton, Qt::LeftButton);
        QVERIFY(prompter.shown.empty());

        fillLinks({"教程", "手册"});
        w->engine()->links()->setStatus(0, QStringLiteral("成功"));
        const QString out = dir.filePath(QStringLiteral("links"));
        prompter.pathAnswers.assign(1, out);
        QTest::mouseClick(w->m_exportButton, Qt::LeftButton);
        const QByteArray bytes = readAll(out + ".txt");
        QStringEncoder gbk("GBK");
        QCOMPARE(bytes, QByteArray(gbk.encode(QStringLiteral("教程-【pdf】成功\r\n手册-【pdf】\r\n"))));
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("保存文件完毕：0.0KB")});

        // The page shown, saved as GBK.
        QVERIFY(loadInBrowser(base + QStringLiteral("/gbk")));
        prompter.clear();
        const QString htm = dir.filePath(QStringLiteral("page.htm"));
        prompter.pathAnswers.assign(1, htm);
        w->m_savePageSourceAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(prompter.texts(), QStringList{QStringLiteral("OK")}, 15000);
        const QByteArray page = readAll(htm);
        QVERIFY(page.contains(QByteArray(gbk.encode(QStringLiteral("中文内容：文档搜索与下载")))));
        QVERIFY(!page.contains(QStringLiteral("中文内容").toUtf8()));
    }

    void statusBarAndNewWindows()
    {
        QVERIFY(w->m_statusBar->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(w->m_browserStatusPanel->text(), QStringLiteral("完成"), 10000);
        QVERIFY(loadInBrowser(base + QStringLiteral("/popup")));
        const int windowsBefore = QApplication::topLevelWidgets().size();

        // A link with a new-window target opens here, and the bar shows the load.
        QStringList statusTexts;
        QObject listening;  // ends the connection with this case
        connect(w->m_browser, &Browser::statusTextChange, &listening, [&](const QString& t) { statusTexts << t; });
        QVERIFY(clickInPage(QStringLiteral("blank-link")));
        QTRY_COMPARE_WITH_TIMEOUT(w->m_browser->locationUrl(), searchHomeAddress(base), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(w->m_browserStatusPanel->text(), QStringLiteral("完成"), 10000);
        QVERIFY(statusTexts.contains(searchHomeAddress(base)));
        QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);

        // A script's window.open too.
        QVERIFY(loadInBrowser(base + QStringLiteral("/popup")));
        QVERIFY(clickInPage(QStringLiteral("open-link")));
        QTRY_COMPARE_WITH_TIMEOUT(w->m_browser->locationUrl(), base + QStringLiteral("/login"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!w->m_browser->busy(), 15000);

        // A page cannot close the browser or the window.
        QVERIFY(loadInBrowser(base + QStringLiteral("/popup")));
        QVERIFY(clickInPage(QStringLiteral("close-link")));
        QTest::qWait(300);
        QVERIFY(w->isVisible());
        QCOMPARE(w->m_browser->locationUrl(), base + QStringLiteral("/popup"));
        QVERIFY(loadInBrowser(searchHomeAddress(base)));
    }

    void scriptDialogSwitch()
    {
        QVERIFY(loadInBrowser(base + QStringLiteral("/popup")));
        auto* web = w->m_browser;
        QString shown;
        QTimer closer;
        closer.setInterval(50);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget* m = QApplication::activeModalWidget()) {
                if (auto* box = qobject_cast<QMessageBox*>(m))
                    shown = box->text();
                m->close();
            }
        });
        closer.start();
        // Unticked: the page's alert appears.
        w->m_silenceScriptDialogsCheck->click();  // the web page may hold the mouse after the pop-up test
        QVERIFY(!w->m_silenceScriptDialogsCheck->isChecked());
        QVERIFY(!web->silent());
        const int before = web->suppressedDialogs();
        QVERIFY(clickInPage(QStringLiteral("alert-link")));
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        QVERIFY(shown.contains(QStringLiteral("演示提示")));
        QCOMPARE(web->suppressedDialogs(), before);
        // Ticked again: the next one is swallowed.
        w->m_silenceScriptDialogsCheck->click();
        QVERIFY(web->silent());
        shown.clear();
        QVERIFY(clickInPage(QStringLiteral("alert-link")));
        QTRY_VERIFY_WITH_TIMEOUT(web->suppressedDialogs() == before + 1, 10000);
        QVERIFY(shown.isEmpty());
        closer.stop();
    }

    void openAddressBackAndForward()
    {
        auto* web = w->m_browser;
        QVERIFY(loadInBrowser(searchHomeAddress(base)));
        const QString first = web->locationUrl();

        // Empty answers (after trimming) or a cancel navigate nowhere.
        prompter.inputAnswers.push_back(QStringLiteral("   "));
        prompter.inputAnswers.push_back(std::nullopt);
        const quint64 loads = web->completedLoads();
        w->m_openAddressAction->trigger();
        w->m_openAddressAction->trigger();
        QTest::qWait(300);
        QCOMPARE(web->completedLoads(), loads);
        QCOMPARE(prompter.shown.size(), 2u);
        QCOMPARE(prompter.shown[0].text, QStringLiteral("请输入需要打开的网址："));
        QCOMPARE(prompter.shown[0].title, QStringLiteral("请输入..."));

        const QString target = base + QStringLiteral("/login");
        prompter.inputAnswers.push_back(QStringLiteral("  ") + target + QStringLiteral("  "));
        w->m_openAddressAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(web->locationUrl(), target, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!web->busy(), 15000);
        w->m_backAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(web->locationUrl(), first, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!web->busy(), 15000);
        w->m_forwardAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(web->locationUrl(), target, 15000);
    }

    void smallestWindow()
    {
        QCOMPARE(w->minimumSize(), QSize(SearchWindow::minWidthPx, SearchWindow::minHeightPx));
        // The bar dragged to the very bottom, then the window made tiny.
        if (auto* bar = w->findChild<QSplitter*>(QStringLiteral("browserSplitter")))
            bar->setSizes({100000, 0});
        w->resize(50, 40);
        QTest::qWait(50);
        QVERIFY2(w->width() >= 600 && w->height() >= 333,
                 qPrintable(QStringLiteral("%1x%2").arg(w->width()).arg(w->height())));
    }

    void aboutAndUsage()
    {
        w->m_aboutAction->trigger();
        QCOMPARE(prompter.shown.size(), 1u);
        const QString about = prompter.shown[0].text;
        QVERIFY(about.contains(programTitle()));
        QVERIFY(about.contains(programVersion()));
        QVERIFY(about.contains(QStringLiteral("Test Linux 1.0[64位]")));
        QCOMPARE(prompter.shown[0].icon, MessageIcon::Information);

        w->m_howToUseAction->trigger();
        QPointer<HelpWindow> use = HelpWindow::openInstance();
        QVERIFY(use);
        QVERIFY(use->isVisible());
        QVERIFY(use->isModal());
        QCOMPARE(use->windowTitle(), QStringLiteral("使用说明-DocHarvest"));
        QVERIFY(use->m_helpText->isReadOnly());
        const QString want = QStringLiteral(
            "1、打开“Quorvex网页”首页，如果要搜索pdf文件，关键词是“教程”，就输入：教程 filetype:pdf ；如果要搜索doc文件，就输入：教程 filetype:doc ；以此类推；\n"
            "2、批量关键词搜索，只需要输入批量关键词，不需要输入“filetype:”等字符，勾选pdf，doc等即可；\n"
            "3、分析提取下载网址时，设置限速延时3-10秒，否则网站会不断叫你输入验证码，甚至封锁ip；\n"
            "4、如果弹出输入验证码，请停止分析，手动输入验证码到正常使用；\n"
            "5、文件下载如果出错，请重复下载一次，文件下载不需要限速。\n"
            "\n"
            "注：本软件不能下载收费的文档。");
        QCOMPARE(use->m_helpText->toPlainText(), want);
        // A second request raises the same window.
        w->m_howToUseAction->trigger();
        QCOMPARE(HelpWindow::openInstance(), use.data());
        QCOMPARE(use->m_closeButton->text(), QStringLiteral("关闭"));
        QTest::mouseClick(use->m_closeButton, Qt::LeftButton);
        QTRY_VERIFY(use.isNull());
    }

    void cacheCommands()
    {
        w->m_cacheViewerAction->trigger();
        CacheViewerWindow* viewer = nullptr;
        QTRY_VERIFY((viewer = w->findChild<CacheViewerWindow*>()) != nullptr && viewer->isVisible());
        QPointer<CacheViewerWindow> p(viewer);
        viewer->close();
        QTRY_VERIFY(p.isNull());

        w->m_clearBrowserCacheAction->trigger();
        QTRY_VERIFY(prompter.texts().contains(QStringLiteral("IE缓存清空完毕！")));
    }
};

DH_GUI_TEST_MAIN(SearchCommandsTest)
#include "search_commands_test.moc"
