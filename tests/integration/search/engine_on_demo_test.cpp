#include "SearchFixture.h"

#include <QCoroTimer>
#include <QTimer>

using namespace dh;
using namespace dh::test;

namespace {

demo::DemoOptions unlimited()
{
    demo::DemoOptions o;
    o.rateLimitPages = -1;
    return o;
}

TEST_F(SearchFixture, BatchRunsGroupsAndTypesInOrderAndCollectsEveryPage)
{
    start(unlimited());
    engine->typeTicked = {true, true, false, false};
    batch(QStringLiteral("教程\r\n\r\n   \r\n手册\r\n"));

    std::vector<std::pair<QString, QString>> order;
    for (const auto& q : queries)
        order.emplace_back(q.keywords, q.type);
    const std::vector<std::pair<QString, QString>> want{
        {"教程", "pdf"}, {"教程", "doc"}, {"手册", "pdf"}, {"手册", "doc"}};
    EXPECT_EQ(order, want);
    EXPECT_EQ(engine->doneLog(), QStringLiteral("教程(pdf) 教程(doc) 手册(pdf) 手册(doc) "));
    ASSERT_EQ(queries.size(), 4u);
    EXPECT_EQ(queries[0].url, base + QStringLiteral("/p?w=%E6%95%99%E7%A8%8B+filetype%3Apdf"));

    QSet<QString> want_urls;
    for (const auto& [k, t] : want)
        want_urls += expectedUrls(k, t);
    EXPECT_EQ(listedUrls(), want_urls);
    EXPECT_EQ(engine->links()->size(), want_urls.size());

    // The batch ends on the home page, idle.
    ASSERT_FALSE(completed.isEmpty());
    EXPECT_EQ(completed.last(), searchHomeAddress(base));
    EXPECT_TRUE(engine->stopBatch);
    EXPECT_TRUE(engine->stopAddAll);
    EXPECT_FALSE(engine->captchaHit);
    EXPECT_EQ(engine->batchButton().caption, QStringLiteral("开始批量搜索提取"));
    EXPECT_TRUE(engine->batchButton().enabled);
    EXPECT_FALSE(engine->batchButton().red);
    EXPECT_EQ(engine->addAllButton().caption, QStringLiteral("加入全部到列表"));
}

TEST_F(SearchFixture, TitlesAreCleanedRefererIsTheResultPageAndExcludedLinksStayOut)
{
    auto o = unlimited();
    o.pagesPerQuery = 2;
    start(o);
    engine->typeTicked = {true, false, false, false};
    batch(QStringLiteral("教程"));

    demo::SearchQuery q;
    q.home = false;
    q.keywords = QStringLiteral("教程");
    q.type = QStringLiteral("pdf");
    const QString page1 = base + QStringLiteral("/p?w=%E6%95%99%E7%A8%8B+filetype%3Apdf");
    for (int p = 1; p <= 2; ++p) {
        q.page = p;
        for (const demo::DemoResult& r : demo::resultsFor(q, base, service->state().options)) {
            const LinkItem* it = linkFor(r.absoluteUrl);
            using S = demo::ResultSlot;
            switch (r.slot) {
            case S::BaiduSuffix:
            case S::SiteSuffix:
            case S::UnknownType:
                EXPECT_EQ(it, nullptr) << qPrintable(r.titleText);
                break;
            case S::TypePrefix:
                ASSERT_NE(it, nullptr);
                EXPECT_FALSE(it->title.contains(QStringLiteral("【"))) << qPrintable(it->title);
                EXPECT_EQ(it->title, r.titleText.mid(5).remove(QLatin1Char(0x20)));
                break;
            case S::Ellipsis:
                ASSERT_NE(it, nullptr);
                EXPECT_EQ(it->title, QString(r.titleText).remove(QStringLiteral("...")).remove(QLatin1Char(0x20)));
                EXPECT_TRUE(it->title.contains(QLatin1Char('&')));
                break;
            case S::UpperCaseExt:
                ASSERT_NE(it, nullptr);
                EXPECT_EQ(it->fileType, QStringLiteral("pdf"));
                EXPECT_TRUE(it->title.endsWith(QStringLiteral("-百度文库网")));
                break;
            case S::ProtectedOrDuplicate:
                if (p == 1) {
                    ASSERT_NE(it, nullptr);
                } else {
                    // The first link of page 1 again: listed once, from page 1.
                    ASSERT_NE(it, nullptr);
                    EXPECT_EQ(it->referer, page1);
                }
                break;
            case S::DotsOrSpaces:
                if (p == 1)
                    EXPECT_EQ(it, nullptr);
                else
                    EXPECT_EQ(it->title, QStringLiteral("教程全集") + QString::number(r.absoluteUrl.section('-', -1).section('.', 0, 0).toInt()));
                break;
            default:
                ASSERT_NE(it, nullptr);
                EXPECT_FALSE(it->title.contains(QLatin1Char(' ')));
                EXPECT_EQ(it->referer, p == 1 ? page1 : page1 + QStringLiteral("&pn=2"));
                EXPECT_EQ(it->fileType, QStringLiteral("pdf"));
                EXPECT_EQ(it->status, QString());
                EXPECT_EQ(it->folder, QString());
            }
        }
    }
}

TEST_F(SearchFixture, DelayIsAppliedBetweenPagesNotBeforeTheFirst)
{
    auto o = unlimited();
    o.pagesPerQuery = 4;
    start(o);
    engine->typeTicked = {true, false, false, false};
    engine->delaySeconds = 3;  // 3 x 50 ms
    batch(QStringLiteral("教程"));

    std::vector<qint64> pageTimes;
    for (int i = 0; i < completed.size(); ++i) {
        if (completed[i].contains(QStringLiteral("filetype%3Apdf")))
            pageTimes.push_back(completedAt[size_t(i)]);
    }
    ASSERT_EQ(pageTimes.size(), 4u);
    // The pause follows each next-page click: page 2 comes straight after
    // page 1, every later page after at least the delay.
    for (size_t i = 2; i < pageTimes.size(); ++i)
        EXPECT_GE(pageTimes[i] - pageTimes[i - 1], 150) << i;
    EXPECT_EQ(listedUrls(), expectedUrls(QStringLiteral("教程"), QStringLiteral("pdf")));
    EXPECT_EQ(engine->links()->size(), 24);
}

TEST_F(SearchFixture, VerificationPageEndsAddAllAndBatchWithoutMessage)
{
    auto o = unlimited();
    o.pagesPerQuery = 6;
    o.rateLimitPages = 3;
    o.rateLimitWindowSeconds = 60;
    start(o);
    engine->typeTicked = {true, true, false, false};
    batch(QStringLiteral("教程\n手册"));

    EXPECT_TRUE(engine->captchaHit);
    ASSERT_EQ(queries.size(), 1u);  // the doc search and the second group never ran
    EXPECT_EQ(engine->doneLog(), QStringLiteral("教程(pdf) "));
    // Pages 1-3 were collected; the fourth answered with the verification page.
    EXPECT_EQ(listedUrls(), expectedUrls(QStringLiteral("教程"), QStringLiteral("pdf"), 3));
    ASSERT_FALSE(verificationUrls.isEmpty());
    const QString verifyPage = queries[0].url + QStringLiteral("&pn=4");
    EXPECT_EQ(verificationUrls.first(), verifyPage);
    // The browser stays on it: nothing was loaded after it (no home page).
    ASSERT_FALSE(completed.isEmpty());
    EXPECT_EQ(completed.last(), verifyPage);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_TRUE(engine->stopBatch);
    EXPECT_TRUE(engine->stopAddAll);
    EXPECT_EQ(engine->batchButton().caption, QStringLiteral("开始批量搜索提取"));

    // A new add-all outside a batch clears the flag and reads the page again.
    const int before = engine->links()->size();
    QCoro::waitFor(engine->addAllPagesTask());
    EXPECT_TRUE(engine->captchaHit);  // still the verification page
    EXPECT_EQ(engine->links()->size(), before);
}

TEST_F(SearchFixture, StopClickEndsTheBatchAfterThePageShown)
{
    auto o = unlimited();
    o.pagesPerQuery = 6;
    start(o);
    engine->typeTicked = {true, true, true, true};
    engine->delaySeconds = 2;
    bool disabledWhileStopping = false;
    QObject::connect(engine.get(), &SearchEngine::queryStarted, engine.get(), [this, &disabledWhileStopping] {
        engine->batchSearch(QString());  // the stop click, during the page load
        disabledWhileStopping = !engine->batchButton().enabled && engine->batchRunning();
    });
    batch(QStringLiteral("教程\n手册"));
    EXPECT_TRUE(disabledWhileStopping);
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(engine->doneLog(), QStringLiteral("教程(pdf) "));
    EXPECT_TRUE(engine->batchButton().enabled);
    EXPECT_EQ(engine->batchButton().caption, QStringLiteral("开始批量搜索提取"));
    EXPECT_LE(engine->links()->size(), 6);  // at most the one page shown
    // The home page is asked for without waiting; it arrives a moment later.
    ASSERT_TRUE(spinUntil([this] { return !browser->busy() && !completed.isEmpty()
                                          && completed.last() == searchHomeAddress(base); }));
}

TEST_F(SearchFixture, NoTypeTickedVisitsNothingAndEndsOnTheHomePage)
{
    start(unlimited());
    engine->typeTicked = {false, false, false, false};
    batch(QStringLiteral("教程\n手册"));
    EXPECT_TRUE(queries.empty());
    EXPECT_EQ(engine->doneLog(), QString());
    EXPECT_EQ(completed, QStringList{searchHomeAddress(base)});
}

TEST_F(SearchFixture, WholeKeywordsAreQuoted)
{
    auto o = unlimited();
    o.pagesPerQuery = 1;
    start(o);
    engine->typeTicked = {true, false, false, false};
    engine->wholeKeywords = true;
    batch(QStringLiteral("C 语言"));
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].url, base + QStringLiteral("/p?w=%22C %E8%AF%AD%E8%A8%80%22+filetype%3Apdf"));
    EXPECT_EQ(engine->links()->size(), 6);
    for (const LinkItem& it : engine->links()->items())
        EXPECT_TRUE(it.title.startsWith(QStringLiteral("C语言"))) << qPrintable(it.title);
}

TEST_F(SearchFixture, AddAllOnTheLastPageClicksNothingAndAddThisPageRepeatsHarmlessly)
{
    auto o = unlimited();
    o.pagesPerQuery = 3;
    start(o);
    const QString last = composeSearchAddress(base, QStringLiteral("教程"), QStringLiteral("pdf"), false)
                         + QStringLiteral("&pn=3");
    ASSERT_TRUE(load(last));
    const int loads = completed.size();
    engine->captchaHit = true;  // an add-all outside a batch starts afresh
    QCoro::waitFor(engine->addAllPagesTask());
    EXPECT_FALSE(engine->captchaHit);
    EXPECT_EQ(completed.size(), loads);  // no next-page link: nothing followed
    EXPECT_EQ(engine->links()->size(), 7);  // six kept slots and page 1's first link, new here
    for (const LinkItem& it : engine->links()->items())
        EXPECT_EQ(it.referer, last);

    QCoro::waitFor(engine->addCurrentPageTask());
    EXPECT_EQ(engine->links()->size(), 7);
}

TEST_F(SearchFixture, BatchIsRefusedWhileAddAllRuns)
{
    auto o = unlimited();
    o.pagesPerQuery = 3;
    start(o);
    ASSERT_TRUE(load(composeSearchAddress(base, QStringLiteral("教程"), QStringLiteral("pdf"), false)));
    engine->delaySeconds = 100;  // 5 s between pages: long enough to try a batch meanwhile
    engine->addAllPages();
    ASSERT_TRUE(engine->addAllRunning());
    EXPECT_EQ(engine->addAllButton().caption, QStringLiteral("停止加入全部"));
    EXPECT_TRUE(engine->addAllButton().red);
    ASSERT_TRUE(spinUntil([this] { return completed.size() >= 2; }));  // page 2 reached, now pausing
    batch(QStringLiteral("手册"));
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("正在提取网页信息，请停止以后使用该功能！")});
    EXPECT_TRUE(queries.empty());

    QElapsedTimer t;
    t.start();
    engine->addAllPages();  // stop: the pause ends at once
    EXPECT_FALSE(engine->addAllButton().enabled);
    ASSERT_TRUE(spinUntil([this] { return engine->addAllButton().caption == QStringLiteral("加入全部到列表"); }));
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(engine->addAllButton().enabled);
    EXPECT_EQ(engine->addAllButton().caption, QStringLiteral("加入全部到列表"));
    EXPECT_EQ(engine->links()->size(), 12);  // pages 1 and 2
}

// Waits for a page that never comes (the service holds page 2 of
// /hostile/stall for 30 s): a stop ends the wait at once, a short wait runs
// out, and the page shown before is never read as the query's. A wait that
// missed its stop would end only when the held page arrives, which the last
// check sees.
struct WaitRow {
    const char* name;
    const char* query;      // the profile's query template; nullptr: the default one under /hostile/stall/30
    bool staleResultPage;   // a result page of another query is shown when the batch starts
    int pageLoadWaitMs;
    const char* stopOn;     // the stop click comes 100 ms after a navigation to an address holding this
    int links;
    const char* failure;    // text of the query failure, or nullptr
};

void PrintTo(const WaitRow& r, std::ostream* os)
{
    *os << r.name;
}

constexpr int kHour = 3600 * 1000;
const char* const kHeldQuery = "{base}/hostile/stall/30/p?pn=2&w={keywords}+filetype%3A{type}";

const WaitRow kWaitRows[] = {
    {"StopWhileTheNextPageIsHeld", nullptr, false, kHour, "pn=2", 2, nullptr},
    {"StopWhileTheQueryPageIsHeld", kHeldQuery, true, kHour, "stall", 0, nullptr},
    {"QueryPageThatNeverComesTimesOut", kHeldQuery, true, 300, nullptr, 0, "页面在 0.3 秒内没有打开"},
};

class PageWaits : public SearchFixture, public ::testing::WithParamInterface<WaitRow> {};

TEST_P(PageWaits, EndOnStopOrTimeoutAndNeverReadThePageBefore)
{
    const WaitRow& row = GetParam();
    start(unlimited());
    timings().pageLoadWait = std::chrono::milliseconds(row.pageLoadWaitMs);
    timings().nextPageWait = std::chrono::milliseconds(kHour);
    if (row.staleResultPage)
        ASSERT_TRUE(load(composeSearchAddress(base, QStringLiteral("手册"), QStringLiteral("doc"), false)));
    engine->typeTicked = {true, false, false, false};
    if (row.query)
        engine->profile.query = QString::fromLatin1(row.query);
    else
        engine->searchBase = base + QStringLiteral("/hostile/stall/30");
    if (row.stopOn) {
        QObject::connect(browser.get(), &Browser::beforeNavigate, engine.get(), [this, &row](const QString& url) {
            if (url.contains(QLatin1String(row.stopOn)))
                QTimer::singleShot(100, engine.get(), [this] { engine->batchSearch(QString()); });
        });
    }
    QStringList failures;
    QObject::connect(engine.get(), &SearchEngine::queryFailed, engine.get(),
                     [&](const QString&, const QString&, const QString&, const QString& why) { failures << why; });

    batch(QStringLiteral("教程"));

    EXPECT_EQ(engine->batchSummary().end, row.stopOn ? BatchEnd::Stopped : BatchEnd::Finished);
    EXPECT_EQ(engine->links()->size(), row.links);
    if (row.failure) {
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures.front().contains(QString::fromUtf8(row.failure))) << qPrintable(failures.front());
    } else {
        EXPECT_TRUE(failures.isEmpty()) << qPrintable(failures.join(QLatin1String("; ")));
    }
    for (const QString& u : completed)
        EXPECT_FALSE(u.contains(QLatin1String("pn=2"))) << "the held page arrived: " << qPrintable(u);
}

INSTANTIATE_TEST_SUITE_P(Rows, PageWaits, ::testing::ValuesIn(kWaitRows),
                         [](const ::testing::TestParamInfo<WaitRow>& i) { return std::string(i.param.name); });

// The pause between pages wakes when the delay box changes: a two-minute pause
// shortened to nothing ends at once. Missing the change, the batch would
// still be pausing long after the bound below.
TEST_F(SearchFixture, DelayShortenedDuringAPauseTakesEffectAtOnce)
{
    auto o = unlimited();
    o.pagesPerQuery = 3;
    start(o);
    timings().secondUnit = std::chrono::milliseconds(1000);
    engine->typeTicked = {true, false, false, false};
    engine->setDelaySeconds(120);
    QObject::connect(browser.get(), &Browser::documentComplete, engine.get(), [this](bool, const QString& url) {
        if (url.contains(QLatin1String("pn=2")))
            QTimer::singleShot(100, engine.get(), [this] { engine->setDelaySeconds(0); });
    });
    bool finished = false;
    QObject::connect(engine.get(), &SearchEngine::batchFinished, engine.get(), [&finished] { finished = true; });
    engine->batchSearch(QStringLiteral("教程"));
    ASSERT_TRUE(spinUntil([&finished] { return finished; }, 30000));
    EXPECT_EQ(engine->batchSummary().end, BatchEnd::Finished);
    EXPECT_EQ(listedUrls(), expectedUrls(QStringLiteral("教程"), QStringLiteral("pdf")));
}

} // namespace
