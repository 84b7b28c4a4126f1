// Hostile result pages and services through the headless engine: every
// attack is a row, run as a one-query batch against the demo service's
// /hostile routes. Each must end within its bound, keep what could be
// collected, and say why it ended.
#include "integration/search/SearchFixture.h"

#include "html/Limits.h"
#include "html/Document.h"

#include <QElapsedTimer>
#include <QSignalSpy>

namespace dh::test {
namespace {

struct HostileRow {
    const char* name;
    const char* base;        // the search base under the service: /hostile/<kind>[/N]
    int links;               // links collected
    std::optional<PagingEnd> end;  // how the paging ended early, if it did
    const char* failure;     // a text of the query failure, or nullptr when the query succeeds
    int boundMs;             // the whole batch ends within this
};

void PrintTo(const HostileRow& r, std::ostream* os)
{
    *os << r.name;
}

// Bounds are generous: they catch a hang or a runaway, not a slow machine.
const HostileRow kRows[] = {
    {"NextLinkToItself", "/hostile/self", 2, PagingEnd::PageRevisited, nullptr, 10000},
    {"TwoPagesPointingAtEachOther", "/hostile/pingpong", 4, PagingEnd::PageRevisited, nullptr, 10000},
    {"PageNumberGrowingForEver", "/hostile/grow", 10, PagingEnd::PageCap, nullptr, 20000},
    {"EmptyNextHref", "/hostile/emptyhref", 2, PagingEnd::PageRevisited, nullptr, 10000},
    {"NextPageNeverAnswers", "/hostile/stall/30", 2, PagingEnd::NextPageTimedOut, "下一页在 1.5 秒内没有打开", 15000},
    {"PageOverTheSizeCap", "/hostile/huge/40", 0, std::nullopt, "larger than 32 MB", 20000},
    {"PageOverTheSizeCapWithoutLength", "/hostile/hugestream/40", 0, std::nullopt, "larger than 32 MB", 20000},
    {"PageOverTheNodeBudget", "/hostile/hugelinks/8", 0, std::nullopt, "larger than 500000 nodes", 20000},
    {"MillionNestedDivs", "/hostile/nest/1000000", 2, std::nullopt, nullptr, 20000},
    {"MillionAttributes", "/hostile/attrs/1000000", 2, std::nullopt, nullptr, 20000},
    {"UnclosedFormattingRebuiltInEveryParagraph", "/hostile/formatting/40000", 0, std::nullopt,
     "larger than 500000 nodes", 20000},
    {"LinksAndNextPageOutsideTheWeb", "/hostile/schemes", 1, std::nullopt, nullptr, 10000},
    {"ServerError", "/hostile/status", 0, std::nullopt, "服务器返回错误（", 10000},
    {"NotAResultPage", "/hostile/notresults", 0, std::nullopt, "不是搜索结果页", 10000},
    {"RealEmptyResultPage", "/hostile/empty", 0, std::nullopt, nullptr, 10000},
};

class HostilePages : public SearchFixture, public ::testing::WithParamInterface<HostileRow> {};

TEST_P(HostilePages, EndsWithinItsBoundAndSaysWhy)
{
    const HostileRow& row = GetParam();
    demo::DemoOptions o;
    o.rateLimitPages = -1;
    start(o);
    timings().nextPageWait = std::chrono::milliseconds(1500);
    engine->maxPagesPerQuery = 5;
    engine->typeTicked = {true, false, false, false};
    engine->searchBase = base + QString::fromLatin1(row.base);

    std::vector<PagingEnd> ends;
    QStringList failures;
    QObject::connect(engine.get(), &SearchEngine::pagingEnded, engine.get(),
                     [&](PagingEnd e, const QString&) { ends.push_back(e); });
    QObject::connect(engine.get(), &SearchEngine::queryFailed, engine.get(),
                     [&](const QString&, const QString&, const QString&, const QString& why) { failures << why; });

    QElapsedTimer t;
    t.start();
    batch(QStringLiteral("教程"));
    EXPECT_LT(t.elapsed(), row.boundMs);

    EXPECT_EQ(engine->links()->size(), row.links);
    for (const LinkItem& it : engine->links()->items())
        EXPECT_TRUE(it.url.startsWith(base)) << qPrintable(it.url);
    if (row.end) {
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends.front(), *row.end);
    } else {
        EXPECT_TRUE(ends.empty());
    }
    if (row.failure) {
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures.front().contains(QString::fromUtf8(row.failure))) << qPrintable(failures.front());
    } else {
        EXPECT_TRUE(failures.isEmpty()) << qPrintable(failures.join(QLatin1String("; ")));
    }
    // Nothing outside the web was ever loaded.
    for (const QString& u : completed)
        EXPECT_TRUE(u.startsWith(QLatin1String("http://")) || u == QLatin1String("about:blank")) << qPrintable(u);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostilePages, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<HostileRow>& i) { return std::string(i.param.name); });

// The parse itself, without the network: a million nested elements are cut
// to the nesting bound in linear time and the results before them survive.
TEST(HostileMarkup, MillionNestedElementsParseQuickly)
{
    QByteArray page = "<html><body><div class=\"content-net-left\"><h3><a href=\"http://x/a.pdf\">a</a></h3></div>";
    for (int i = 0; i < 1000000; ++i)
        page += "<div>";
    page += "deep";
    for (int i = 0; i < 1000000; ++i)
        page += "</div>";
    page += "<p id=\"after\">after</p></body></html>";
    QElapsedTimer t;
    t.start();
    const DocumentPtr doc = Document::parse(page, QUrl(QStringLiteral("http://x/")), QStringLiteral("text/html"));
    const qint64 ms = t.elapsed();
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(ms, 2000);
#endif
    EXPECT_EQ(extractResultLinks(*doc, {}).links.size(), 1);
    EXPECT_EQ(doc->getElementById(QStringLiteral("after")).innerText(), QStringLiteral("after"));
    EXPECT_TRUE(doc->body().innerText().contains(QStringLiteral("deep")));
    EXPECT_LE(doc->getElementsByTagName(QStringLiteral("div")).length(), limits().maxNesting + 1);
}

// Markup whose tree is far larger than its tags: the parser rebuilds closed
// formatting elements and copies misnested ones. Such a page fails as too
// large, in bounded time; an ordinary page of the same size still parses.
struct MarkupRow {
    const char* name;
    QByteArray (*page)();
    bool tooLarge;
};

QByteArray repeat(const QByteArray& head, const QByteArray& each, int times, const QByteArray& tail = {})
{
    QByteArray out = head;
    for (int i = 0; i < times; ++i)
        out += QByteArray(each).replace("#", QByteArray::number(i));
    return out + tail;
}

const MarkupRow kMarkupRows[] = {
    {"ClosedBoldsRebuiltInEveryParagraph",
     [] { return repeat(repeat({}, "<p><b id=#></p>", 512), "<p>x</p>", 40000); }, true},
    {"BoldsFosterParentedOutOfATable",
     [] { return repeat(repeat("<table>", "<b id=#>", 100), "x<tr><td>y</td></tr>z", 3000); }, true},
    {"BoldsEndedOutsideTheirBlocks",
     [] { return repeat({}, repeat({}, "<b id=#><div>", 20) + QByteArray("</b>").repeated(20) + QByteArray("</div>").repeated(20), 7000); },
     true},
    {"UnclosedFontAroundALargeTable",
     [] { return repeat("<font size=2><table>", "<tr><td>x</td><td><a href=/#>y</a></td><td>z</td></tr>", 40000); }, false},
};

class HostileMarkupRows : public ::testing::TestWithParam<MarkupRow> {};

TEST_P(HostileMarkupRows, FailsAsTooLargeOrParses)
{
    const QByteArray page = GetParam().page();
    QElapsedTimer t;
    t.start();
    const DocumentPtr doc = Document::parse(page, QUrl(QStringLiteral("http://x/")), QStringLiteral("text/html"));
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(t.elapsed(), 10000);
#endif
    EXPECT_EQ(doc->tooManyNodes(), GetParam().tooLarge);
    if (!GetParam().tooLarge)
        EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("a")).length(), 40000);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileMarkupRows, ::testing::ValuesIn(kMarkupRows),
                         [](const ::testing::TestParamInfo<MarkupRow>& i) { return std::string(i.param.name); });

// A direct navigation outside the web is refused like a failed load and ends
// at once; the page shown stays.
TEST_F(SearchFixture, HeadlessBrowserRefusesNonWebNavigation)
{
    demo::DemoOptions o;
    start(o);
    ASSERT_TRUE(load(base + QStringLiteral("/p?w=1")));
    for (const char* address : {"file:///etc/passwd", "ftp://127.0.0.1/x", "data:text/html,<p>x</p>"}) {
        QSignalSpy errors(browser.get(), &Browser::navigateError);
        EXPECT_TRUE(load(QString::fromLatin1(address))) << address;
        EXPECT_EQ(errors.size(), 1) << address;
        EXPECT_EQ(browser->locationUrl(), base + QStringLiteral("/p?w=1"));
    }
}

} // namespace
} // namespace dh::test
