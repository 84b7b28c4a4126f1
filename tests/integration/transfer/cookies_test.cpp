#include "TransferFixture.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>

#include <httplib.h>

#include <thread>

namespace dh::test {
namespace {

// Each hop of a request carries the jar's cookies for its own address (never
// another host's), and cookies set on the way (by a redirect) come back on
// the next hop.
TEST_F(TransferFixture, CookiesGoWithEveryHopToTheirOwnHost)
{
    httplib::Server server;
    server.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    server.Get("/set", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "s=1; Path=/");
        res.set_redirect("/echo", 302);
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    server.Get("/away", [port](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("http://localhost:" + std::to_string(port) + "/echo", 302);
    });
    std::thread thread([&] { server.listen_after_bind(); });

    const QString here = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const QString there = QStringLiteral("http://localhost:%1").arg(port);
    struct Row {
        const char* path;
        QList<QPair<QString, QByteArray>> jar;  // address, cookie
        QByteArray sent;                       // what the last hop received
    } rows[] = {
        {"/echo", {{here, "a=1"}}, "a=1"},
        {"/set", {}, "s=1"},
        {"/away", {{here, "a=1"}, {there, "b=2"}}, "b=2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        m_engine = std::make_unique<CurlTransferEngine>();
        for (const auto& [address, cookie] : row.jar)
            m_engine->cookieJar()->setCookiesFromUrl(QNetworkCookie::parseCookies(cookie), QUrl(address + "/"));
        auto r = m_engine->execute(here + QString::fromLatin1(row.path));
        r->keepBodyInMemory();
        finish(*r);
        EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
        EXPECT_EQ(r->takeBody(), row.sent);
        r.reset();
    }
    m_engine.reset();
    server.stop();
    thread.join();
}

// An answer without a body is whole whatever length it announces.
TEST_F(TransferFixture, AnswersWithoutBodyAreComplete)
{
    TransferOptions head;
    head.method = QStringLiteral("HEAD");
    auto r = m_engine->execute(url("/t/file/5000"), head);
    finish(*r);
    EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
    EXPECT_EQ(r->httpStatus(), 200);
    EXPECT_EQ(r->bytesTotal(), 5000);
    EXPECT_EQ(r->bytesRead(), 0);
}

} // namespace
} // namespace dh::test
