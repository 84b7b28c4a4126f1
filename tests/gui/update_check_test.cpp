// The update check as the cover runs it, against the demo service on a free
// loopback port (and against servers that are down or never answer): a newer
// version appears in "最新版本：", anything else leaves the cover as it was,
// and nothing ever holds the cover up.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "gui/UpdateCheckWiring.h"
#include "gui/StartWindow.h"
#include "net/CurlTransferEngine.h"
#include "net/XmlHttp.h"
#include "ports/Prompter.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

using namespace dh;
using namespace std::chrono_literals;

class UpdateCheckTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    std::unique_ptr<demo::DemoService> service;
    std::unique_ptr<CurlTransferEngine> engine;  // fresh per test: no kept-alive connections hold a stop
    std::unique_ptr<QTemporaryDir> dir;
    QPointer<StartWindow> cover;
    Timings saved;

    void serve(const QString& versionText)
    {
        std::lock_guard lock(service->state().mutex);
        service->state().options.versionText = versionText;
    }

    // Starts the cover the way the program does; its timer starts the check.
    void startCover(const QString& updateBase)
    {
        globals().updateBaseAddress = updateBase;
        cover = new StartWindow();
        cover->setAttribute(Qt::WA_DeleteOnClose);
        cover->load();
        QVERIFY(cover->isVisible());  // shown before the check has even started
    }

    XmlHttpRequest* request() const
    {
        return cover ? cover->findChild<XmlHttpRequest*>(QStringLiteral("updateCheckRequest")) : nullptr;
    }

    // Waits until the cover's request has finished, whatever its outcome.
    void waitForTheAnswer()
    {
        QTRY_VERIFY_WITH_TIMEOUT(request() && request()->downOk(), 10000);
        QTest::qWait(20);  // the check's own continuation runs on a later turn
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        saved = timings();
        timings().coverUpdateDelay = 10ms;
        StartWindow::endProcessHook() = [] {};
        StartWindow::clearCacheHook() = [] {};
        installUpdateCheck();
    }

    void cleanupTestCase()
    {
        StartWindow::updateCheckHook() = {};
        timings() = saved;
        Prompter::setInstance(nullptr);
    }

    void init()
    {
        prompter.clear();
        dir = std::make_unique<QTemporaryDir>();
        SettingsStore::setInstance(std::make_unique<SettingsStore>(dir->filePath(QStringLiteral("DocHarvest.ini"))));
        engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(engine.get());
        service = std::make_unique<demo::DemoService>();
        QVERIFY(service->start());
    }

    void cleanup()
    {
        delete cover.data();
        QTest::qWait(10);  // the abandoned check winds down
        setTransferEngine(nullptr);
        engine.reset();
        service.reset();
        SettingsStore::setInstance(nullptr);
    }

    void newerVersionIsShown()
    {
        serve(QStringLiteral(" 9.9.9 \n"));
        startCover(service->baseUrl());
        QVERIFY(cover->m_latestVersionLabel->isHidden());
        const int before = cover->height();
        QTRY_COMPARE(cover->m_latestVersionLabel->text(), QStringLiteral("最新版本：V9.9.9"));
        QVERIFY(cover->m_latestVersionLabel->isVisible());
        // The cover grew by the label instead of squeezing the other rows.
        QVERIFY(cover->height() > before);
        QVERIFY(cover->m_noticeLabel->geometry().bottom() < cover->m_latestVersionLabel->geometry().top());
        QVERIFY(prompter.shown.empty());
    }

    void sameOlderOrGarbageIsNotShown_data()
    {
        QTest::addColumn<QString>("served");
        QTest::newRow("same") << programVersion();
        QTest::newRow("older") << QStringLiteral("0.9.999");
        QTest::newRow("html") << QStringLiteral("<html><body>maintenance</body></html>");
        QTest::newRow("binary") << QString::fromLatin1("\x01\x02\xff\xfe 1.2.3");
        QTest::newRow("empty") << QString();
    }

    void sameOlderOrGarbageIsNotShown()
    {
        QFETCH(QString, served);
        serve(served);
        startCover(service->baseUrl());
        waitForTheAnswer();
        QCOMPARE(request()->status(), 200);
        QVERIFY(cover->m_latestVersionLabel->isHidden());
        QCOMPARE(cover->m_latestVersionLabel->text(), QStringLiteral("最新版本："));
        QVERIFY(prompter.shown.empty());
    }

    void notFoundAsksForANetwork()
    {
        startCover(service->baseUrl() + QStringLiteral("/nothing-here/"));
        waitForTheAnswer();
        QCOMPARE(request()->status(), 404);
        QTRY_COMPARE(prompter.texts(), QStringList{QStringLiteral("请保持网络畅通！")});
        QCOMPARE(prompter.shown[0].icon, MessageIcon::Error);
        QVERIFY(cover->m_latestVersionLabel->isHidden());
    }

    void serverDownIsSilent()
    {
        const QString base = service->baseUrl();
        service.reset();  // nothing listens there any more
        startCover(base);
        waitForTheAnswer();
        QVERIFY(request()->status() > 600);
        QVERIFY(prompter.shown.empty());
        QVERIFY(cover->m_latestVersionLabel->isHidden());
        QVERIFY(cover->isVisible());
    }

    void noAddressIsSilent()
    {
        startCover(QString());
        QTRY_VERIFY(cover->startupDone());
        QTest::qWait(100);
        QVERIFY(!request());  // no update server configured: the check is not even set up
        QVERIFY(prompter.shown.empty());
        QVERIFY(cover->m_latestVersionLabel->isHidden());
    }

    void aServerThatNeverAnswersHoldsNothingUp()
    {
        QTcpServer mute;  // accepts, never answers
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        startCover(QStringLiteral("http://127.0.0.1:%1").arg(mute.serverPort()));
        QTRY_VERIFY(request() && request()->isWatching());
        QVERIFY(cover->startupDone());
        QVERIFY(cover->m_searchButton->isEnabled() && cover->m_quitButton->isEnabled());
        // The loop runs on: a timer set now fires while the request waits.
        bool ticked = false;
        QTimer::singleShot(20, [&] { ticked = true; });
        QTRY_VERIFY(ticked);
        QVERIFY(request()->isWatching());
        // Closing the program while the check waits ends cleanly (the note
        // about clearing the cache at exit was given before).
        SettingsStore::instance().save(keys::clearCacheOnExitTold, QStringLiteral("1"));
        QPointer<StartWindow> c = cover;
        cover->close();
        QTRY_VERIFY(c.isNull());
        QTest::qWait(50);
        QVERIFY(prompter.shown.empty());
    }

    void aHiddenCoverGetsTheLabelForLater()
    {
        serve(QStringLiteral("10.0.0"));
        startCover(service->baseUrl());
        cover->hide();  // the user went on to the search window
        QTRY_COMPARE(cover->m_latestVersionLabel->text(), QStringLiteral("最新版本：V10.0.0"));
        QVERIFY(!cover->m_latestVersionLabel->isHidden());
        cover->show();
        QVERIFY(cover->m_latestVersionLabel->isVisible());
    }
};

DH_GUI_TEST_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
