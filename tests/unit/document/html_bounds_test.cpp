// The linear pre-scan that bounds nesting depth and attributes before the
// HTML parser: what it cuts, and what ordinary pages keep untouched.
#include "html/Document.h"
#include "html/HtmlBounds.h"

#include <gtest/gtest.h>

using namespace dh;

namespace {

QByteArray repeat(const char* piece, int n)
{
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += piece;
    return out;
}

struct BoundsCase {
    const char* name;
    QByteArray html;
    int maxNesting;
    int droppedTags;
    int droppedAttributes;
};

} // namespace

TEST(HtmlBounds, CutsOnlyWhatGoesBeyondTheBounds)
{
    const BoundsCase cases[] = {
        {"ordinary page", "<html><body><div><p>a<p>b<ul><li>x<li>y</ul><br><img src=x></div></body></html>", 4, 0, 0},
        {"nesting beyond the bound", repeat("<div>", 10) + "t" + repeat("</div>", 10), 4, 12, 0},
        {"unclosed paragraphs and cells do not count", repeat("<p>x", 50) + repeat("<td>y", 50), 4, 0, 0},
        {"markup inside scripts and comments is text",
         "<script>" + repeat("<div>", 20) + "</script><!--" + repeat("<div>", 20) + "-->", 4, 0, 0},
        {"quoted '>' in attributes", "<div title=\"a>b\"><div title='c>d'><div>x</div></div></div>", 2, 2, 0},
        {"self-closing divs still nest", repeat("<div/>", 10), 4, 6, 0},
        {"self-closing in svg does not nest", "<svg>" + repeat("<path/>", 10) + "</svg>", 2, 0, 0},
        {"attributes beyond the bound", "<span" + repeat(" a", 70) + ">x</span>", 512, 0, 6},
    };
    for (const BoundsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const html::BoundedMarkup b = html::boundMarkup(c.html, c.maxNesting, 64);
        EXPECT_EQ(b.droppedTags, c.droppedTags);
        EXPECT_EQ(b.droppedAttributes, c.droppedAttributes);
        if (!c.droppedTags && !c.droppedAttributes)
            EXPECT_EQ(b.utf8, c.html);
    }
}

// Two elements, two texts and an attribute are five nodes: a budget of five
// parses, four refuses.
TEST(HtmlBounds, NodeBudget)
{
    const struct {
        qint64 maxNodes;
        bool tooMany;
    } rows[] = {{5, false}, {4, true}};
    for (const auto& r : rows) {
        const html::BoundedMarkup b = html::boundMarkup("<p class=x>a</p><p>b</p>", 512, 64, r.maxNodes);
        EXPECT_EQ(b.tooManyNodes, r.tooMany) << r.maxNodes;
    }
}

TEST(HtmlBounds, CutTreeKeepsTextAndWhatFollows)
{
    const QByteArray html = "<body><div id=\"top\">" + repeat("<div><b>", 600) + "deep" + repeat("</b></div>", 600)
                            + "</div><p id=\"after\">after</p></body>";
    const DocumentPtr doc = Document::fromHtml(QString::fromUtf8(html), QUrl(QStringLiteral("http://x/")));
    EXPECT_TRUE(doc->getElementById(QStringLiteral("top")).innerText().contains(QStringLiteral("deep")));
    EXPECT_EQ(doc->getElementById(QStringLiteral("after")).parentElement().tagName(), QStringLiteral("BODY"));
}
