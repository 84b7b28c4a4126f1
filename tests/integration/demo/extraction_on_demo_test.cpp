// The result extraction over the demo's pages gives what the demo's data
// promises: per page the slots that survive the title rules, and the
// verification page recognised as such.

#include "DemoTestUtil.h"
#include "demo/DemoSearch.h"
#include "search/Extraction.h"

#include <QUrl>

using namespace dh::demo;
using namespace dh::demo::test;

class DemoExtraction : public DemoFixture {};

TEST_F(DemoExtraction, EachPageYieldsTheSlotsTheTitleRulesKeep)
{
    DemoOptions o;
    o.rateLimitPages = -1;
    startService(o);
    for (const char* type : {"pdf", "xls", ""}) {
        const std::string w = composeW(QStringLiteral("C 语言"), QString::fromLatin1(type));
        for (int page : {1, 2, 3}) {
            SCOPED_TRACE(std::string(type) + " page " + std::to_string(page));
            const std::string path = "/p?w=" + w + "&pn=" + std::to_string(page);
            const QByteArray body = getBody(path);
            auto doc = dh::Document::parse(body, QUrl(base() + QString::fromStdString(path)),
                                           QStringLiteral("text/html; charset=utf-8"));
            const dh::PageExtraction ex = dh::extractResultLinks(*doc, dh::ExtractOptions{});
            EXPECT_FALSE(ex.verificationPage);
            ASSERT_TRUE(ex.hasContainer);

            const QList<DemoResult> data = resultsFor(parseSearchQuery("w=" + w + "&pn=" + std::to_string(page)), base(), o);
            const QList<int> kept = page == 1 ? QList<int>{0, 1, 2, 4, 7, 8} : QList<int>{0, 1, 2, 4, 7, 8, 9};
            ASSERT_EQ(ex.links.size(), kept.size());
            for (int i = 0; i < kept.size(); ++i) {
                const DemoResult& r = data[kept[i]];
                EXPECT_EQ(ex.links[i].url, r.absoluteUrl) << i;
                EXPECT_EQ(ex.links[i].type, r.linkType) << i;
                EXPECT_FALSE(ex.links[i].title.contains(QLatin1Char(' '))) << i;
                EXPECT_FALSE(ex.links[i].title.contains(QStringLiteral("..."))) << i;
                EXPECT_FALSE(ex.links[i].title.startsWith(QStringLiteral("【"))) << i;
            }
            // Later pages repeat page 1's first link (the list refuses it again).
            if (page > 1) {
                const QList<DemoResult> first = resultsFor(parseSearchQuery("w=" + w), base(), o);
                EXPECT_EQ(ex.links[4].url, first[0].absoluteUrl);
            }
        }
    }
}

TEST_F(DemoExtraction, VerificationPageIsRecognised)
{
    DemoOptions o;
    o.rateLimitPages = 0;
    startService(o);
    const std::string path = "/p?w=" + composeW(QStringLiteral("教程"), QStringLiteral("pdf"));
    auto doc = dh::Document::parse(getBody(path), QUrl(base() + QString::fromStdString(path)));
    const dh::PageExtraction ex = dh::extractResultLinks(*doc, dh::ExtractOptions{});
    EXPECT_TRUE(ex.verificationPage);
    EXPECT_TRUE(ex.links.isEmpty());
}
