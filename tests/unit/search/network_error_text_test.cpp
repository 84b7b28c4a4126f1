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
        {"Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect to server",
         "无法连接（Failed to connect to 127.0.0.1 port 9 after 0 ms: Couldn't connect to server）"},
        {"Could not resolve host: nohost.test", "找不到服务器（Could not resolve host: nohost.test）"},
        {"Empty reply from server", "连接被断开（Empty reply from server）"},
        {"Protocol \"ftp\" not supported or disabled in libcurl",
         "不是网页地址（Protocol \"ftp\" not supported or disabled in libcurl）"},
        {"something new", "网络错误（something new）"},
        {"", "网络错误"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(dh::describeNetworkError(QString::fromUtf8(r.network)).text(), QString::fromUtf8(r.shown)) << r.network;
}
