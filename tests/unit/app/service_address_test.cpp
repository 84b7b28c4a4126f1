// Service base addresses: http and https with a host only.
#include "app/ServiceAddress.h"

#include <gtest/gtest.h>

using namespace dh;

TEST(ServiceAddress, OnlyWebAddressesWithAHostAreUsable)
{
    const std::pair<const char*, bool> cases[] = {
        {"https://www.docin.com", true},   {"http://127.0.0.1:8080", true}, {" HTTP://Example.org/base ", true},
        {"javascript:alert(1)", false},    {"file:///etc/passwd", false},   {"ftp://example.org", false},
        {"data:text/html,x", false},       {"http://", false},              {"www.docin.com", false},
        {"", false},
    };
    for (const auto& [text, ok] : cases)
        EXPECT_EQ(serviceBaseProblem(QString::fromUtf8(text)).isEmpty(), ok) << text;
}
