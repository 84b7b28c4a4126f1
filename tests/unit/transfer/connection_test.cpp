#include "ports/Transfer.h"

#include <gtest/gtest.h>

namespace dh {
namespace {

struct ConnectionCase {
    const char* url;
    bool proxyOn;
    const char* host;
    const char* port;
    int accessType;
    const char* proxy;
    int remotePort;
    TransferProtocol protocol;
};

TEST(TransferConnection, MethodOneSettingsFromAddressAndProxy)
{
    const ConnectionCase cases[] = {
        {"http://a.com/x.pdf", false, "", "", accessSystemDefault, "", 80, TransferProtocol::Http},
        {"http://a.com:8080/x.pdf", false, "", "", accessSystemDefault, "", 8080, TransferProtocol::Http},
        {"http://a.com:abc/x.pdf", false, "", "", accessSystemDefault, "", 80, TransferProtocol::Http},
        {"http://a.com:1:2/x.pdf", false, "", "", accessSystemDefault, "", 80, TransferProtocol::Http},
        {"http://a.com:8080", false, "", "", accessSystemDefault, "", 80, TransferProtocol::Http},  // no "/" after
        {"HTTPS://a.com:8443/x.pdf", false, "", "", accessSystemDefault, "", 443, TransferProtocol::Https},
        {"http://a.com/x.pdf", true, "10.1.1.1", "3128", accessNamedProxy, "10.1.1.1:3128", 3128, TransferProtocol::Http},
        {"https://a.com/x.pdf", true, "10.1.1.1", "3128", accessNamedProxy, "10.1.1.1:3128", 443, TransferProtocol::Https},
        {"http://a.com/x.pdf", true, "p", "x", accessNamedProxy, "p:x", 0, TransferProtocol::Http},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const TransferConnection t = transferConnectionFor(QString::fromLatin1(c.url), c.proxyOn,
                                                           QString::fromLatin1(c.host), QString::fromLatin1(c.port));
        EXPECT_EQ(t.accessType, c.accessType);
        EXPECT_EQ(t.proxy, QString::fromLatin1(c.proxy));
        EXPECT_EQ(t.remotePort, c.remotePort);
        EXPECT_EQ(t.protocol, c.protocol);
    }
}

TEST(TransferConnection, StateTexts)
{
    EXPECT_EQ(transferStateText(3, {}), QStringLiteral("3 正在与主机连接..."));
    EXPECT_EQ(transferStateText(12, {}), QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。"));
    EXPECT_EQ(transferStateText(11, QStringLiteral("连接被断开")), QStringLiteral("11 与主机通讯时出现了错误:连接被断开"));
}

} // namespace
} // namespace dh
