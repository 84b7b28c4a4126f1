#include "html/Document.h"
#include "search/Extraction.h"

#include <gtest/gtest.h>

using namespace dh;

namespace {

const QUrl kPage(QStringLiteral("http://search.test/p?w=x+filetype%3Apdf"));

QString page(const QString& headings)
{
    return QStringLiteral("<html><body><div class=\"content-net-left\">") + headings
           + QStringLiteral("</div></body></html>");
}

QString heading(const QString& href, const QString& text)
{
    return QStringLiteral("<h3><a href=\"%1\">%2</a></h3>").arg(href, text);
}

PageExtraction extract(const QString& html, const ExtractOptions& o = {})
{
    auto doc = Document::fromHtml(html, kPage);
    return extractResultLinks(*doc, o);
}

struct TypeCase {
    const char* url;
    const char* type;
};

class TypeFromUrl : public ::testing::TestWithParam<TypeCase> {};

TEST_P(TypeFromUrl, LastFourCharacters)
{
    EXPECT_EQ(fileTypeFromUrl(QString::fromUtf8(GetParam().url)), QString::fromUtf8(GetParam().type));
}

INSTANTIATE_TEST_SUITE_P(Table, TypeFromUrl,
                         ::testing::Values(TypeCase{"http://h/a.pdf", "pdf"}, TypeCase{"http://h/a.Pdf", "pdf"},
                                           TypeCase{"http://h/a.DOC", "doc"}, TypeCase{"/x.xls", "xls"},
                                           TypeCase{"/x.ppt", "ppt"}, TypeCase{"/x.txt", "txt"},
                                           TypeCase{"/x.pdfx", ""}, TypeCase{"/x.html", ""},
                                           TypeCase{"/x.docx", ""}, TypeCase{"/view?id=3", ""},
                                           TypeCase{"pdf", ""}));

struct TitleCase {
    const char* text;
    const char* type;
    bool removeSpaces;
    const char* expected;
};

class TitleCleaning : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleCleaning, Cleans)
{
    const TitleCase& c = GetParam();
    EXPECT_EQ(cleanResultTitle(QString::fromUtf8(c.text), QString::fromUtf8(c.type), c.removeSpaces),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TitleCleaning,
    ::testing::Values(TitleCase{"【PDF】教程", "pdf", true, "教程"}, TitleCase{"【pdf】 教程", "pdf", false, "教程"},
                      TitleCase{"【PDF】教程", "", true, "【PDF】教程"},  // no type: prefix stays
                      TitleCase{"【DOC】教程", "pdf", true, "【DOC】教程"},
                      TitleCase{"C 语言 教程", "pdf", true, "C语言教程"},
                      TitleCase{"C 语言 教程", "pdf", false, "C 语言 教程"},
                      TitleCase{"原理...第1部分", "pdf", true, "原理第1部分"},
                      TitleCase{"......", "pdf", true, ""}, TitleCase{"  教程  ", "pdf", false, "教程"},
                      // Dots removed before the prefix test, spaces trimmed after it.
                      TitleCase{"...【PDF】 教程", "pdf", false, "教程"}));

struct SuffixCase {
    const char* title;
    bool excluded;
};

class ExcludedSuffix : public ::testing::TestWithParam<SuffixCase> {};

TEST_P(ExcludedSuffix, OnlyAtTheVeryEnd)
{
    EXPECT_EQ(isExcludedTitle(QString::fromUtf8(GetParam().title), QStringLiteral("baidu.com")), GetParam().excluded);
}

INSTANTIATE_TEST_SUITE_P(Suffixes, ExcludedSuffix,
                         ::testing::Values(SuffixCase{"教程-道客巴巴", true}, SuffixCase{"教程_百度文库", true},
                                           SuffixCase{"教程-百度文库", true}, SuffixCase{"教程-豆丁网", true},
                                           SuffixCase{"教程-百度文库网", false},
                                           SuffixCase{"教程_百度文库 第二版", false},
                                           SuffixCase{"教程baidu.com豆丁网", true},
                                           SuffixCase{"教程BAIDU.COM豆丁网", true},
                                           SuffixCase{"教程baidu.net豆丁网", false}, SuffixCase{"教程", false}));

TEST(Extraction, ConfiguredDomainReplacesTheDefault)
{
    EXPECT_TRUE(isExcludedTitle(QStringLiteral("a docin.com豆丁网"), QStringLiteral("DocIn.com")));
    EXPECT_FALSE(isExcludedTitle(QStringLiteral("a baidu.com豆丁网"), QStringLiteral("docin.com")));
    EXPECT_FALSE(isExcludedTitle(QStringLiteral("a 豆丁网"), QString()));  // no domain: only the fixed four
}

TEST(Extraction, ReadsHeadingsOfTheFirstContainerOnly)
{
    const QString html = QStringLiteral(
        "<html><body>"
        "<div class=\"content-net-left-ad\"><h3><a href=\"/ad.pdf\">广告</a></h3></div>"
        "<div class=\"x content-net-left\">"
        "<h3><a href=\"/a/1.pdf\">第 一</a> <a href=\"/more.pdf\">更多</a></h3>"
        "<h3>相关搜索</h3>"
        "<p><a href=\"/notheading.pdf\">不在标题里</a></p>"
        "<h3><span><a href=\" http://other.test/2.DOC \"><em>第二</em> 篇</a></span></h3>"
        "</div>"
        "<div class=\"content-net-left\"><h3><a href=\"/second-container.pdf\">第二个容器</a></h3></div>"
        "</body></html>");
    const PageExtraction r = extract(html);
    EXPECT_FALSE(r.verificationPage);
    EXPECT_TRUE(r.hasContainer);
    ASSERT_EQ(r.links.size(), 2);
    EXPECT_EQ(r.links[0].title, QStringLiteral("第一"));
    EXPECT_EQ(r.links[0].url, QStringLiteral("http://search.test/a/1.pdf"));  // absolute
    EXPECT_EQ(r.links[0].type, QStringLiteral("pdf"));
    EXPECT_EQ(r.links[1].title, QStringLiteral("第二篇"));
    EXPECT_EQ(r.links[1].url, QStringLiteral("http://other.test/2.DOC"));
    EXPECT_EQ(r.links[1].type, QStringLiteral("doc"));
}

TEST(Extraction, UnknownTypesFollowTheDropUnknownOption)
{
    const QString html = page(heading("/v/1.html", "网页") + heading("/v/2.pdfx", "怪") + heading("/d/3.pdf", "文档"));
    ExtractOptions o;
    o.dropUnknownType = true;
    ASSERT_EQ(extract(html, o).links.size(), 1);
    o.dropUnknownType = false;
    const PageExtraction all = extract(html, o);
    ASSERT_EQ(all.links.size(), 3);
    EXPECT_EQ(all.links[0].type, QString());
    EXPECT_EQ(all.links[1].type, QString());
}

TEST(Extraction, DropsEmptyTitlesEmptyAddressesAndExcludedSuffixes)
{
    ExtractOptions o;
    o.excludedDomain = QStringLiteral("baidu.com");
    const QString html = page(heading("/1.pdf", "......") + heading("", "无地址.pdf") + heading("/3.pdf", "a_百度文库")
                              + heading("/4.pdf", "b-百度文库网") + heading("/5.pdf", "c baidu.com豆丁网")
                              + QStringLiteral("<h3><a>没有href</a></h3>"));
    const PageExtraction r = extract(html, o);
    ASSERT_EQ(r.links.size(), 1);
    EXPECT_EQ(r.links[0].title, QStringLiteral("b-百度文库网"));
}

TEST(Extraction, VerificationPageAddsNothing)
{
    const QString html = page(heading("/1.pdf", "教程"))
                             .replace(QStringLiteral("<body>"), QStringLiteral("<body><p>请输入以下验证码，即可恢复使用。</p>"));
    const PageExtraction r = extract(html);
    EXPECT_TRUE(r.verificationPage);
    EXPECT_TRUE(r.links.isEmpty());
}

TEST(Extraction, PageWithoutContainerIsNoError)
{
    const PageExtraction r = extract(QStringLiteral("<html><body><h3><a href=\"/1.pdf\">x</a></h3></body></html>"));
    EXPECT_FALSE(r.hasContainer);
    EXPECT_TRUE(r.links.isEmpty());
}

TEST(Extraction, NextPageText)
{
    EXPECT_TRUE(isNextPageText(QStringLiteral("下一页>")));
    EXPECT_TRUE(isNextPageText(QStringLiteral("  下一页>  ")));
    EXPECT_FALSE(isNextPageText(QStringLiteral("下一页")));
    EXPECT_FALSE(isNextPageText(QStringLiteral("<上一页")));
    EXPECT_FALSE(isNextPageText(QStringLiteral("下一页>>")));
}

} // namespace
