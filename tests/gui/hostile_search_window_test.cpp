// Hostile pages through the search window and its WebEngine browser: the
// paging rows of the hostile-page table end within their bound with the
// reason in the status bar. Also the window settings that a hostile INI can
// hold: a download window far off the screen, a file given as save folder.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "html/Limits.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "gui/DesktopIntegration.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "gui/SaveFolderDialog.h"
#include "gui/SearchWindow.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/SearchEngine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeView>

using namespace dh;

class HostileSearchWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<demo::DemoService> svc;
    ScriptedPrompter prompter;
    Timings saved;
    SearchWindow* w = nullptr;

    void closeWindows()
    {
        if (auto* s = windows::searchIfLoaded()) {
            prompter.questionAnswers.assign(1, true);  // collected links may be left
            QPointer<QWidget> p(s);
            s->close();
            QTRY_VERIFY(p.isNull());
        }
        if (auto* d = windows::downloadIfLoaded()) {
            prompter.questionAnswers.assign(1, true);
            QPointer<QWidget> p(d);
            d->close();
            QTRY_VERIFY(p.isNull());
        }
        w = nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        demo::DemoOptions o;
        o.rateLimitPages = -1;
        svc = std::make_unique<demo::DemoService>(o);
        QVERIFY(svc->start());
        saved = timings();
        auto& t = timings();
        t.secondUnit = std::chrono::milliseconds(50);
        t.pageLoadWait = std::chrono::milliseconds(60000);  // a 3 MB page on a loaded machine
        t.nextPageWait = std::chrono::milliseconds(2000);
        Prompter::setInstance(&prompter);
        globals().searchBaseAddress = svc->baseUrl();
        SettingsStore::instance().save(keys::promptOnExtract, QStringLiteral("0"));
        SettingsStore::instance().save(keys::searchPagesPerQuery, QStringLiteral("4"));
    }

    void cleanupTestCase()
    {
        closeWindows();
        timings() = saved;
        Prompter::setInstance(nullptr);
        svc->stop();
    }

    void paging_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("links");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("status");
        QTest::newRow("next link to itself") << "/hostile/self" << 2 << int(PagingEnd::PageRevisited) << "已经打开过";
        QTest::newRow("two pages pointing at each other")
            << "/hostile/pingpong" << 4 << int(PagingEnd::PageRevisited) << "已经打开过";
        QTest::newRow("page number growing for ever") << "/hostile/grow" << 8 << int(PagingEnd::PageCap) << "最大页数 4";
        QTest::newRow("empty next href") << "/hostile/emptyhref" << 2 << int(PagingEnd::PageRevisited) << "已经打开过";
        QTest::newRow("next page never answers")
            << "/hostile/stall/30" << 2 << int(PagingEnd::NextPageTimedOut) << "没有打开";
        QTest::newRow("next page outside the web") << "/hostile/schemes" << 1 << -1 << "";
    }

    void paging()
    {
        QFETCH(QString, base);
        QFETCH(int, links);
        QFETCH(int, end);
        QFETCH(QString, status);
        w = windows::search();
        w->resize(1100, 800);
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(), 30000);
        w->m_delayCombo->setCurrentText(QStringLiteral("0"));
        w->m_docCheck->setChecked(false);
        w->m_pptCheck->setChecked(false);
        w->m_xlsCheck->setChecked(false);
        w->engine()->searchBase = svc->baseUrl() + base;
        std::vector<int> ends;
        QString shown;  // the status bar when the paging ended (the home page loads after it)
        connect(w->engine(), &SearchEngine::pagingEnded, this, [&](PagingEnd e, const QString&) {
            ends.push_back(int(e));
            shown = w->m_browserStatusPanel->text();
        });
        QStringList addresses;
        connect(w->m_browser, &Browser::documentComplete, this, [&](bool top, const QString& u) {
            if (top)
                addresses << u;
        });

        w->m_keywordsEdit->setPlainText(QStringLiteral("教程"));
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->m_batchSearchButton->text() == QStringLiteral("开始批量搜索提取") && w->m_batchSearchButton->isEnabled(), 60000);
        QVERIFY2(t.elapsed() < 45000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(w->m_linksView->model()->rowCount(), links);
        if (end >= 0) {
            QCOMPARE(ends, std::vector<int>{end});
            QVERIFY2(shown.contains(status), qPrintable(shown));
        } else {
            QVERIFY(ends.empty());
        }
        for (const QString& u : addresses)
            QVERIFY2(u.startsWith(QLatin1String("http://")) || u.startsWith(QLatin1String("about:")), qPrintable(u));
        closeWindows();
    }

    // The snapshot handed to the extraction is capped like a headless page,
    // and navigation outside the web is refused at once.
    void webEngineCapsTheSnapshotAndRefusesNonWebPages()
    {
        const Limits savedLimits = limits();
        limits().maxPageBytes = 1024 * 1024;
        w = windows::search();
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(), 30000);
        w->m_delayCombo->setCurrentText(QStringLiteral("0"));
        w->m_docCheck->setChecked(false);
        w->m_pptCheck->setChecked(false);
        w->m_xlsCheck->setChecked(false);
        w->engine()->searchBase = svc->baseUrl() + QStringLiteral("/hostile/huge/3");
        QStringList failures;
        connect(w->engine(), &SearchEngine::queryFailed, this,
                [&](const QString&, const QString&, const QString&, const QString& why) { failures << why; });
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程"));
        QTest::mouseClick(w->m_batchSearchButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->m_batchSearchButton->text() == QStringLiteral("开始批量搜索提取") && w->m_batchSearchButton->isEnabled(), 60000);
        limits() = savedLimits;
        QCOMPARE(w->m_linksView->model()->rowCount(), 0);
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().contains(QStringLiteral("larger than 1 MB")), qPrintable(failures.first()));

        const QString shown = w->m_browser->locationUrl();
        QSignalSpy errors(w->m_browser, &Browser::navigateError);
        const quint64 before = w->m_browser->completedLoads();
        w->m_browser->navigate(QStringLiteral("file:///etc/passwd"));
        QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() > before && !w->m_browser->busy(), 10000);
        QVERIFY(!errors.isEmpty());
        QCOMPARE(w->m_browser->locationUrl(), shown);
        closeWindows();
    }

    // How a batch ended stays in the status bar, 已经完成 keeps failed queries
    // apart with their reasons, and closing with links not handed over asks.
    void batchSummary_data()
    {
        QTcpServer closed;  // a port nobody listens on once this is closed
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString down = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("rateLimit");
        QTest::addColumn<bool>("userStop");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("failedLog");
        QTest::newRow("service down") << down << -1 << false << "2 个查询：0 个完成，2 个失败（无法连接）" << "失败：\n教程(pdf) 无法连接（";
        QTest::newRow("service up") << QString() << -1 << false << "2 个查询：2 个完成" << "";
        QTest::newRow("verification page") << QString() << 0 << false << "遇到验证码页面，已停止" << "";
        QTest::newRow("stopped by the user") << QString() << -1 << true << "已停止（用户）" << "";
    }

    void batchSummary()
    {
        QFETCH(QString, base);
        QFETCH(int, rateLimit);
        QFETCH(bool, userStop);
        QFETCH(QString, summary);
        QFETCH(QString, failedLog);
        {
            std::lock_guard lock(svc->state().mutex);
            svc->state().options.rateLimitPages = rateLimit;
            svc->state().options.captchaTimeoutSeconds = rateLimit < 0 ? 0 : 30;
        }
        w = windows::search();
        w->show();
        QTRY_VERIFY_WITH_TIMEOUT(w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(), 30000);
        w->m_delayCombo->setCurrentText(QStringLiteral("0"));
        for (QCheckBox* c : {w->m_docCheck, w->m_pptCheck, w->m_xlsCheck})
            c->setChecked(false);
        w->engine()->searchBase = base.isEmpty() ? svc->baseUrl() : base;
        QStringList progress;
        QObject row;  // ends these connections with the row, even when it fails
        connect(w->engine(), &SearchEngine::batchStatusChanged, &row, [&] { progress << w->m_mainStatusPanel->text(); });
        connect(w->engine(), &SearchEngine::queryStarted, &row, [&] { if (userStop) w->batchSearchClicked(); });
        w->m_keywordsEdit->setPlainText(QStringLiteral("教程\n手册"));
        w->batchSearchClicked();
        QTRY_VERIFY_WITH_TIMEOUT(!w->engine()->batchRunning(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(w->m_browser->busy(), false, 20000);  // the home page after the batch
        QCOMPARE(w->m_mainStatusPanel->text(), summary);
        QVERIFY(w->m_browserStatusPanel->text() != QStringLiteral("完成"));  // not beside a failure
        QVERIFY(w->m_statusBar->isVisible());
        const QString log = w->m_finishedSearchesEdit->toPlainText();
        QVERIFY2(failedLog.isEmpty() ? !log.contains(QStringLiteral("失败")) : log.contains(failedLog), qPrintable(log));
        if (summary.endsWith(QStringLiteral("完成"))) {  // each page as it is shown, then read
            QVERIFY2(progress.contains(QStringLiteral("查询 1/2 · 第 2 页 · 已收集 6 个链接"))
                         && progress.contains(QStringLiteral("查询 1/2 · 第 2 页 · 已收集 12 个链接"))
                         && progress.contains(QStringLiteral("查询 2/2 · 第 1 页 · 已收集 24 个链接")),
                     qPrintable(progress.join('|')));
        }
        // A handed-over row is not counted; answering no keeps the window.
        auto* links = w->engine()->links();
        if (links->size() > 0)
            links->setStatus(0, statusHandedOver());
        const int unsent = std::max(0, links->size() - 1);
        prompter.clear();
        prompter.questionAnswers.assign(1, false);
        w->close();
        QCOMPARE(prompter.texts(), unsent ? QStringList{QStringLiteral("还有 %1 个链接没有加入下载列表，要关闭吗？").arg(unsent)} : QStringList{});
        QCOMPARE(w->isVisible(), unsent > 0);
        closeWindows();
    }

    void downloadWindowStaysOnTheScreen()
    {
        auto& st = SettingsStore::instance();
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        st.save(keys::downloadResolution, screenSizeText());
        st.save(keys::downloadWidth, QStringLiteral("491505"));   // 32,767 pixels
        st.save(keys::downloadHeight, QStringLiteral("491505"));
        st.save(keys::downloadLeft, QStringLiteral("458760000"));
        st.save(keys::downloadTop, QStringLiteral("2147483647"));
        DownloadWindow* d = windows::download();
        d->show();
        QVERIFY(!d->isMaximized());
        // On the screen, and no larger than it (unless the window's own
        // layout cannot be made smaller).
        const QSize most = avail.size().expandedTo(d->minimumSizeHint());
        const QString got = QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                .arg(d->x()).arg(d->y()).arg(d->width()).arg(d->height())
                                .arg(avail.width()).arg(avail.height());
        QVERIFY2(avail.contains(d->geometry().topLeft()), qPrintable(got));
        QVERIFY2(d->width() <= most.width() && d->height() <= most.height(), qPrintable(got));
        closeWindows();
        // What is saved back on close is on the screen too.
        QVERIFY(st.getInt(keys::downloadWidth) / 15 <= most.width());
        QVERIFY(st.getInt(keys::downloadLeft) / 15 <= avail.right());
    }

    void saveFolderDialogRefusesAFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("not-a-folder"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        prompter.clear();
        auto task = SaveFolderDialog::ask(nullptr);
        SaveFolderDialog* dlg = nullptr;
        QTRY_VERIFY((dlg = [] {
                         for (QWidget* t : QApplication::topLevelWidgets())
                             if (auto* d = qobject_cast<SaveFolderDialog*>(t); d && d->isVisible())
                                 return d;
                         return static_cast<SaveFolderDialog*>(nullptr);
                     }()) != nullptr);
        const QString before = globals().saveFolder;
        dlg->m_folderCombo->setEditText(file);
        QTest::mouseClick(dlg->m_okButton, Qt::LeftButton);
        QCOMPARE(prompter.texts().size(), 1);
        QVERIFY2(prompter.texts().first().contains(QStringLiteral("不是文件夹")), qPrintable(prompter.texts().first()));
        QVERIFY(dlg->isVisible());
        QCOMPARE(globals().saveFolder, before);
        QVERIFY(QFileInfo(file).isFile());
        QTest::mouseClick(dlg->m_cancelButton, Qt::LeftButton);
        QCoro::waitFor(std::move(task));
    }
};

DH_GUI_TEST_MAIN(HostileSearchWindowTest)
#include "hostile_search_window_test.moc"
