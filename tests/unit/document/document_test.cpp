// The gumbo document model on hand-written tricky pages: rendered text,
// malformed markup, class and tag queries, address resolution, charsets,
// and bodies that are not pages at all.
#include "html/Document.h"

#include <QStringEncoder>
#include <gtest/gtest.h>

using namespace dh;

namespace {

const QUrl kUrl(QStringLiteral("http://example.test/dir/page.html?x=1#top"));

DocumentPtr page(const QString& body, const QUrl& url = kUrl)
{
    return Document::fromHtml(QStringLiteral("<!DOCTYPE html><html><head><title>T</title></head><body>") + body
                                  + QStringLiteral("</body></html>"),
                              url);
}

QString q(const char* s) { return QString::fromUtf8(s); }

} // namespace

// ------------------------------------------------------------ innerText

struct TextCase {
    const char* name;
    const char* html;  // inside <div id="t">
    const char* text;
};

class InnerText : public ::testing::TestWithParam<TextCase> {};

TEST_P(InnerText, FollowsRenderedTextRules)
{
    const auto& c = GetParam();
    auto doc = page(QStringLiteral("<div id=\"t\">") + q(c.html) + QStringLiteral("</div>"));
    EXPECT_EQ(doc->getElementById(QStringLiteral("t")).innerText(), q(c.text)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Document, InnerText,
    ::testing::Values(
        TextCase{"collapse", "  a   b \n\t c  ", "a b c"},
        TextCase{"inline boundaries", "<b>a</b> <i> b</i>", "a b"},
        TextCase{"space only between inlines", "a <span> </span> b", "a b"},
        TextCase{"br", "a<br>b<br/>c", "a\nb\nc"},
        TextCase{"blocks", "<div>a</div><div>b</div>", "a\nb"},
        TextCase{"nested blocks", "<div> a <div> b </div> c </div>", "a\nb\nc"},
        TextCase{"paragraphs", "<p>a</p><p>b</p>", "a\n\nb"},
        TextCase{"heading and link", "<h3> <a href=x>  教程  <em>手册</em> </a> </h3>", "教程 手册"},
        TextCase{"script style template", "a<script>var x=1;</script>b<style>p{}</style>c<template>t</template>d", "abcd"},
        TextCase{"noscript", "a<noscript>n</noscript>b", "ab"},
        TextCase{"hidden attribute", "a<span hidden>x</span>b", "ab"},
        TextCase{"display none", "a<span style=\"color:red; DISPLAY : none\">x</span>b", "ab"},
        TextCase{"entities", "&lt;&amp;&gt;&quot;&#x4e2d;&#25991;&copy;", "<&>\"中文©"},
        TextCase{"nbsp kept", "a&nbsp;&nbsp;b", "a\u00a0\u00a0b"},
        TextCase{"dots kept", "【PDF】C 语言...教程", "【PDF】C 语言...教程"},
        TextCase{"pre keeps spaces", "<pre>a\n  b</pre>", "a\n  b"},
        TextCase{"table cells and rows", "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a\tb\nc"},
        TextCase{"list", "<ul><li>a</li><li> b </li></ul>", "a\nb"},
        TextCase{"select and textarea", "a<select><option>o</option></select><textarea>t</textarea>b", "ab"},
        TextCase{"empty", "", ""}));

TEST(Document, InnerTextOfUnrenderedElementIsItsTextContent)
{
    auto doc = page(QStringLiteral("<script id=\"s\">var a = 1;</script>"));
    EXPECT_EQ(doc->getElementById(QStringLiteral("s")).innerText(), QStringLiteral("var a = 1;"));
}

// ------------------------------------------------------- malformed markup

TEST(Document, UnclosedLinkInsideHeadingsStaysInItsHeading)
{
    auto doc = page(QStringLiteral("<div class=\"content-net-left\"><h3><a href=\"1.pdf\">one</h3>"
                                   "<h3><a href=\"2.pdf\">two</a></h3></div>"));
    const Element box = doc->getElementsByClassName(QStringLiteral("content-net-left")).item(0);
    const ElementCollection h3 = box.getElementsByTagName(QStringLiteral("H3"));
    ASSERT_EQ(h3.length(), 2);
    EXPECT_EQ(h3.item(0).getElementsByTagName(QStringLiteral("A")).item(0).href(),
              QStringLiteral("http://example.test/dir/1.pdf"));
    EXPECT_EQ(h3.item(1).getElementsByTagName(QStringLiteral("A")).item(0).innerText(), QStringLiteral("two"));
}

TEST(Document, ContainerClosedEarlyKeepsLaterHeadingsOutside)
{
    auto doc = page(QStringLiteral("<div class=\"content-net-left\"><h3><a href=\"1.pdf\">A</a></h3></div></div>"
                                   "<h3><a href=\"2.pdf\">B</a>"));
    const Element box = doc->getElementsByClassName(QStringLiteral("content-net-left")).item(0);
    EXPECT_EQ(box.getElementsByTagName(QStringLiteral("h3")).length(), 1);
    EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("h3")).length(), 2);
}

TEST(Document, FosterParentedAndStrayMarkup)
{
    auto doc = page(QStringLiteral("</p></span><table><a href=\"f.doc\">in table</a><tr><td>c</td></tr></table>"
                                   "<a href=x id=dup id=second title='it\"s'>q</a><p>unclosed <b>bold"));
    const ElementCollection links = doc->getElementsByTagName(QStringLiteral("a"));
    ASSERT_EQ(links.length(), 2);
    // The link written inside the table is moved before it.
    EXPECT_EQ(links.item(0).parentElement().tagName(), QStringLiteral("BODY"));
    EXPECT_EQ(links.item(0).innerText(), QStringLiteral("in table"));
    // The first of two duplicate attributes wins.
    EXPECT_EQ(links.item(1).id(), QStringLiteral("dup"));
    EXPECT_EQ(links.item(1).getAttribute(QStringLiteral("TITLE")), QStringLiteral("it\"s"));
    EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("b")).item(0).innerText(), QStringLiteral("bold"));
}

TEST(Document, DeepNestingAndHugePagesDoNotExhaustTheStack)
{
    QString deep;
    for (int i = 0; i < 60000; ++i)
        deep += QStringLiteral("<div>");
    deep += QStringLiteral("<a href=\"deep.pdf\">deep</a>");
    auto doc = page(deep);
    // Elements beyond the nesting bound are left out (their text stays), so
    // the tree is as deep as the bound and no deeper.
    const ElementCollection divs = doc->getElementsByTagName(QStringLiteral("div"));
    ASSERT_FALSE(divs.isEmpty());
    const Element a = divs.item(divs.length() - 1);
    EXPECT_EQ(a.innerText(), QStringLiteral("deep"));
    EXPECT_EQ(doc->elementAtPath(a.indexPath()), a);
    EXPECT_GE(a.indexPath().size(), 500);
    EXPECT_FALSE(doc->outerHTML().isEmpty());

    QString huge;
    for (int i = 0; i < 20000; ++i)
        huge += QStringLiteral("<h3><a href=\"f%1.pdf\">标题 %1</a></h3>").arg(i);
    auto big = page(QStringLiteral("<div class=\"content-net-left\">") + huge + QStringLiteral("</div>"));
    const ElementCollection heads = big->getElementsByClassName(QStringLiteral("content-net-left"))
                                        .item(0)
                                        .getElementsByTagName(QStringLiteral("H3"));
    ASSERT_EQ(heads.length(), 20000);
    EXPECT_EQ(heads.item(19999).getElementsByTagName(QStringLiteral("A")).item(0).innerText(),
              QStringLiteral("标题 19999"));
}

// ----------------------------------------------------------------- queries

TEST(Document, ClassQueriesMatchAnyNameOfAClassList)
{
    auto doc = page(QStringLiteral("<div id=a class=\"x  next\tfoo\"><span id=b class=\"next\"></span></div>"
                                   "<p id=c class=\"Next\"></p><p id=d class=\"next-page\"></p>"
                                   "<p id=e class=\"foo next\"></p>"));
    auto ids = [](const ElementCollection& c) {
        QStringList out;
        for (const Element& e : c)
            out << e.id();
        return out.join(QLatin1Char(','));
    };
    EXPECT_EQ(ids(doc->getElementsByClassName(QStringLiteral("next"))), QStringLiteral("a,b,e"));
    // Several names: elements carrying all of them, in document order.
    EXPECT_EQ(ids(doc->getElementsByClassName(QStringLiteral(" foo next "))), QStringLiteral("a,e"));
    EXPECT_EQ(ids(doc->getElementsByClassName(QStringLiteral(""))), QString());
    // On an element only its descendants count.
    EXPECT_EQ(ids(doc->getElementById(QStringLiteral("a")).getElementsByClassName(QStringLiteral("next"))),
              QStringLiteral("b"));
}

TEST(Document, TagQueriesIgnoreCaseAndKeepDocumentOrder)
{
    auto doc = page(QStringLiteral("<h3 id=1><a id=2></a></h3><div><H3 id=3><A id=4></A></H3></div>"));
    const ElementCollection h3 = doc->getElementsByTagName(QStringLiteral("H3"));
    ASSERT_EQ(h3.length(), 2);
    EXPECT_EQ(h3.item(0).id(), QStringLiteral("1"));
    EXPECT_EQ(h3.item(1).id(), QStringLiteral("3"));
    EXPECT_EQ(h3.item(1).tagName(), QStringLiteral("H3"));
    EXPECT_TRUE(h3.item(2).isNull());
    EXPECT_TRUE(h3.item(-1).isNull());
    EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("a")).length(), 2);
    EXPECT_EQ(doc->body().getElementsByTagName(QStringLiteral("*")).length(), 5);
    EXPECT_EQ(doc->getElementById(QStringLiteral("4")).parentElement().id(), QStringLiteral("3"));
    EXPECT_TRUE(doc->getElementById(QStringLiteral("missing")).isNull());
    EXPECT_EQ(doc->title(), QStringLiteral("T"));

    // A null element answers empty values and empty collections.
    const Element none;
    EXPECT_EQ(none.getElementsByTagName(QStringLiteral("a")).length(), 0);
    EXPECT_EQ(none.innerText(), QString());
    EXPECT_FALSE(none.click());
}

TEST(Document, IndexPathsFindEveryElementAgain)
{
    auto doc = page(QStringLiteral("<!-- c --><div>text<p><b>x</b><i>y</i></p>more<ul><li>1</li><li><a>2</a></li></ul></div>"));
    int count = 0;
    for (const Element& e : doc->getElementsByTagName(QStringLiteral("*"))) {
        EXPECT_EQ(doc->elementAtPath(e.indexPath()), e) << e.tagName().toStdString();
        ++count;
    }
    EXPECT_EQ(count, doc->elementCount());
    EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("a")).item(0).indexPath(), (QList<int>{1, 0, 1, 1, 0}));
    EXPECT_TRUE(doc->elementAtPath({1, 9}).isNull());
}

// -------------------------------------------------------------- addresses

struct HrefCase {
    const char* name;
    const char* base;  // <base href>, or nullptr
    const char* href;
    const char* expected;
};

class Href : public ::testing::TestWithParam<HrefCase> {};

TEST_P(Href, IsAbsolute)
{
    const auto& c = GetParam();
    QString head = c.base ? QStringLiteral("<base href=\"%1\">").arg(q(c.base)) : QString();
    auto doc = Document::fromHtml(QStringLiteral("<html><head>") + head + QStringLiteral("</head><body><a id=l href=\"")
                                      + q(c.href) + QStringLiteral("\">x</a></body></html>"),
                                  kUrl);
    EXPECT_EQ(doc->getElementById(QStringLiteral("l")).href(), q(c.expected)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Document, Href,
    ::testing::Values(
        HrefCase{"relative", nullptr, "a/b.pdf", "http://example.test/dir/a/b.pdf"},
        HrefCase{"parent", nullptr, "../up.doc", "http://example.test/up.doc"},
        HrefCase{"root", nullptr, "/r.xls", "http://example.test/r.xls"},
        HrefCase{"scheme relative", nullptr, "//cdn.test/x.ppt", "http://cdn.test/x.ppt"},
        HrefCase{"query only", nullptr, "?pn=2", "http://example.test/dir/page.html?pn=2"},
        HrefCase{"fragment only", nullptr, "#f", "http://example.test/dir/page.html?x=1#f"},
        HrefCase{"empty", nullptr, "", "http://example.test/dir/page.html?x=1"},
        HrefCase{"white space", nullptr, "  \n sp.pdf\t ", "http://example.test/dir/sp.pdf"},
        HrefCase{"absolute", nullptr, "https://other.test/a.pdf", "https://other.test/a.pdf"},
        HrefCase{"script", nullptr, "javascript:void(0)", "javascript:void(0)"},
        HrefCase{"non-ascii", nullptr, "文档 1.pdf", "http://example.test/dir/%E6%96%87%E6%A1%A3%201.pdf"},
        HrefCase{"entity", nullptr, "p?a=1&amp;b=2", "http://example.test/dir/p?a=1&b=2"},
        HrefCase{"absolute base", "http://base.test/files/", "x.pdf", "http://base.test/files/x.pdf"},
        HrefCase{"relative base", "sub/", "x.pdf", "http://example.test/dir/sub/x.pdf"},
        HrefCase{"base and root link", "http://base.test/files/", "/y.pdf", "http://base.test/y.pdf"}));

TEST(Document, HrefOnlyForLinkElements)
{
    auto doc = page(QStringLiteral("<div id=d href=\"x\"></div><a id=n>no href</a><area id=r href=\"m.pdf\">"));
    EXPECT_EQ(doc->getElementById(QStringLiteral("d")).href(), QString());
    EXPECT_EQ(doc->getElementById(QStringLiteral("n")).href(), QString());
    EXPECT_EQ(doc->getElementById(QStringLiteral("r")).href(), QStringLiteral("http://example.test/dir/m.pdf"));
}

// --------------------------------------------------------------- charsets

struct CharsetCase {
    const char* name;
    const char* contentType;
    const char* meta;       // inserted in <head>
    const char* encodeAs;   // how the bytes are really encoded
    const char* expected;   // detected charset
};

class Charset : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(Charset, DecodesChineseText)
{
    const auto& c = GetParam();
    const QString html = QStringLiteral("<html><head>") + q(c.meta)
                         + QStringLiteral("<title>中文标题</title></head><body><p id=p>文档搜索与下载</p></body></html>");
    QStringEncoder enc(c.encodeAs);
    const QByteArray bytes = enc.encode(html);
    EXPECT_EQ(Document::detectCharset(bytes, q(c.contentType)), q(c.expected)) << c.name;
    auto doc = Document::parse(bytes, kUrl, q(c.contentType));
    EXPECT_EQ(doc->getElementById(QStringLiteral("p")).innerText(), QStringLiteral("文档搜索与下载")) << c.name;
    EXPECT_EQ(doc->title(), QStringLiteral("中文标题")) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Document, Charset,
    ::testing::Values(
        CharsetCase{"header gbk", "text/html; charset=GBK", "", "GBK", "GBK"},
        CharsetCase{"header gb2312 quoted", "text/html;charset=\"gb2312\"", "", "GBK", "GBK"},
        CharsetCase{"meta charset", "text/html", "<meta charset=\"gbk\">", "GBK", "GBK"},
        CharsetCase{"meta http-equiv", "text/html",
                    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">", "GBK", "GBK"},
        CharsetCase{"header wins over meta", "text/html; charset=utf-8", "<meta charset=\"gbk\">", "UTF-8", "UTF-8"},
        CharsetCase{"undeclared utf-8", "", "", "UTF-8", "UTF-8"},
        CharsetCase{"undeclared gbk is guessed", "text/html", "", "GBK", "GBK"},
        CharsetCase{"gb18030", "text/html; charset=gb18030", "", "GB18030", "GB18030"},
        CharsetCase{"unknown label falls back", "text/html; charset=no-such-charset", "", "UTF-8", "UTF-8"}));

TEST(Document, ByteOrderMarkWins)
{
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + QStringLiteral("<p id=p>中文</p>").toUtf8();
    auto doc = Document::parse(bytes, kUrl, QStringLiteral("text/html; charset=gbk"));
    EXPECT_EQ(doc->characterSet(), QStringLiteral("UTF-8"));
    EXPECT_EQ(doc->getElementById(QStringLiteral("p")).innerText(), QStringLiteral("中文"));
}

// ------------------------------------------------------ bodies that are odd

struct BodyCase {
    const char* name;
    QByteArray bytes;
    const char* contentType;
    int links;
    const char* bodyText;
};

class OddBodies : public ::testing::TestWithParam<BodyCase> {};

TEST_P(OddBodies, NeverBreakTheModel)
{
    const auto& c = GetParam();
    auto doc = Document::parse(c.bytes, kUrl, q(c.contentType));
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->documentElement().isNull()) << c.name;
    EXPECT_EQ(doc->getElementsByTagName(QStringLiteral("a")).length(), c.links) << c.name;
    EXPECT_EQ(doc->body().innerText(), q(c.bodyText)) << c.name;
    EXPECT_EQ(doc->URL(), QStringLiteral("http://example.test/dir/page.html?x=1#top"));
    (void)doc->outerHTML();
    (void)doc->getElementsByClassName(QStringLiteral("content-net-left")).item(0).getElementsByTagName(QStringLiteral("H3"));
}

INSTANTIATE_TEST_SUITE_P(
    Document, OddBodies,
    ::testing::Values(
        BodyCase{"empty", QByteArray(), "text/html", 0, ""},
        BodyCase{"empty without type", QByteArray(), "", 0, ""},
        BodyCase{"pdf bytes", QByteArray("%PDF-1.4\n\x00\x01\x02<a href=x>", 20), "application/pdf", 0, ""},
        BodyCase{"binary without type", QByteArray("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR<a href=x>", 27), "", 0, ""},
        BodyCase{"plain text", QByteArray("line <a href=x>1</a>\nline 2"), "text/plain", 0, "line <a href=x>1</a>\nline 2"},
        BodyCase{"invalid utf-8", QByteArray("<a href=x>\xff\xfe\xfd</a>"), "text/html; charset=utf-8", 1, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        BodyCase{"nul inside html", QByteArray("<a href=x>a\0b</a>", 17), "text/html", 1, "ab"},
        BodyCase{"only text", QByteArray("hello"), "text/html", 0, "hello"}));

// ------------------------------------------------------------ serialisation

TEST(Document, OuterHtmlSerialisesLikeABrowser)
{
    auto doc = Document::fromHtml(QStringLiteral("<p class=\"a&quot;b\" data-x='1 < 2'>x &amp; y&nbsp;<br>"
                                                 "<script>if (a < b && c) {}</script><!--note-->请输入以下验证码，即可恢复使用。"),
                                  kUrl);
    const QString html = doc->outerHTML();
    EXPECT_TRUE(html.startsWith(QStringLiteral("<html><head></head><body>"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<p class=\"a&quot;b\" data-x=\"1 < 2\">x &amp; y&nbsp;<br>")))
        << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<script>if (a < b && c) {}</script><!--note-->")));
    EXPECT_TRUE(html.contains(QStringLiteral("请输入以下验证码，即可恢复使用。")));
    EXPECT_TRUE(html.endsWith(QStringLiteral("</p></body></html>")));
    // Parsing the serialisation again gives the same tree.
    auto again = Document::fromHtml(html, kUrl);
    EXPECT_EQ(again->outerHTML(), html);
}

// -------------------------------------------------------------- form state

TEST(Document, FormControlValues)
{
    auto doc = page(QStringLiteral(
        "<form id=f><input id=t name=UserName value=\"pre\"><input id=n><input id=c type=checkbox>"
        "<input id=u type=BOGUS><button id=b>go</button><button id=bb type=button>x</button>"
        "<select id=s><option>first</option><option value=v2 selected>second</option></select>"
        "<select id=s2><option disabled>d</option><option> e  f </option></select>"
        "<textarea id=ta>line</textarea></form><input id=out form=f><input id=free>"));
    auto el = [&](const char* id) { return doc->getElementById(QString::fromLatin1(id)); };
    EXPECT_EQ(el("t").value(), QStringLiteral("pre"));
    EXPECT_EQ(el("t").name(), QStringLiteral("UserName"));
    EXPECT_EQ(el("n").type(), QStringLiteral("text"));
    EXPECT_EQ(el("u").type(), QStringLiteral("text"));
    EXPECT_EQ(el("c").value(), QStringLiteral("on"));
    EXPECT_EQ(el("b").type(), QStringLiteral("submit"));
    EXPECT_EQ(el("bb").type(), QStringLiteral("button"));
    EXPECT_EQ(el("s").value(), QStringLiteral("v2"));
    EXPECT_EQ(el("s2").value(), QStringLiteral("e f"));
    EXPECT_EQ(el("ta").value(), QStringLiteral("line"));
    EXPECT_EQ(el("out").form(), el("f"));
    EXPECT_EQ(el("t").form(), el("f"));
    EXPECT_TRUE(el("free").form().isNull());
    // Without a browser the write still shows in the snapshot, but no
    // action can be carried out.
    EXPECT_FALSE(el("t").setValue(QStringLiteral("新值")));
    EXPECT_EQ(el("t").value(), QStringLiteral("新值"));
    EXPECT_FALSE(el("b").click());
}
