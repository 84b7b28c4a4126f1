// The request control and the update check against real local servers: the
// demo service on a free loopback port, and a bare socket that never answers.
#include "app/Timings.h"
#include "integration/transfer/TransferFixture.h"
#include "demo/DemoService.h"
#include "net/CurlTransferEngine.h"
#include "net/UpdateCheck.h"
#include "net/XmlHttp.h"
#include "ports/Prompter.h"

#include <httplib.h>

#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

using Outcome = UpdateCheckResult::Outcome;

struct Ended {
    QStringList log;
    explicit Ended(XmlHttpRequest& c)
    {
        QObject::connect(&c, &XmlHttpRequest::dataArrived, [this] { log << QStringLiteral("arrived"); });
        QObject::connect(&c, &XmlHttpRequest::dataFailed, [this](const QString& t) { log << QStringLiteral("err:") + t; });
    }
};

// Sends and waits for the end (20 s at most).
bool sendAndWait(XmlHttpRequest& c, const QString& body = {})
{
    c.send(body);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &c, [&c] { c.abort(); });
    guard.start(20000);
    return QCoro::waitFor(waitForRequestEnd(&c)) && guard.isActive();
}

// The demo service, a scratch folder and a transfer engine, as the transfer tests use them.
class UpdateIntegration : public test::TransferFixture {
protected:
    void setVersionText(const QString& t)
    {
        std::lock_guard lock(m_service.state().mutex);
        m_service.state().options.versionText = t;
    }
    UpdateCheckResult check(const QString& running, const QString& base = {})
    {
        XmlHttpRequest http(nullptr, m_engine.get());
        const QString address = update::updateAddress(base.isEmpty() ? m_service.baseUrl() : base);
        return QCoro::waitFor(checkNewVersion(&http, address, running, &m_prompter));
    }

    ScriptedPrompter m_prompter;
};

TEST_F(UpdateIntegration, GetNewverWithHeadersAndSavedFile)
{
    setVersionText(QStringLiteral("3.1.4"));
    const QString target = m_dir.filePath(QStringLiteral("newver.txt"));
    XmlHttpRequest http(nullptr, m_engine.get());
    Ended ev(http);
    ASSERT_TRUE(http.open(QStringLiteral("get"), url(QStringLiteral("/DocHarvest/newver.txt")), target));
    ASSERT_TRUE(sendAndWait(http));
    EXPECT_EQ(ev.log, QStringList{"arrived"});
    EXPECT_TRUE(http.downOk());
    EXPECT_EQ(http.readyState(), 4);
    EXPECT_EQ(http.status(), 200);
    EXPECT_EQ(http.statusText(), QStringLiteral("OK"));
    EXPECT_EQ(http.responseText(), QStringLiteral("3.1.4"));
    EXPECT_TRUE(http.responseHeader(QStringLiteral("content-type")).startsWith(QStringLiteral("text/plain")));
    EXPECT_TRUE(http.allResponseHeaders().contains(QStringLiteral("Content-Length: 5\r\n")))
        << http.allResponseHeaders().toStdString();
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("3.1.4"));
}

TEST_F(UpdateIntegration, HttpStatusesAndFailures)
{
    // Nothing listens on a port that was just freed.
    quint16 deadPort = 0;
    {
        QTcpServer s;
        ASSERT_TRUE(s.listen(QHostAddress::LocalHost));
        deadPort = s.serverPort();
    }
    const struct {
        const char* name;
        QString address;
        QStringList events;
        int status;  // -1: any failure status above 600
    } cases[] = {
        {"404", url(QStringLiteral("/t/status/404")), {"err:没有发现文件?查询或URl"}, 404},
        {"500", url(QStringLiteral("/t/status/500")), {"err:服务器产生内部错误"}, 500},
        {"201", url(QStringLiteral("/t/status/201")), {"err:提示知道新文件的URL"}, 201},
        {"418", url(QStringLiteral("/t/status/418")), {"err:"}, 418},
        {"redirect followed", url(QStringLiteral("/t/redirect/2?to=/t/status/200")), {"arrived"}, 200},
        {"refused", QStringLiteral("http://127.0.0.1:%1/x").arg(deadPort), {}, xmlHttpStatusCannotConnect},
        {"cut body", url(QStringLiteral("/t/cut/100000?after=5000")), {}, xmlHttpStatusConnectionAborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = m_dir.filePath(QStringLiteral("never.bin"));
        XmlHttpRequest http(nullptr, m_engine.get());
        Ended ev(http);
        ASSERT_TRUE(http.open(QStringLiteral("GET"), c.address, target));
        ASSERT_TRUE(sendAndWait(http));
        EXPECT_EQ(ev.log, c.events);
        EXPECT_TRUE(http.downOk());
        EXPECT_EQ(http.status(), c.status);
        EXPECT_EQ(QFile::exists(target), c.status == 200);
        QFile::remove(target);
    }
}

TEST_F(UpdateIntegration, HeadersAndBodyAreSent)
{
    // A server of our own that echoes the request.
    httplib::Server echo;
    echo.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.method + "|" + req.get_header_value("X-Probe") + "|" + req.body, "text/plain; charset=utf-8");
    });
    const int port = echo.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread t([&] { echo.listen_after_bind(); });

    XmlHttpRequest http(nullptr, m_engine.get());
    ASSERT_TRUE(http.open(QStringLiteral("post"), QStringLiteral("http://127.0.0.1:%1/echo").arg(port)));
    http.setRequestHeader(QStringLiteral("X-Probe"), QStringLiteral("yes"));
    http.setRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("text/plain; charset=utf-8"));
    const bool ended = sendAndWait(http, QStringLiteral("关键词=文档"));
    m_engine = std::make_unique<CurlTransferEngine>();  // closes the kept-alive connection
    echo.stop();
    t.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(http.status(), 200);
    EXPECT_EQ(http.responseText(), QStringLiteral("POST|yes|关键词=文档"));
}

TEST_F(UpdateIntegration, CheckAgainstTheDemoService)
{
    const struct {
        const char* served;
        const char* running;
        Outcome outcome;
        const char* shown;  // caption when newer
    } cases[] = {
        {"1.2.902", "1.2.901", Outcome::Newer, "最新版本：V1.2.902"},
        {"1.3.0", "1.2.901", Outcome::Newer, "最新版本：V1.3.0"},
        {"  2.0.0  ", "1.2.901", Outcome::Newer, "最新版本：V2.0.0"},
        {"2.0.0\r\n", "1.2.901", Outcome::Newer, "最新版本：V2.0.0"},
        {"1.2.901", "1.2.901", Outcome::NotNewer, nullptr},
        {"1.2.900", "1.2.901", Outcome::NotNewer, nullptr},
        {"1.3", "1.2.901", Outcome::IgnoredText, nullptr},
        {"1.3.0.1", "1.2.901", Outcome::IgnoredText, nullptr},
        {"1.3.x", "1.2.901", Outcome::IgnoredText, nullptr},
        {"10000000.0.0", "1.2.901", Outcome::IgnoredText, nullptr},  // 12 characters
        {"<html>oops</html>", "1.2.901", Outcome::IgnoredText, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.served);
        setVersionText(QString::fromUtf8(c.served));
        const UpdateCheckResult r = check(QString::fromUtf8(c.running));
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.status, 200);
        if (c.shown) {
            EXPECT_EQ(update::latestVersionCaption(r.versionText), QString::fromUtf8(c.shown));
        }
    }
    EXPECT_TRUE(m_prompter.shown.empty());
}

TEST_F(UpdateIntegration, NotFoundAsksForANetworkServerDownDoesNot)
{
    // The demo knows only its own program name.
    XmlHttpRequest http(nullptr, m_engine.get());
    UpdateCheckResult r = QCoro::waitFor(checkNewVersion(
        &http, update::updateAddress(m_service.baseUrl(), QStringLiteral("othertool")), QStringLiteral("1.0.0"),
        &m_prompter));
    EXPECT_EQ(r.outcome, Outcome::HttpError);
    EXPECT_EQ(r.status, 404);
    ASSERT_EQ(m_prompter.texts(), QStringList{QStringLiteral("请保持网络畅通！")});
    EXPECT_EQ(m_prompter.shown[0].icon, MessageIcon::Error);

    m_prompter.clear();
    const QString base = m_service.baseUrl();
    m_engine = std::make_unique<CurlTransferEngine>();
    m_service.stop();
    QElapsedTimer clock;
    clock.start();
    r = check(QStringLiteral("1.0.0"), base);
    EXPECT_EQ(r.outcome, Outcome::NetworkFailure);
    EXPECT_GT(r.status, 600);
    EXPECT_TRUE(m_prompter.shown.empty());
    EXPECT_LT(clock.elapsed(), 5000) << "a refused connection ends the check at once";
}

TEST_F(UpdateIntegration, SilentServerEndsByTheRequestTimeout)
{
    // Accepts the connection and never answers.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost));
    timings().transferRequestTimeout = 300ms;
    const UpdateCheckResult r = check(QStringLiteral("1.0.0"), QStringLiteral("http://127.0.0.1:%1").arg(mute.serverPort()));
    EXPECT_EQ(r.outcome, Outcome::NetworkFailure);
    EXPECT_EQ(r.status, xmlHttpStatusTimeout);
    EXPECT_TRUE(m_prompter.shown.empty());
}

} // namespace
} // namespace dh::test
