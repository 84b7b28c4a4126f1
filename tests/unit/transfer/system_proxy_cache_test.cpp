#include "app/Timings.h"
#include "net/SystemProxyCache.h"

#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>

namespace dh {
namespace {

// The system is asked once per destination; a changed proxy variable or an
// old answer makes the next request ask again.
TEST(SystemProxyCache, AsksOncePerHostUntilTheSettingChanges)
{
    const auto savedHold = timings().systemProxyHold;
    const QByteArray savedProxy = qgetenv("http_proxy");
    const bool hadProxy = qEnvironmentVariableIsSet("http_proxy");
    qunsetenv("http_proxy");

    int asked = 0;
    SystemProxyCache cache([&asked](const QNetworkProxyQuery&) {
        ++asked;
        const QByteArray p = qgetenv("http_proxy");
        if (p.isEmpty())
            return QList<QNetworkProxy>{QNetworkProxy::NoProxy};
        return QList<QNetworkProxy>{QNetworkProxy(QNetworkProxy::HttpProxy, QString::fromLatin1(p), 3128)};
    });
    const QNetworkProxyQuery a(QUrl(QStringLiteral("http://a.example/1.pdf")));
    const QNetworkProxyQuery a2(QUrl(QStringLiteral("http://a.example/2.pdf")));
    const QNetworkProxyQuery b(QUrl(QStringLiteral("http://b.example:8080/1.pdf")));

    timings().systemProxyHold = std::chrono::milliseconds(60000);
    EXPECT_EQ(cache.proxyFor(a).first().type(), QNetworkProxy::NoProxy);
    EXPECT_EQ(cache.proxyFor(a2).first().type(), QNetworkProxy::NoProxy);
    EXPECT_EQ(asked, 1);
    cache.proxyFor(b);
    EXPECT_EQ(asked, 2);

    // The user sets a proxy between two runs.
    qputenv("http_proxy", "proxy.example");
    const QList<QNetworkProxy> now = cache.proxyFor(a);
    EXPECT_EQ(asked, 3);
    ASSERT_EQ(now.size(), 1);
    EXPECT_EQ(now.first().type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(now.first().hostName(), QStringLiteral("proxy.example"));

    // Settings the variables do not show (a desktop's) count after the hold.
    timings().systemProxyHold = std::chrono::milliseconds(20);
    QThread::msleep(40);
    cache.proxyFor(a);
    EXPECT_EQ(asked, 4);

    timings().systemProxyHold = savedHold;
    if (hadProxy)
        qputenv("http_proxy", savedProxy);
    else
        qunsetenv("http_proxy");
}

} // namespace
} // namespace dh
