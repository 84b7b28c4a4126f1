// Service profiles: every refusal names its field; the built-in default asks
// and reads the service exactly as before; a profile with its own selectors
// reads another markup, including addresses kept in attributes and types
// taken from the query.
#include "search/Extraction.h"
#include "search/ServiceProfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace dh;

namespace {

QByteArray withField(const char* field, const QJsonValue& value)
{
    QJsonObject o{{"name", "T"}, {"query", "{base}/s?q={keywords}&t={type}"}, {"item", "li.r"}, {"next", "a.n"}};
    if (value.isUndefined())
        o.remove(QLatin1String(field));
    else
        o.insert(QLatin1String(field), value);
    return QJsonDocument(o).toJson();
}

TEST(ServiceProfiles, RefusalsNameTheField)
{
    struct Row {
        QByteArray json;
        const char* error;
    } rows[] = {
        {withField("name", QJsonValue::Undefined), "field \"name\": missing"},
        {withField("query", QJsonValue::Undefined), "field \"query\": missing"},
        {withField("query", "{base}/s?t={type}"), "field \"query\": the template has no {keywords}"},
        {withField("query", "ftp://h/{keywords}"), "field \"query\": not an http or https address"},
        {withField("item", QJsonValue::Undefined), "field \"item\": missing"},
        {withField("item", "li >"), "field \"item\": cannot parse selector: expected a selector at position 5"},
        {withField("title", "h3:hover"), "field \"title\": cannot parse selector: unsupported pseudo-class ':hover' at position 9"},
        {withField("type", "page"), "field \"type\": must be \"link\" or \"query\""},
        {withField("colour", "red"), "field \"colour\": unknown field"},
        {withField("link", 3), "field \"link\": must be a text"},
        {withField("verification", QJsonArray{"a", 1}), "field \"verification\": must hold texts only"},
        {withField("name", "../x"), "field \"name\": cannot hold \"/\" or begin with \".\""},
        {"[1]", "not a JSON object"},
    };
    for (const Row& r : rows) {
        QString error;
        EXPECT_FALSE(parseServiceProfile(r.json, &error).has_value()) << r.error;
        EXPECT_EQ(error.toStdString(), r.error);
    }
    QString error;
    EXPECT_TRUE(parseServiceProfile(withField("nextText", "下一页"), &error).has_value()) << error.toStdString();
}

TEST(ServiceProfiles, BuiltInDefaultKeepsTheServiceAddresses)
{
    const ServiceProfile& p = defaultServiceProfile();
    EXPECT_EQ(p.name, QStringLiteral("Quorvex"));
    EXPECT_EQ(p.queryAddress(QStringLiteral("http://h:8/"), QStringLiteral(" 教 程 "), QStringLiteral("pdf"), true),
              QStringLiteral("http://h:8/p?w=%22%E6%95%99 %E7%A8%8B%22+filetype%3Apdf"));
    EXPECT_EQ(p.homeAddress(QStringLiteral("http://h:8")), QStringLiteral("http://h:8/p?w=1"));
    // Written out and read back, a profile is the same profile.
    QString error;
    const auto again = parseServiceProfile(serviceProfileJson(p), &error);
    ASSERT_TRUE(again) << error.toStdString();
    EXPECT_EQ(serviceProfileJson(*again), serviceProfileJson(p));
    EXPECT_EQ(serviceProfileNamed(QStringLiteral("no such")).name, p.name);
    // The file the README shows is the built-in itself.
    const auto documented =
        loadServiceProfileFile(QStringLiteral(DH_TEST_SOURCE_DIR "/docs/profiles/quorvex.json"), &error);
    ASSERT_TRUE(documented) << error.toStdString();
    EXPECT_EQ(serviceProfileJson(*documented), serviceProfileJson(p));
    EXPECT_GE(builtInProfiles().size(), 3);  // and the public engines load
}

TEST(ServiceProfiles, OwnSelectorsReadAnotherMarkup)
{
    QString error;
    const auto p = parseServiceProfile(R"({"name":"R","query":"https://s.test/?q={keywords}","item":"li.r",
        "link":"a.t","urlAttribute":"data-u","urlParameter":"to","title":"h2","nextText":"Next","type":"query",
        "verification":["unusual traffic","captcha"]})",
                                       &error);
    ASSERT_TRUE(p) << error.toStdString();
    EXPECT_EQ(p->homeAddress(QString()), QStringLiteral("https://s.test/"));
    const auto doc = Document::fromHtml(QStringLiteral(R"(
        <ol><li class="r"><h2>First  report</h2><a class="t" href="/go?id=1" data-u="https://d.test/a.pdf">x</a></li>
        <li class="r"><h2>Second</h2><a class="t" href="/go?id=2">y</a></li>
        <li class="r"><h2>Third</h2><a class="t" href="/l/?to=https%3A%2F%2Fe.test%2Fc%3Fx%3D1&amp;r=2">z</a></li>
        <li class="r"><h2>No link</h2></li></ol>
        <a href="/p2">Next</a>)"),
                                        QUrl(QStringLiteral("https://s.test/?q=k")));
    ExtractOptions o;
    o.removeSpaces = false;
    o.queryType = QStringLiteral("doc");
    const PageExtraction page = extractResultLinks(*doc, o, *p);
    EXPECT_TRUE(page.hasContainer);
    ASSERT_EQ(page.links.size(), 3);
    EXPECT_EQ(page.links[0].url, QStringLiteral("https://d.test/a.pdf"));
    EXPECT_EQ(page.links[0].type, QStringLiteral("pdf"));  // the address names one
    EXPECT_EQ(page.links[0].title, QStringLiteral("First report"));
    EXPECT_EQ(page.links[1].url, QStringLiteral("https://s.test/go?id=2"));
    EXPECT_EQ(page.links[1].type, QStringLiteral("doc"));  // the query's
    EXPECT_EQ(page.links[2].url, QStringLiteral("https://e.test/c?x=1"));  // out of the redirector
    const ElementCollection next = nextPageCandidates(*doc, *p);
    int found = 0;
    for (const Element& e : next)
        found += isNextPageLink(e, *p) ? 1 : 0;
    EXPECT_EQ(found, 1);

    const auto captcha = Document::fromHtml(QStringLiteral("<p>Our systems detected Unusual Traffic</p>"),
                                            QUrl(QStringLiteral("https://s.test/")));
    EXPECT_TRUE(extractResultLinks(*captcha, o, *p).verificationPage);
}

} // namespace
