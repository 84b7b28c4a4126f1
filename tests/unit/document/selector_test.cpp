// CSS selectors on the document model: one table of selector, page and the
// ids of the elements expected, in document order; refusals name the place.
#include "html/Document.h"
#include "html/Selector.h"

#include <gtest/gtest.h>

using namespace dh;

namespace {

const char* kPage = R"(
<div id="r" class="results main">
  <h3 id="h1" class="t"><a id="a1" href="/x.pdf" data-u="http://real/x.pdf">One</a></h3>
  <h3 id="h2"><a id="a2" href="http://other/y.doc" rel="nofollow noopener">Two</a><a id="a3">no href</a></h3>
  <p id="p1"><span id="s1"><a id="a4" href="#top" lang="zh-CN">Three</a></span></p>
  <ul id="u"><li id="l1">x</li><li id="l2" class="next">下一页&gt;</li><li id="l3">z</li></ul>
</div>
<div id="d2" class="results"><h3 id="h3"><a id="a5" href="/z.ppt">Four</a></h3></div>
)";

QString idsOf(const ElementCollection& c)
{
    QStringList ids;
    for (const Element& e : c)
        ids << e.id();
    return ids.join(QLatin1Char(','));
}

struct Case {
    const char* selector;
    const char* ids;
};

class Selectors : public ::testing::TestWithParam<Case> {};

TEST_P(Selectors, MatchInDocumentOrderOnce)
{
    const auto doc = Document::fromHtml(QString::fromUtf8(kPage), QUrl(QStringLiteral("http://h.test/")));
    EXPECT_EQ(idsOf(doc->querySelectorAll(QString::fromUtf8(GetParam().selector))),
              QString::fromUtf8(GetParam().ids))
        << GetParam().selector;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Selectors,
    ::testing::Values(Case{"h3", "h1,h2,h3"}, Case{"H3 > A", "a1,a2,a3,a5"}, Case{"#r a", "a1,a2,a3,a4"},
                      Case{".results", "r,d2"}, Case{".results.main h3", "h1,h2"}, Case{"div > a", ""},
                      Case{"div a[href]", "a1,a2,a4,a5"}, Case{"a[href$='.pdf'], a[href$=\".ppt\"]", "a1,a5"},
                      Case{"a[href^=http]", "a2"}, Case{"a[href*=\"other\"]", "a2"},
                      Case{"a[rel~=noopener]", "a2"}, Case{"a[rel=noopener]", ""}, Case{"[data-u]", "a1"},
                      Case{"h3 a:first-child", "a1,a2,a5"}, Case{"li:nth-of-type(2)", "l2"},
                      Case{"h3:nth-of-type(2) a", "a2,a3"}, Case{"a:not([href])", "a3"},
                      Case{"li:not(.next)", "l1,l3"}, Case{"p *", "s1,a4"}, Case{"* > span > a", "a4"},
                      // Overlapping list entries give each element once.
                      Case{"a, h3 a, #a1", "a1,a2,a3,a4,a5"}, Case{"div div h3", ""},
                      Case{"#r > h3 > a[href]:first-child", "a1,a2"}));

TEST(Selectors, ScopedQueriesSeeAncestorsButReturnOnlyDescendants)
{
    const auto doc = Document::fromHtml(QString::fromUtf8(kPage), QUrl(QStringLiteral("http://h.test/")));
    const Element h2 = doc->getElementById(QStringLiteral("h2"));
    EXPECT_EQ(idsOf(h2.querySelectorAll(QStringLiteral("#r a"))), QStringLiteral("a2,a3"));
    EXPECT_EQ(h2.querySelector(QStringLiteral("a[href]")).id(), QStringLiteral("a2"));
    EXPECT_TRUE(h2.querySelector(QStringLiteral("h3")).isNull());  // not itself
}

TEST(Selectors, RefusalsSayWhere)
{
    struct Bad {
        const char* text;
        const char* message;
    } rows[] = {{"", "expected a selector at position 1"},
                {"div >", "expected a selector at position 6"},
                {"a[href", "expected ']' at position 7"},
                {"a:hover", "unsupported pseudo-class ':hover' at position 8"},
                {"li:nth-of-type(0)", "expected a whole number from 1 at position 17"},
                {"a:not(:not(b))", ":not cannot be nested at position 11"},
                {"a[x|=y]", "unknown attribute operator at position 4"},
                {"a,,b", "expected a selector at position 3"}};
    for (const Bad& b : rows) {
        QString error;
        EXPECT_FALSE(css::SelectorList::parse(QString::fromUtf8(b.text), &error).has_value()) << b.text;
        EXPECT_EQ(error.toStdString(), b.message) << b.text;
    }
}

// Descendant chains on a deep page: one pass, not one walk up per element.
TEST(Selectors, DeepNestingStaysLinear)
{
    QString html;
    for (int i = 0; i < 400; ++i)
        html += QStringLiteral("<div class=\"d\">");
    for (int i = 0; i < 2000; ++i)
        html += QStringLiteral("<a href=\"/%1.pdf\">x</a>").arg(i);
    const auto doc = Document::fromHtml(html, QUrl(QStringLiteral("http://h.test/")));
    EXPECT_EQ(doc->querySelectorAll(QStringLiteral(".d .d .d .d a")).length(), 2000);
}

} // namespace
