#include "TransferFixture.h"

#include <QCoroTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstdlib>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

// A real tinyproxy on a free loopback port, with its log in the scratch folder.
class Tinyproxy {
public:
    bool start(const QString& folder, QString* why)
    {
        const QString exe = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
        if (exe.isEmpty()) {
            *why = QStringLiteral("tinyproxy is not installed (scripts/install-deps.sh installs it)");
            return false;
        }
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0)) {
                *why = QStringLiteral("no free port");
                return false;
            }
            m_port = probe.serverPort();
        }
        m_log = folder + QStringLiteral("/tinyproxy.log");
        const QString conf = folder + QStringLiteral("/tinyproxy.conf");
        QFile f(conf);
        if (!f.open(QIODevice::WriteOnly)) {
            *why = QStringLiteral("cannot write %1").arg(conf);
            return false;
        }
        f.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nLogFile \"%2\"\nLogLevel Connect\n"
                               "MaxClients 20\nAllow 127.0.0.1\n")
                    .arg(m_port)
                    .arg(m_log)
                    .toUtf8());
        f.close();
        m_process.setProgram(exe);
        m_process.setArguments({QStringLiteral("-d"), QStringLiteral("-c"), conf});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *why = QStringLiteral("tinyproxy did not start");
            return false;
        }
        // Ready when it accepts connections.
        for (int i = 0; i < 100; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            if (s.waitForConnected(100))
                return true;
            QThread::msleep(50);
        }
        *why = QStringLiteral("tinyproxy does not listen: ") + QString::fromLocal8Bit(m_process.readAll());
        return false;
    }
    ~Tinyproxy()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString log() const
    {
        QFile f(m_log);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_log;
};

class ProxyTest : public TransferFixture {
protected:
    void SetUp() override
    {
        TransferFixture::SetUp();
        QString why;
        if (!m_proxy.start(m_dir.path(), &why))
            GTEST_SKIP() << why.toStdString();
    }

    QString fetchText(const QString& address, const TransferOptions& o)
    {
        auto r = m_engine->execute(address, o);
        r->keepBodyInMemory();
        finish(*r);
        EXPECT_TRUE(r->succeeded()) << r->responseInfo().toStdString();
        EXPECT_EQ(r->httpStatus(), 200);
        return QString::fromLatin1(r->takeBody());
    }

    Tinyproxy m_proxy;
};

TEST_F(ProxyTest, NamedProxyCarriesTheRequestAndItsReferer)
{
    TransferOptions o;
    o.accessType = accessNamedProxy;
    o.proxy = m_proxy.address();
    o.headerLines = "Referer: http://docs.example/list?id=7\r\n";
    const QString target = url(QStringLiteral("/t/headers?via=named"));
    const QString echo = fetchText(target, o);
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nReferer: http://docs.example/list?id=7"))) << echo.toStdString();
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nVia: ")) && echo.contains(QStringLiteral("tinyproxy")))
        << "the request came through the proxy: " << echo.toStdString();
    EXPECT_TRUE(m_proxy.log().contains(QStringLiteral("GET ") + target)) << m_proxy.log().toStdString();

    // A body streamed to a file through the proxy.
    auto r = m_engine->execute(url(QStringLiteral("/t/file/300000")), o);
    ASSERT_TRUE(r->saveBodyTo(path(QStringLiteral("p.bin")), SaveMode::Direct));
    finish(*r);
    EXPECT_TRUE(r->succeeded());
    EXPECT_EQ(readFile(path(QStringLiteral("p.bin"))), expected(300000));
}

TEST_F(ProxyTest, SystemSettingWithoutProxyGoesDirect)
{
    for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy"})
        ::unsetenv(v);
    TransferOptions o;
    o.accessType = accessSystemDefault;
    o.headerLines = "Referer: http://docs.example/direct\r\n";
    const QString target = url(QStringLiteral("/t/headers?via=system"));
    const QString echo = fetchText(target, o);
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nReferer: http://docs.example/direct"))) << echo.toStdString();
    EXPECT_FALSE(echo.contains(QStringLiteral("\r\nVia: "))) << echo.toStdString();
    EXPECT_FALSE(m_proxy.log().contains(QStringLiteral("via=system")));
}

TEST_F(ProxyTest, ProxyThatCannotBeReachedFails)
{
    TransferOptions o;
    o.accessType = accessNamedProxy;
    for (const QString& proxy : {QStringLiteral("127.0.0.1:1"), QStringLiteral("no-port"), QString()}) {
        o.proxy = proxy;
        auto r = m_engine->execute(url(QStringLiteral("/t/file/10")), o);
        finish(*r);
        EXPECT_EQ(r->failure(), TransferRequest::Failure::Network) << proxy.toStdString();
        EXPECT_NE(r->responseCode(), 0);
        EXPECT_EQ(r->getHeader(), QString());
    }
}


TEST_F(ProxyTest, SystemSettingFollowsHttpProxyVariable)
{
    const QByteArray value = QByteArray("http://") + m_proxy.address().toLatin1();
    ::setenv("http_proxy", value.constData(), 1);
    ::unsetenv("no_proxy");
    TransferOptions o;  // system default
    const QString target = url(QStringLiteral("/t/headers?via=environment"));
    const QString echo = fetchText(target, o);
    ::unsetenv("http_proxy");
    EXPECT_TRUE(echo.contains(QStringLiteral("\r\nVia: "))) << echo.toStdString();
    EXPECT_TRUE(m_proxy.log().contains(QStringLiteral("via=environment")));
}

} // namespace
} // namespace dh::test
