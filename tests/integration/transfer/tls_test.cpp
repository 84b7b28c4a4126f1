#include "TransferFixture.h"

#include <QProcess>
#include <QStandardPaths>

#include <httplib.h>

#include <thread>

namespace dh::test {
namespace {

// Certificates are always checked: a server with a certificate nobody vouches
// for gets no request through, even on loopback.
TEST_F(TransferFixture, UntrustedCertificateIsRefused)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        GTEST_SKIP() << "openssl is not installed";
    const QString cert = path(QStringLiteral("cert.pem"));
    const QString key = path(QStringLiteral("key.pem"));
    ASSERT_EQ(QProcess::execute(openssl, {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                                          QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                                          key, QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("1"),
                                          QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}),
              0);

    httplib::SSLServer tls(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData());
    ASSERT_TRUE(tls.is_valid());
    tls.Get("/secret", [](const httplib::Request&, httplib::Response& res) { res.set_content("secret", "text/plain"); });
    const int port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { tls.listen_after_bind(); });

    const QString address = QStringLiteral("https://127.0.0.1:%1/secret").arg(port);
    auto r = m_engine->execute(address);
    r->keepBodyInMemory();
    finish(*r);
    EXPECT_EQ(r->failure(), TransferRequest::Failure::Tls);
    EXPECT_EQ(r->responseCode(), int(CURLE_PEER_FAILED_VERIFICATION)) << r->responseInfo().toStdString();
    EXPECT_TRUE(r->takeBody().isEmpty());
    EXPECT_TRUE(QCoro::waitFor(m_engine->openUrl(address)).isEmpty());

    // Also when a plain-http redirect leads there.
    auto viaRedirect = m_engine->execute(
        url(QStringLiteral("/t/redirect/1?to=") + QString::fromLatin1(QUrl::toPercentEncoding(address))));
    finish(*viaRedirect);
    EXPECT_EQ(viaRedirect->failure(), TransferRequest::Failure::Tls);

    tls.stop();
    thread.join();
}

} // namespace
} // namespace dh::test
