// Failure texts of both browsers' network layers, as the user reads them.
#include "net/NetworkErrorText.h"

#include <gtest/gtest.h>

TEST(NetworkErrorText, ChineseReasonWithTheNetworksOwnWords)
{
    const struct { const char* network; const char* shown; } rows[] = {
        {"Connection refused", "无法连接（Connection refused）"},
        {"net::ERR_CONNECTION_REFUSED", "无法连接（net::ERR_CONNECTION_REFUSED）"},
        {"Host nohost.test not found", "找不到服务器（Host nohost.test not found）"},
        {"Error transferring http://h/p?w=1 - server replied: Internal Server Error", "服务器返回错误（Internal Server Error）"},
        {"Proxy connection refused", "代理服务器错误（Proxy connection refused）"},
        {"Socket operation timed out", "连接超时（Socket operation timed out）"},
        {"Remote host closed the connection", "连接被断开（Remote host closed the connection）"},
        {"page larger than 32 MB", "页面过大（page larger than 32 MB）"},
        {"something new", "网络错误（something new）"},
        {"", "网络错误"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(dh::describeNetworkError(QString::fromUtf8(r.network)).text(), QString::fromUtf8(r.shown)) << r.network;
}
