// Logins on the demo site's pages through the headless browser, and what
// they unlock: a protected document downloaded through the transfer layer,
// by hand and by the automatic login after a web-page result.
#include "FakeDownloadHost.h"
#include "app/AppGlobals.h"
#include "app/Timings.h"
#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/MethodOneTransfer.h"
#include "download/SiteLogin.h"
#include "platform/headless/HeadlessBrowser.h"
#include "net/CurlTransferEngine.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QNetworkCookieJar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace dh;
using namespace std::chrono_literals;

namespace {

class SiteLoginDemoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = timings();
        timings().loginWait = 5000ms;
        timings().loginPause = 20ms;
        timings().tick = 50ms;
        timings().transferPoll = 20ms;
        ASSERT_TRUE(service.start());
        engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(engine.get());
        browser = std::make_unique<HeadlessBrowser>();
        shareTransferCookies(*browser->networkAccessManager());
        login = std::make_unique<SiteLogin>(*browser, values);
        values.user = QStringLiteral("alice");
        values.pass = QStringLiteral("secret");
    }
    void TearDown() override
    {
        login.reset();
        browser.reset();
        QTest::qWait(20);
        setTransferEngine(nullptr);
        engine.reset();
        service.stop();
        timings() = saved;
    }
    QString url(const QString& path) const { return service.baseUrl() + path; }
    bool hasLoginCookie() const
    {
        for (const QNetworkCookie& c : engine->cookieJar()->cookiesForUrl(QUrl(url("/doc/protected/x.pdf"))))
            if (c.name() == "DH_LOGIN")
                return true;
        return false;
    }

    Timings saved;
    demo::DemoService service;
    std::unique_ptr<CurlTransferEngine> engine;
    std::unique_ptr<HeadlessBrowser> browser;
    SiteLoginValues values;
    std::unique_ptr<SiteLogin> login;
};

} // namespace

TEST_F(SiteLoginDemoTest, EachLoginPageUnlocksTheProtectedDocumentOrNot)
{
    struct Case {
        const char* page;
        bool ip;
        bool unlocks;
        const char* shownAfter;  // an element id on the page the browser shows afterwards
    };
    const std::vector<Case> cases = {
        {"/login", false, true, "login-ok"},
        {"/login", true, true, "login-ok"},
        {"/login/ip", true, true, "login-ok"},
        {"/login/submit-first", false, false, "login-submit"},
        {"/login/email", false, false, "login-submit"},
        {"/login/submit-first", true, false, "login-submit"},
    };
    const QByteArray pdf = demo::makeDocument(QStringLiteral("pdf"), QStringLiteral("paper"));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.page) + (c.ip ? " ip" : " account"));
        // Logged out again for every case.
        QCoro::waitFor(navigateAndWait(*browser, url("/logout"), 5000ms));
        ASSERT_FALSE(hasLoginCookie());
        const QByteArray before = QCoro::waitFor(engine->openUrl(url("/doc/protected/paper.pdf")));
        ASSERT_TRUE(before.contains("<form")) << "the site answers with its login page first";

        values.address = url(c.page);
        values.ip = c.ip;
        QCoro::waitFor(login->run(false));
        EXPECT_TRUE(values.testEnabled);
        const DocumentPtr shown = QCoro::waitFor(browser->document());
        EXPECT_FALSE(shown->getElementById(QString::fromLatin1(c.shownAfter)).isNull()) << shown->URL().toStdString();
        EXPECT_EQ(hasLoginCookie(), c.unlocks);

        const QByteArray after = QCoro::waitFor(engine->openUrl(url("/doc/protected/paper.pdf")));
        if (c.unlocks)
            EXPECT_EQ(after, pdf);
        else
            EXPECT_TRUE(after.contains("<form"));
    }
}

namespace {
// The window's end-of-transfer hook, as the login panel wires it.
class LoginHost : public test::FakeHost {
public:
    DownloadListModel* list = nullptr;
    SiteLogin* login = nullptr;
    void transferEnded(int row) override
    {
        FakeHost::transferEnded(row);
        QCoro::Task<> t = login->afterTransfer(list->item(row).fileType);
        Q_UNUSED(t);
    }
};
} // namespace

TEST_F(SiteLoginDemoTest, AutomaticLoginAfterAWebPageLetsTheNextTryFetchTheDocument)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int savedLimit = globals().maxFileSizeMB;
    globals().maxFileSizeMB = 10;
    for (int method : {1, 2}) {
        SCOPED_TRACE(method);
        QCoro::waitFor(navigateAndWait(*browser, url("/logout"), 5000ms));
        DownloadListModel list;
        DownloadWindowState state;
        state.downloadMethod = method;
        LoginHost host;
        host.list = &list;
        host.login = login.get();
        host.policy = SameNamePolicy::Overwrite;
        values.address = url("/login");
        values.ip = false;
        values.autoOn = true;
        auto scheduler = std::make_unique<DownloadScheduler>(list, state, host);
        const QString name = QStringLiteral("paper%1").arg(method);
        list.addItem(url("/doc/protected/" + name + ".pdf"), name, "pdf", dir.path() + "/", "");

        scheduler->startDownloading();
        // First try: the login page instead of the file, recognised as a web page.
        QTRY_VERIFY_WITH_TIMEOUT(list.item(0).state == DownloadState::Done || list.item(0).state == DownloadState::Failed, 10000);
        EXPECT_EQ(list.item(0).fileType, QStringLiteral("htm"));
        ASSERT_EQ(host.ended.size(), 1u);
        // ... which started the login; once it has ended the site knows us.
        QTRY_VERIFY_WITH_TIMEOUT(!login->running(), 10000);
        EXPECT_TRUE(hasLoginCookie());
        scheduler->stopDownloading();

        // Second try of the same row brings the document itself.
        DownloadItem again = list.item(0);
        again.state = DownloadState::Waiting;
        again.fileType = QStringLiteral("pdf");
        list.setItem(0, again);
        scheduler->startDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(list.item(0).state == DownloadState::Done, 10000);
        EXPECT_EQ(list.item(0).fileType, QStringLiteral("pdf"));
        QFile f(dir.filePath(name + ".pdf"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), demo::makeDocument(QStringLiteral("pdf"), name));
        scheduler->stopDownloading();
        QTRY_VERIFY(!login->running());
        scheduler.reset();
    }
    globals().maxFileSizeMB = savedLimit;
}

TEST_F(SiteLoginDemoTest, MethodOneStartsTheNextRowOnlyAfterTheAutomaticLoginReturned)
{
    // A pause long enough for several scheduler ticks to pass during the login.
    timings().loginPause = 400ms;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int savedLimit = globals().maxFileSizeMB;
    globals().maxFileSizeMB = 10;
    QCoro::waitFor(navigateAndWait(*browser, url("/logout"), 5000ms));
    ASSERT_FALSE(hasLoginCookie());

    DownloadListModel list;
    DownloadWindowState state;
    state.downloadMethod = 1;
    test::FakeHost host;
    host.policy = SameNamePolicy::Overwrite;
    values.address = url("/login");
    values.ip = false;
    values.autoOn = true;
    auto scheduler = std::make_unique<DownloadScheduler>(list, state, host);
    // As the login panel hooks the automatic login into method one.
    scheduler->methodOne().setTransferEndHook(
        [&list, this](int row) { return login->afterTransfer(list.item(row).fileType); });

    // What happened, in order; a login records whether method one was still busy.
    std::vector<std::string> events;
    QObject scope;  // the login outlives this test body: its connections do not
    QObject::connect(scheduler.get(), &DownloadScheduler::rowStarted,
                     [&](int row) { events.push_back("start " + std::to_string(row)); });
    QObject::connect(&scheduler->methodOne(), &MethodOneTransfer::transferEnded,
                     [&](int row, bool) { events.push_back("end " + std::to_string(row)); });
    QObject::connect(login.get(), &SiteLogin::loginStarted, &scope,
                     [&] { events.push_back(state.transferBusy() ? "login busy" : "login free"); });
    QObject::connect(login.get(), &SiteLogin::loginFinished, &scope, [&] {
        events.push_back("login done");
        // Still held: the next row waits for the login to have returned.
        events.push_back(state.transferBusy() ? "held" : "released");
    });

    list.addItem(url("/doc/protected/first.pdf"), "first", "pdf", dir.path() + "/", "");
    list.addItem(url("/doc/protected/second.pdf"), "second", "pdf", dir.path() + "/", "");
    scheduler->startDownloading();
    QTRY_VERIFY_WITH_TIMEOUT(list.item(1).state == DownloadState::Done || list.item(1).state == DownloadState::Failed,
                             15000);
    const std::vector<std::string> expected = {"start 0", "login busy", "login done", "held",
                                               "end 0",   "start 1",    "end 1"};
    EXPECT_EQ(events, expected);
    // The first row met the login page; the second, started after the login,
    // brings the document itself.
    EXPECT_EQ(list.item(0).fileType, QStringLiteral("htm"));
    EXPECT_EQ(list.item(1).state, DownloadState::Done);
    EXPECT_EQ(list.item(1).fileType, QStringLiteral("pdf"));
    QFile second(dir.filePath("second.pdf"));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    EXPECT_EQ(second.readAll(), demo::makeDocument(QStringLiteral("pdf"), QStringLiteral("second")));

    // The retried first row uses the same login: the document, no second login.
    events.clear();
    DownloadItem again = list.item(0);
    again.state = DownloadState::Waiting;
    again.fileType = QStringLiteral("pdf");
    list.setItem(0, again);
    QTRY_VERIFY_WITH_TIMEOUT(list.item(0).state == DownloadState::Done, 10000);
    EXPECT_EQ(list.item(0).fileType, QStringLiteral("pdf"));
    QFile first(dir.filePath("first.pdf"));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), demo::makeDocument(QStringLiteral("pdf"), QStringLiteral("first")));
    QTRY_VERIFY(!state.transferBusy());
    const std::vector<std::string> retried = {"start 0", "end 0"};
    EXPECT_EQ(events, retried);

    scheduler->stopDownloading();
    scheduler.reset();
    globals().maxFileSizeMB = savedLimit;
}

TEST_F(SiteLoginDemoTest, MethodTwoStartsNoRowWhileTheAutomaticLoginRuns)
{
    // A pause long enough for several refills to pass during the login.
    timings().loginPause = 400ms;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const int savedLimit = globals().maxFileSizeMB;
    globals().maxFileSizeMB = 10;
    struct Case {
        const char* name;
        std::chrono::milliseconds holdLimit;
        bool heldThroughTheLogin;
    };
    const std::vector<Case> cases = {
        {"held until the login returns", 30000ms, true},
        {"a login longer than the limit no longer holds", 50ms, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        timings().loginHold = c.holdLimit;
        QCoro::waitFor(navigateAndWait(*browser, url("/logout"), 5000ms));
        ASSERT_FALSE(hasLoginCookie());
        DownloadListModel list;
        DownloadWindowState state;
        state.downloadMethod = 2;
        test::FakeHost host;
        host.slotNumber = 3;
        host.policy = SameNamePolicy::Overwrite;
        values.address = url("/login");
        values.ip = false;
        values.autoOn = true;
        auto scheduler = std::make_unique<DownloadScheduler>(list, state, host);
        // As the login panel hooks the automatic login in.
        scheduler->setTransferEndHook([&list, this](int row) { return login->afterTransfer(list.item(row).fileType); });
        int logins = 0;
        int startedDuringLogin = 0;
        QObject scope;  // the login outlives this case: its connections do not
        QObject::connect(login.get(), &SiteLogin::loginStarted, &scope, [&] { ++logins; });
        QObject::connect(scheduler.get(), &DownloadScheduler::rowStarted, &scope, [&](int) {
            if (login->running())
                ++startedDuringLogin;
        });
        const int rows = 6;
        for (int i = 0; i < rows; ++i) {
            const QString name = QStringLiteral("doc%1").arg(i);
            list.addItem(url("/doc/protected/" + name + ".pdf"), name, "pdf", dir.path() + "/", "");
        }
        scheduler->startDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int i = 0; i < rows; ++i)
                    if (list.item(i).state == DownloadState::Waiting || list.item(i).state == DownloadState::Downloading)
                        return false;
                return true;
            }(),
            20000);
        EXPECT_GE(logins, 1);
        if (c.heldThroughTheLogin) {
            EXPECT_EQ(startedDuringLogin, 0);
            // The first three met the login page; the rest, started after
            // the login, bring the documents themselves.
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(list.item(i).fileType, QStringLiteral("htm")) << i;
            for (int i = 3; i < rows; ++i) {
                EXPECT_EQ(list.item(i).state, DownloadState::Done) << i;
                EXPECT_EQ(list.item(i).fileType, QStringLiteral("pdf")) << i;
                QFile f(dir.filePath(list.item(i).name + ".pdf"));
                ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << i;
                EXPECT_EQ(f.readAll(), demo::makeDocument(QStringLiteral("pdf"), list.item(i).name));
            }
        } else {
            EXPECT_GT(startedDuringLogin, 0);
        }
        scheduler->stopDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(!login->running(), 10000);
        scheduler.reset();
    }
    globals().maxFileSizeMB = savedLimit;
}
