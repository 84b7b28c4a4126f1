// Home page, result pages, pager and the verification page of the demo
// search service, read over HTTP the way the result extraction reads them.

#include "DemoTestUtil.h"
#include "demo/DemoSearch.h"

#include <QUrl>
#include <QSet>

#include <atomic>
#include <thread>

using namespace dh::demo;
using namespace dh::demo::test;

namespace {

struct QueryCase {
    const char* rawW;
    const char* keywords;
    bool quoted;
    const char* type;
};

const QueryCase kQueries[] = {
    {"%E6%95%99%E7%A8%8B+filetype%3Apdf", "教程", false, "pdf"},
    {"%22%E6%95%99%E7%A8%8B%22+filetype%3Apdf", "教程", true, "pdf"},
    {"C%20%E8%AF%AD%E8%A8%80+%E6%95%99%E7%A8%8B+filetype%3Adoc", "C 语言 教程", false, "doc"},
    {"a%2Bb%231+filetype%3AXLS", "a+b#1", false, "xls"},
    {"100%25+filetype%3Appt", "100%", false, "ppt"},
    {"%3Cscript%3E+filetype%3Apdf", "<script>", false, "pdf"},
    {"plain", "plain", false, ""},
};

} // namespace

TEST(DemoSearchQuery, ParsesRawQueries)
{
    for (const QueryCase& c : kQueries) {
        const SearchQuery q = parseSearchQuery(std::string("w=") + c.rawW + "&pn=3");
        SCOPED_TRACE(c.rawW);
        EXPECT_FALSE(q.home);
        EXPECT_EQ(q.keywords, QString::fromUtf8(c.keywords));
        EXPECT_EQ(q.quoted, c.quoted);
        EXPECT_EQ(q.type, QString::fromUtf8(c.type));
        EXPECT_EQ(q.page, 3);
        EXPECT_EQ(q.rawW, c.rawW);
    }
    EXPECT_TRUE(parseSearchQuery("w=1").home);
    EXPECT_TRUE(parseSearchQuery("").home);
    EXPECT_EQ(parseSearchQuery("w=x&pn=abc").page, 1);
    EXPECT_EQ(parseSearchQuery("w=x&pn=-4").page, 1);
    // The program's own composition round-trips.
    const SearchQuery q = parseSearchQuery("w=" + composeW(QStringLiteral("教程 a+b"), QStringLiteral("pdf"), true));
    EXPECT_EQ(q.keywords, QStringLiteral("教程 a+b"));
    EXPECT_TRUE(q.quoted);
    EXPECT_EQ(q.type, QStringLiteral("pdf"));
}

class DemoSearchPages : public DemoFixture {};

TEST_F(DemoSearchPages, HomePageIsASearchFormWithoutResults)
{
    DemoOptions o;
    o.rateLimitPages = 0;  // home pages never count as result pages
    startService(o);
    for (const char* path : {"/p?w=1", "/p"}) {
        const PageView page = viewPage(getBody(path));
        EXPECT_FALSE(page.hasContainer) << path;
        bool hasW = false;
        for (const Input& in : page.inputs)
            hasW = hasW || in.name == QStringLiteral("w");
        EXPECT_TRUE(hasW) << path;
    }
    auto res = client->Get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 302);
    EXPECT_EQ(res->get_header_value("Location"), "/p?w=1");
}

TEST_F(DemoSearchPages, ResultPagesMatchTheirDataAndAreDeterministic)
{
    DemoOptions o;
    o.rateLimitPages = -1;
    startService(o);
    for (const QueryCase& c : kQueries) {
        SCOPED_TRACE(c.rawW);
        const std::string path = std::string("/p?w=") + c.rawW;
        const QByteArray body = getBody(path);
        EXPECT_EQ(getBody(path), body);  // same bytes every time
        const PageView page = viewPage(body);
        ASSERT_TRUE(page.hasContainer);
        const QList<DemoResult> expected = resultsFor(parseSearchQuery("w=" + std::string(c.rawW)), base(), o);
        ASSERT_EQ(page.results.size(), 10);
        ASSERT_EQ(expected.size(), 10);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(page.results[i].href, expected[i].href) << i;
            EXPECT_EQ(page.results[i].text, expected[i].titleText) << i;
        }
        // Keywords are escaped, never markup.
        EXPECT_FALSE(body.contains("<script>"));
        // Decoys around the container are not part of the results.
        for (const Link& l : page.results)
            EXPECT_FALSE(l.href.contains(QStringLiteral("/ad-")) || l.href.contains(QStringLiteral("/related-"))
                         || l.href.contains(QStringLiteral("/side-")));
        EXPECT_TRUE(body.contains("content-net-left-ad"));
        EXPECT_FALSE(body.contains(verificationMarker().toUtf8()));
    }
}

TEST_F(DemoSearchPages, ResultsExerciseTheTitleRules)
{
    DemoOptions o;
    o.rateLimitPages = -1;
    startService(o);
    const std::string w = composeW(QStringLiteral("教程"), QStringLiteral("pdf"));
    const PageView p1 = viewPage(getBody("/p?w=" + w));
    const PageView p2 = viewPage(getBody("/p?w=" + w + "&pn=2"));
    ASSERT_EQ(p1.results.size(), 10);
    ASSERT_EQ(p2.results.size(), 10);
    EXPECT_TRUE(p1.results[1].text.startsWith(QStringLiteral("【PDF】")));
    EXPECT_TRUE(p1.results[2].text.contains(QStringLiteral("...")));
    EXPECT_TRUE(p1.results[3].text.endsWith(QStringLiteral("_百度文库")));
    EXPECT_TRUE(p1.results[6].text.endsWith(QStringLiteral("-道客巴巴")));
    EXPECT_TRUE(p2.results[6].text.endsWith(QStringLiteral("-豆丁网")));
    EXPECT_TRUE(p1.results[8].text.endsWith(QStringLiteral("-百度文库网")));
    EXPECT_TRUE(p1.results[8].href.endsWith(QStringLiteral(".PDF")));
    EXPECT_TRUE(p2.results[8].href.endsWith(QStringLiteral(".Pdf")));
    EXPECT_EQ(p1.results[9].text, QStringLiteral("......"));
    EXPECT_TRUE(p1.results[5].href.endsWith(QStringLiteral(".html")));
    EXPECT_TRUE(p2.results[5].href.contains(QStringLiteral("?id=")));
    EXPECT_TRUE(p1.results[7].href.contains(QStringLiteral("/doc/protected/")));
    // Page 2 repeats page 1's first link; both absolute and relative links occur.
    EXPECT_EQ(p2.results[7].href, p1.results[0].href);
    EXPECT_TRUE(p1.results[0].href.startsWith(base()));
    EXPECT_TRUE(p1.results[1].href.startsWith(QStringLiteral("/doc/")));
    // Every other link is unique within the query.
    QSet<QString> seen;
    for (const PageView* p : {&p1, &p2}) {
        for (int i = 0; i < 10; ++i) {
            if (p == &p2 && i == 7)
                continue;
            EXPECT_FALSE(seen.contains(p->results[i].href)) << p->results[i].href.toStdString();
            seen.insert(p->results[i].href);
        }
    }
}

TEST_F(DemoSearchPages, FollowingNextLinksVisitsEveryPageOnce)
{
    DemoOptions o;
    o.rateLimitPages = -1;
    startService(o);
    QSet<int> counts;
    for (const char* kw : {"教程", "手册", "论文", "C 语言", "报告", "规范", "标准", "试题"}) {
        for (const char* type : {"pdf", "doc"}) {
            const SearchQuery q = parseSearchQuery("w=" + composeW(QString::fromUtf8(kw), QString::fromUtf8(type)));
            const int expected = pageCount(q, o);
            EXPECT_GE(expected, 3);
            EXPECT_LE(expected, 6);
            counts.insert(expected);
            std::string path = "/p?w=" + q.rawW;
            int pages = 0;
            QString lastNext = QStringLiteral("x");
            for (; pages < 20 && !path.empty(); ++pages) {
                const PageView page = viewPage(getBody(path));
                EXPECT_EQ(page.results.size(), 10) << path;
                // "<上一页" only after the first page; page numbers are "next" links too.
                bool hasPrev = false;
                for (const Link& l : page.classNext)
                    hasPrev = hasPrev || l.text == QStringLiteral("<上一页");
                EXPECT_EQ(hasPrev, pages > 0) << path;
                EXPECT_EQ(page.classNext.size(), expected - 1 + (pages > 0) + (pages + 1 < expected)) << path;
                lastNext = nextHref(page);
                path = lastNext.toStdString();
            }
            EXPECT_EQ(pages, expected) << kw << type;
            EXPECT_TRUE(lastNext.isEmpty());
        }
    }
    EXPECT_GE(counts.size(), 2u);  // the count depends on the query

    // A fixed page count, and pages past the end hold nothing.
    o.pagesPerQuery = 2;
    o.resultsPerPage = 4;
    service->stop();
    startService(o);
    const std::string w = composeW(QStringLiteral("教程"), QStringLiteral("ppt"));
    const PageView p1 = viewPage(getBody("/p?w=" + w));
    const PageView p2 = viewPage(getBody("/p?w=" + w + "&pn=2"));
    const PageView p3 = viewPage(getBody("/p?w=" + w + "&pn=3"));
    EXPECT_EQ(p1.results.size(), 4);
    EXPECT_FALSE(nextHref(p1).isEmpty());
    EXPECT_TRUE(nextHref(p2).isEmpty());
    EXPECT_TRUE(p3.hasContainer);
    EXPECT_TRUE(p3.results.isEmpty());
    EXPECT_TRUE(nextHref(p3).isEmpty());
}

namespace {

bool isVerification(const QByteArray& body)
{
    return body.count(verificationMarker().toUtf8()) == 1;
}

} // namespace

TEST_F(DemoSearchPages, TooManyResultPagesTurnIntoTheVerificationPageUntilAnswered)
{
    DemoOptions o;
    o.rateLimitPages = 3;
    o.rateLimitWindowSeconds = 30;
    o.captchaTimeoutSeconds = 60;
    startService(o);
    const std::string path = "/p?w=" + composeW(QStringLiteral("教程"), QStringLiteral("pdf"));
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(isVerification(getBody(path))) << i;
    const QByteArray blocked = getBody(path + "&pn=2");
    ASSERT_TRUE(isVerification(blocked));
    EXPECT_FALSE(viewPage(blocked).hasContainer);
    EXPECT_TRUE(isVerification(getBody(path)));
    EXPECT_FALSE(isVerification(getBody("/p?w=1")));  // the home page is not blocked

    const PageView view = viewPage(blocked);
    const QString code = view.textOfId(QStringLiteral("verify-code"));
    ASSERT_FALSE(code.isEmpty());
    bool hasCodeInput = false;
    for (const Input& in : view.inputs)
        hasCodeInput = hasCodeInput || in.name == QStringLiteral("code");
    EXPECT_TRUE(hasCodeInput);

    // A wrong code keeps the block; the right one lifts it and goes back.
    auto wrong = client->Post("/verify", "code=0&back=%2Fp%3Fw%3D1", "application/x-www-form-urlencoded");
    ASSERT_TRUE(wrong);
    EXPECT_TRUE(isVerification(QByteArray::fromStdString(wrong->body)));
    EXPECT_TRUE(isVerification(getBody(path)));
    const std::string form = "code=" + code.toStdString() + "&back="
                             + QUrl::toPercentEncoding(QString::fromStdString(path + "&pn=2")).toStdString();
    auto right = client->Post("/verify", form, "application/x-www-form-urlencoded");
    ASSERT_TRUE(right);
    EXPECT_EQ(right->status, 302);
    // (httplib's client hands Location over percent-decoded.)
    EXPECT_EQ(right->get_header_value("Location"),
              QByteArray::fromPercentEncoding(QByteArray::fromStdString(path + "&pn=2")).toStdString());
    // The count starts afresh: three more pages pass.
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(isVerification(getBody(path))) << i;
    EXPECT_TRUE(isVerification(getBody(path)));
    // The GET form of the answer works too, and never redirects off the service.
    const QString code2 = viewPage(getBody(path)).textOfId(QStringLiteral("verify-code"));
    auto viaGet = client->Get(("/verify?code=" + code2.toStdString() + "&back=http%3A%2F%2Fexample.com%2F").c_str());
    ASSERT_TRUE(viaGet);
    EXPECT_EQ(viaGet->status, 302);
    EXPECT_EQ(viaGet->get_header_value("Location"), "/p?w=1");
    EXPECT_FALSE(isVerification(getBody(path)));
}

TEST_F(DemoSearchPages, VerificationLiftsAfterTimeoutAndWindowSlides)
{
    DemoOptions o;
    o.rateLimitPages = 2;
    o.rateLimitWindowSeconds = 1;
    o.captchaTimeoutSeconds = 1;
    startService(o);
    const std::string path = "/p?w=" + composeW(QStringLiteral("手册"), QStringLiteral("doc"));
    // Two pages, a pause longer than the window, two more: never blocked.
    EXPECT_FALSE(isVerification(getBody(path)));
    EXPECT_FALSE(isVerification(getBody(path)));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(isVerification(getBody(path)));
    EXPECT_FALSE(isVerification(getBody(path)));
    EXPECT_TRUE(isVerification(getBody(path)));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(isVerification(getBody(path)));
}

TEST_F(DemoSearchPages, RateLimitCountsAllClientsTogether)
{
    DemoOptions o;
    o.rateLimitPages = 5;
    o.captchaTimeoutSeconds = 60;
    startService(o);
    std::atomic<int> results{0}, blocked{0}, failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client c("127.0.0.1", int(service->port()));
            c.set_url_encode(false);
            for (int i = 0; i < 5; ++i) {
                auto res = c.Get(("/p?w=q" + std::to_string(t) + "+filetype%3Apdf&pn=" + std::to_string(i + 1)).c_str());
                if (!res || res->status != 200)
                    ++failed;
                else if (isVerification(QByteArray::fromStdString(res->body)))
                    ++blocked;
                else
                    ++results;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(results.load(), 5);
    EXPECT_EQ(blocked.load(), 15);
}
