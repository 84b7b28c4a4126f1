#include "FakeTransfer.h"

#include "net/UpdateCheck.h"
#include "net/XmlHttp.h"
#include "platform/Prompter.h"

#include <QCoroTask>
#include <QTimer>
#include <gtest/gtest.h>

namespace dh::test {
namespace {

using namespace dh::update;
using Outcome = UpdateCheckResult::Outcome;

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

// The check's verdicts, with the transfer layer under the test's control.
class CheckNewVersionTest : public ::testing::Test {
protected:
    FakeEngine engine;
    ScriptedPrompter prompter;

    UpdateCheckResult run(const QString& address, std::function<void(FakeRequest*)> answer)
    {
        uXMLHTTP http(nullptr, &engine);
        const std::size_t before = engine.requests.size();
        QTimer::singleShot(1, [&] {
            if (engine.requests.size() > before && engine.last())
                answer(engine.last());
        });
        return QCoro::waitFor(CheckNewVersion(&http, address, QStringLiteral("1.2.901"), &prompter));
    }
};

TEST_F(CheckNewVersionTest, Verdicts)
{
    const QString addr = QStringLiteral("http://127.0.0.1:9/docharvest/newver.txt");
    const struct {
        const char* name;
        int status;
        QByteArray body;
        Outcome outcome;
        const char* text;
    } cases[] = {
        {"newer", 200, " 1.2.902 ", Outcome::Newer, "1.2.902"},
        {"same", 200, "1.2.901", Outcome::NotNewer, "1.2.901"},
        {"older", 200, "1.2.900", Outcome::NotNewer, "1.2.900"},
        {"two parts", 200, "1.3", Outcome::IgnoredText, "1.3"},
        {"html page", 200, "<html><body>hello</body></html>", Outcome::IgnoredText, ""},
        {"empty", 200, "", Outcome::IgnoredText, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const UpdateCheckResult r = run(addr, [&](FakeRequest* q) { q->answer(c.status, c.body); });
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.versionText, QString::fromUtf8(c.text));
        EXPECT_TRUE(prompter.shown.empty());
    }
    EXPECT_EQ(engine.urls.back(), addr);
    EXPECT_EQ(engine.options.back().method, QStringLiteral("GET"));
}

TEST_F(CheckNewVersionTest, HttpErrorAsksForANetworkAndFailureStaysSilent)
{
    const QString addr = QStringLiteral("http://127.0.0.1:9/docharvest/newver.txt");
    UpdateCheckResult r = run(addr, [](FakeRequest* q) { q->answer(404, "nope"); });
    EXPECT_EQ(r.outcome, Outcome::HttpError);
    EXPECT_EQ(r.status, 404);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("请保持网络畅通！"));
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);

    prompter.clear();
    r = run(addr, [](FakeRequest* q) { q->fail(TransferRequest::Failure::Network, 1); });
    EXPECT_EQ(r.outcome, Outcome::NetworkFailure);
    EXPECT_GT(r.status, 600);
    EXPECT_TRUE(prompter.shown.empty());

    // An address the control refuses: nothing is asked, nothing shown.
    const std::size_t before = engine.requests.size();
    uXMLHTTP http(nullptr, &engine);
    r = QCoro::waitFor(CheckNewVersion(&http, update::updateAddress(QString()), QStringLiteral("1.2.901"), &prompter));
    EXPECT_EQ(r.outcome, Outcome::NotStarted);
    EXPECT_EQ(engine.requests.size(), before);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(CheckNewVersionTest, ControlGoneDuringTheCheck)
{
    auto* http = new uXMLHTTP(nullptr, &engine);
    QTimer::singleShot(1, [http] { delete http; });
    const UpdateCheckResult r = QCoro::waitFor(
        CheckNewVersion(http, QStringLiteral("http://127.0.0.1:9/docharvest/newver.txt"), QStringLiteral("1.0.0"), &prompter));
    EXPECT_EQ(r.outcome, Outcome::Abandoned);
    EXPECT_TRUE(prompter.shown.empty());
}

} // namespace
} // namespace dh::test
