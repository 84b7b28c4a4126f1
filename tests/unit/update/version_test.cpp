#include "net/UpdateCheck.h"

#include <gtest/gtest.h>

namespace dh::test {
namespace {

using namespace dh::update;

TEST(UpdateVersion, ComparisonTable)
{
    const struct {
        const char* server;
        const char* running;
        bool newer;
    } cases[] = {
        {"1.2.902", "1.2.901", true},
        {"1.3.0", "1.2.901", true},
        {"1.2.901", "1.2.901", false},
        {"1.2.900", "1.2.901", false},
        {"2.0.1", "2.0.0", true},
        {"2.0.0", "2.0.1", false},
        {"99.0.1", "99.0.0", true},
        {"1.1000.0", "2.0.0", false},  // same weight: not newer
        {"1.1001.0", "2.0.0", true},   // a minor of 1000 or more outweighs the major
        {"1.0.10000", "1.1.0", false}, // so does a large revision: same weight
        {"01.02.0903", "1.2.902", true},
        {"0.0.0", "0.0.0", false},
        // Not a version: never newer.
        {"1.3", "1.2.901", false},
        {"1.3.0.1", "1.2.901", false},
        {"1.3.x", "1.2.901", false},
        {"+2.0.0", "1.2.901", false},
        {"-2.0.0", "1.2.901", false},
        {"2. 0.0", "1.2.901", false},
        {"2..0", "1.2.901", false},
        {"２.0.0", "1.2.901", false},  // full-width digit
        {"", "1.2.901", false},
        {"9.9.9", "not.a.version", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isNewerVersion(QString::fromUtf8(c.server), QString::fromUtf8(c.running)), c.newer)
            << c.server << " vs " << c.running;
}

TEST(UpdateVersion, WeightIsExact)
{
    EXPECT_EQ(versionWeight({1, 2, 901}), 10020901);
    EXPECT_EQ(versionWeight({1, 1000, 0}), versionWeight({2, 0, 0}));
    const auto big = parseVersion(QStringLiteral("999999999.999999999.999999999"));
    ASSERT_TRUE(big);
    EXPECT_EQ(versionWeight(*big), 999999999LL * 10000000LL + 999999999LL * 10000LL + 999999999LL);
    EXPECT_FALSE(parseVersion(QStringLiteral("1234567890.0.0"))) << "ten digits could overflow the weight";
}

TEST(UpdateVersion, ResponseTextRules)
{
    const struct {
        const char* body;
        const char* text;  // nullptr: ignored
    } cases[] = {
        {"1.2.950", "1.2.950"},
        {"  1.3.0  ", "1.3.0"},
        {"1.3.0\n", "1.3.0"},
        {"\t1.3.0\r\n", "1.3.0"},
        {"123456.8.9", "123456.8.9"},   // 10 characters
        {"1234567.8.9", nullptr},       // 11 characters
        {"", nullptr},
        {"   ", nullptr},
        {"\r\n", nullptr},
        {"garbage text that is long", nullptr},
    };
    for (const auto& c : cases) {
        const auto t = versionTextFromResponse(QString::fromUtf8(c.body));
        if (c.text) {
            ASSERT_TRUE(t) << c.body;
            EXPECT_EQ(*t, QString::fromUtf8(c.text));
        } else {
            EXPECT_FALSE(t) << c.body;
        }
    }
    EXPECT_EQ(latestVersionCaption(QStringLiteral("1.2.902")), QStringLiteral("最新版本：V1.2.902"));
}

TEST(UpdateVersion, Address)
{
    EXPECT_EQ(updateAddress(QStringLiteral("http://127.0.0.1:8080"), QStringLiteral("tool")),
              QStringLiteral("http://127.0.0.1:8080/tool/newver.txt"));
    EXPECT_EQ(updateAddress(QStringLiteral("https://upd.example.org/"), QStringLiteral("tool")),
              QStringLiteral("https://upd.example.org/tool/newver.txt"));
    EXPECT_EQ(updateAddress(QStringLiteral("http://h/")), QStringLiteral("http://h/docharvest/newver.txt"));
}

} // namespace
} // namespace dh::test
