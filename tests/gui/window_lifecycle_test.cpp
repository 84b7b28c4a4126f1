#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/WindowRegistry.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "download/DownloadListModel.h"
#include "gui/DesktopIntegration.h"
#include "gui/Windows.h"
#include "gui/StartWindow.h"
#include "gui/DownloadWindow.h"
#include "gui/SearchWindow.h"
#include "ports/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>

using namespace dh;

class WindowLifecycleTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    StartWindow* cover = nullptr;
    int endCalls = 0;
    int clearCalls = 0;

    void closeAndWait(QWidget* w)
    {
        QPointer<QWidget> p(w);
        w->close();
        QTRY_VERIFY(p.isNull());
    }

private Q_SLOTS:
    void init()
    {
        Prompter::setInstance(&prompter);
        prompter.clear();
        prompter.questionAnswers.clear();
        StartWindow::endProcessHook() = [this] { ++endCalls; };
        StartWindow::clearCacheHook() = [this] { ++clearCalls; };
        cover = new StartWindow();
        cover->setAttribute(Qt::WA_DeleteOnClose);
        cover->load();
        QTRY_VERIFY(cover->startupDone());
    }

    void cleanup()
    {
        for (QWidget* w : {static_cast<QWidget*>(windows::searchIfLoaded()),
                           static_cast<QWidget*>(windows::downloadIfLoaded())}) {
            if (w) {
                prompter.questionAnswers.assign(1, true);
                closeAndWait(w);
            }
        }
        if (StartWindow::instance())
            delete StartWindow::instance();
        Prompter::setInstance(nullptr);
    }

    void startupFillsTextsAndProcessValues()
    {
        QCOMPARE(cover->windowTitle(), QStringLiteral("DocHarvest"));
        QVERIFY(cover->m_versionLabel->text().startsWith(QStringLiteral("版本:")));
        QCOMPARE(cover->m_searchButton->text(), QStringLiteral("搜索文档下载"));
        QCOMPARE(cover->m_quitButton->text(), QStringLiteral("退出软件"));
        QCOMPARE(cover->m_noticeLabel->text(),
                 QStringLiteral("(该软件仅用于爱学习的人们辅助少量下载；请不要恶意下载和大量下载！)"));
        QVERIFY(!cover->m_latestVersionLabel->isVisible());
        QVERIFY(globals().osDescription.endsWith(QStringLiteral("位]")));
        QCOMPARE(globals().maxFileSizeMB, 10);
    }

    void searchButtonHidesCoverAndShowsTheSearchWindow()
    {
        QTest::mouseClick(cover->m_searchButton, Qt::LeftButton);
        QVERIFY(!cover->isVisible());
        SearchWindow* s = windows::searchIfLoaded();
        QVERIFY(s);
        QVERIFY(s->isVisible());
        QVERIFY(isWindowLoaded(QStringLiteral("fwebsearch")));
        QCOMPARE(s->windowTitle(), QStringLiteral("Quorvex页面数据检索分析-DocHarvest"));
        // Its 1200×800 opening size on a smaller screen: whole on the screen, centred.
        const QRect screen = s->screen()->availableGeometry();
        QVERIFY2(screen.contains(s->frameGeometry()), qPrintable(QStringLiteral("%1x%2 at %3,%4 on %5x%6")
            .arg(s->frameGeometry().width()).arg(s->frameGeometry().height()).arg(s->frameGeometry().x()).arg(s->frameGeometry().y()).arg(screen.width()).arg(screen.height())));
        QVERIFY(qAbs(s->frameGeometry().center().x() - screen.center().x()) <= 1);
        QCOMPARE(windows::search(), s);  // at most once
        closeAndWait(s);
        QVERIFY(cover->isVisible());
        QVERIFY(!isWindowLoaded(QStringLiteral("fWebSearch")));
    }

    void closingSearchWhileDownloadIsOpenKeepsCoverHidden()
    {
        QTest::mouseClick(cover->m_searchButton, Qt::LeftButton);
        DownloadWindow* d = windows::download();
        d->show();
        closeAndWait(windows::searchIfLoaded());
        QVERIFY(!cover->isVisible());
        closeAndWait(d);  // empty list, scheduler off: no question
        QVERIFY(prompter.shown.empty());
        QVERIFY(cover->isVisible());
    }

    void menusMoveBetweenTheMainWindows()
    {
        QTest::mouseClick(cover->m_searchButton, Qt::LeftButton);
        SearchWindow* s = windows::searchIfLoaded();
        s->m_downloadWindowAction->trigger();
        DownloadWindow* d = windows::downloadIfLoaded();
        QVERIFY(d && d->isVisible());
        QPointer<SearchWindow> gone(s);
        s->m_closeWindowAction->trigger();
        QTRY_VERIFY(gone.isNull());
        QVERIFY(!cover->isVisible());
        d->m_searchWindowAction->trigger();
        QVERIFY(windows::searchIfLoaded() && windows::searchIfLoaded()->isVisible());
    }

    void searchWindowReloadsItsKeywordsAndDelay()
    {
        QTest::mouseClick(cover->m_searchButton, Qt::LeftButton);
        SearchWindow* s = windows::searchIfLoaded();
        s->m_keywordsEdit->setPlainText(QStringLiteral("教程\n手册"));
        s->m_delayCombo->setCurrentIndex(7);
        closeAndWait(s);
        QCOMPARE(SettingsStore::instance().get(keys::searchKeywords), QStringLiteral("教程\r\n手册"));
        QCOMPARE(SettingsStore::instance().get(keys::searchDelayIndex), QStringLiteral("7"));
        QTest::mouseClick(cover->m_searchButton, Qt::LeftButton);
        SearchWindow* again = windows::searchIfLoaded();
        QCOMPARE(again->m_keywordsEdit->toPlainText(), QStringLiteral("教程\n手册"));
        QCOMPARE(again->m_delayCombo->currentText(), QStringLiteral("7"));
    }

    void downloadWindowAsksBeforeClosingAnUnfinishedList()
    {
        DownloadWindow* d = windows::download();
        d->show();
        d->list()->addItem("http://h/a.pdf", "a", "pdf", "/tmp/", "");
        prompter.questionAnswers.push_back(false);
        d->close();
        QCoreApplication::processEvents();
        QVERIFY(windows::downloadIfLoaded());
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？\n有 1 个下载没有完成："
                                                              "它们会保存下来，下次打开本窗口时可以恢复。")});
        prompter.questionAnswers.push_back(true);
        closeAndWait(d);
        QVERIFY(cover->isVisible());
    }

    void downloadWindowShowsCountersAndBands()
    {
        DownloadWindow* d = windows::download();
        d->show();
        QCOMPARE(d->m_statusPanels[4]->text(), QStringLiteral("总数:0 正在下载:0 等待:0 已完成:0 失败:0"));
        d->list()->addItem("http://h/a.pdf", "a", "pdf", "/tmp/", "");
        d->list()->setState(0, DownloadState::Done);
        d->refreshCounters();
        QCOMPARE(d->m_statusPanels[4]->text(), QStringLiteral("总数:1 正在下载:0 等待:0 已完成:1 失败:0"));
        QCOMPARE(d->m_downloadsView->palette().color(QPalette::Base), kBandGreen);
        QCOMPARE(d->m_downloadsView->palette().color(QPalette::AlternateBase), QColor(Qt::white));
        QVERIFY(d->m_downloadsView->alternatingRowColors());
        QCOMPARE(d->m_methodLabel->text(), QStringLiteral("下载方式：2"));
        QCOMPARE(d->m_transferCountCombo->currentText(), QStringLiteral("3"));
    }

    void geometryRoundTripAndClamps()
    {
        QTemporaryDir dir;
        SettingsStore st(dir.filePath("g.ini"));
        QWidget w;
        restoreWindowGeometry(&w, "fFileDownload", st);  // first run: maximised
        QVERIFY(w.windowState() & Qt::WindowMaximized);

        st.save("fFileDownload", "分辨率", screenSizeText(&w));
        st.save("fFileDownload", "上", "-500");
        st.save("fFileDownload", "左", "1500");
        st.save("fFileDownload", "宽", "2000");
        st.save("fFileDownload", "高", "abc");
        QWidget w2;
        restoreWindowGeometry(&w2, "fFileDownload", st);
        QVERIFY(!(w2.windowState() & Qt::WindowMaximized));
        QCOMPARE(w2.geometry().top(), 0);
        QCOMPARE(w2.geometry().left(), 100);
        QCOMPARE(w2.geometry().width(), 4000 / 15);
        QCOMPARE(w2.geometry().height(), 10000 / 15);

        saveWindowGeometry(&w2, "fFileDownload", st);
        QCOMPARE(st.get("fFileDownload", "宽", ""), QString::number(w2.geometry().width() * 15));
        w2.setWindowState(Qt::WindowMaximized);
        saveWindowGeometry(&w2, "fFileDownload", st);
        QCOMPARE(st.get("fFileDownload", "分辨率", ""), QStringLiteral("0*0"));
    }

    void sameNamePolicyAndToolsCommands()
    {
        DownloadWindow* d = windows::download();
        d->show();
        QVERIFY(d->m_renameRadio->isChecked());  // nothing stored: rename
        QVERIFY(!d->m_soundCheck->isChecked());
        d->m_skipExistingRadio->setChecked(true);
        closeAndWait(d);
        QCOMPARE(SettingsStore::instance().get(keys::sameNamePolicy), QStringLiteral("跳过"));
        d = windows::download();
        QVERIFY(d->m_skipExistingRadio->isChecked());

        // Guard A refuses the type correction while the scheduler is on.
        d->m_schedulerTimer->start();
        d->m_correctFileTypesAction->trigger();
        QCOMPARE(prompter.texts().value(0), QStringLiteral("停止下载以后，才能执行此操作！"));
        d->m_schedulerTimer->stop();
        prompter.clear();
        d->m_correctFileTypesAction->trigger();
        QCOMPARE(prompter.texts().value(0), QStringLiteral("纠正文件类型：0个."));

        d->list()->addItem("http://h/never.pdf", "never", "pdf", QDir::tempPath() + "/dh-none/", "");
        d->m_checkFilesExistAction->trigger();
        QCOMPARE(cellText(d->list()->item(0), DownloadListModel::ColProgress), QStringLiteral("不存在"));
        d->list()->setState(0, DownloadState::Failed);
        closeAndWait(d);
        SettingsStore::instance().save(keys::sameNamePolicy, QStringLiteral("重命名"));
    }

    // The exit sequence destroys the cover; init makes the next one.
    void exitClearsTheCacheAsTheOptionSaysAndTellsOnce_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("clears");
        QTest::addColumn<int>("messages");
        QTest::newRow("on, first exit") << "1" << "0" << 1 << 1;
        QTest::newRow("on, told before") << "1" << "1" << 1 << 0;
        QTest::newRow("off") << "0" << "0" << 0 << 0;
    }
    void exitClearsTheCacheAsTheOptionSaysAndTellsOnce()
    {
        QFETCH(QString, option);
        QFETCH(QString, told);
        QFETCH(int, clears);
        QFETCH(int, messages);
        SettingsStore::instance().save(keys::clearCacheOnExit, option);
        SettingsStore::instance().save(keys::clearCacheOnExitTold, told);
        clearCalls = endCalls = 0;
        QTest::mouseClick(cover->m_quitButton, Qt::LeftButton);
        QCOMPARE(clearCalls, clears);
        QCOMPARE(endCalls, 1);
        QCOMPARE(int(prompter.shown.size()), messages);
        if (messages)
            QCOMPARE(prompter.shown.front().text, StartWindow::clearCacheOnExitNotice());
        QCOMPARE(SettingsStore::instance().get(keys::clearCacheOnExitTold), messages || told == "1" ? "1" : "0");
        SettingsStore::instance().save(keys::clearCacheOnExit, QStringLiteral("1"));
        cover = nullptr;
    }
};

DH_GUI_TEST_MAIN(WindowLifecycleTest)
#include "window_lifecycle_test.moc"
