// HeadlessBrowser against real local servers: the demo service (search
// pages, login, GBK pages, verification page) and a small echo server that
// shows exactly what a form submission sent.
#include "Extraction.h"

#include "demo/DemoSearch.h"
#include "demo/DemoService.h"
#include "platform/headless/HeadlessBrowser.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QTimer>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

using namespace dh;
using namespace std::chrono_literals;

namespace {

bool load(Browser& b, const QString& url, std::chrono::milliseconds timeout = 20s)
{
    return QCoro::waitFor(navigateAndWait(b, url, timeout));
}

// Clicks and waits for the page the click leads to.
bool clickAndWait(Browser& b, const Element& e)
{
    const quint64 before = b.completedLoads();
    if (!e.click())
        return false;
    return QCoro::waitFor(waitUntil(b, 20s, [&] { return b.completedLoads() > before && !b.busy(); }));
}

Element inputNamed(const Document& doc, const QString& name)
{
    for (const Element& e : doc.getElementsByTagName(QStringLiteral("input")))
        if (e.name().compare(name, Qt::CaseInsensitive) == 0)
            return e;
    return {};
}

class DemoFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        demo::DemoOptions o;
        o.rateLimitPages = -1;
        svc = new demo::DemoService(o);
        ASSERT_TRUE(svc->start());
    }
    static void TearDownTestSuite()
    {
        delete svc;
        svc = nullptr;
    }
    QString base() const { return svc->baseUrl(); }
    QString resultUrl(const QString& kw, const QString& type, int page = 1, bool quoted = false) const
    {
        QString u = base() + QStringLiteral("/p?w=") + QString::fromStdString(demo::composeW(kw, type, quoted));
        if (page > 1)
            u += QStringLiteral("&pn=%1").arg(page);
        return u;
    }
    static demo::DemoService* svc;
    HeadlessBrowser browser;
};
demo::DemoService* DemoFixture::svc = nullptr;

// Serves /echo (answers with what it received) and a few odd routes.
class EchoServer {
public:
    EchoServer()
    {
        auto echo = [](const httplib::Request& req, httplib::Response& res) {
            auto esc = [](const std::string& s) { return QString::fromStdString(s).toHtmlEscaped().toStdString(); };
            std::string q;
            const auto at = req.target.find('?');
            if (at != std::string::npos)
                q = req.target.substr(at + 1);
            res.set_content("<html><body><pre id=method>" + req.method + "</pre><pre id=query>" + esc(q)
                                + "</pre><pre id=body>" + esc(req.body) + "</pre><pre id=ctype>"
                                + esc(req.get_header_value("Content-Type")) + "</pre><pre id=referer>"
                                + esc(req.get_header_value("Referer")) + "</pre><pre id=cookie>"
                                + esc(req.get_header_value("Cookie")) + "</pre></body></html>",
                            "text/html; charset=utf-8");
        };
        server.Get("/echo", echo);
        server.Post("/echo", echo);
        server.Get("/page", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex);
            res.set_content(pageBytes, pageType);
        });
        server.Get("/redirect-with-cookie", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "R=1; Path=/");
            res.set_redirect("/echo?after=redirect");
        });
        server.Post("/post-redirect", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/echo?from=post", 303);
        });
        server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html><body><h1 id=nf>没有找到</h1></body></html>", "text/html; charset=utf-8");
        });
        server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(1500ms);
            res.set_content("<p id=slow>slow</p>", "text/html");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~EchoServer()
    {
        server.stop();
        thread.join();
    }
    void setPage(const QString& html, const char* charset = "UTF-8")
    {
        std::lock_guard lock(mutex);
        QStringEncoder enc(charset);
        pageBytes = QByteArray(enc.encode(html)).toStdString();
        pageType = std::string("text/html; charset=") + charset;
    }
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path));
    }

    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::mutex mutex;
    std::string pageBytes;
    std::string pageType;
};

QString echoed(const Browser& b, const char* id)
{
    return b.lastDocument()->getElementById(QString::fromLatin1(id)).textContent();
}

} // namespace

// ------------------------------------------------------------- navigation

TEST_F(DemoFixture, NavigateIsBusyThenCompletesTheTopLevelDocument)
{
    QSignalSpy complete(&browser, &Browser::documentComplete);
    QSignalSpy before(&browser, &Browser::beforeNavigate);
    QSignalSpy title(&browser, &Browser::titleChange);
    const QString home = base() + QStringLiteral("/p?w=1");
    browser.navigate(home);
    EXPECT_TRUE(browser.busy());
    EXPECT_EQ(complete.count(), 0);  // never synchronously
    ASSERT_EQ(before.count(), 1);
    EXPECT_EQ(before.at(0).at(0).toString(), home);
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    EXPECT_FALSE(browser.busy());
    ASSERT_EQ(complete.count(), 1);
    EXPECT_TRUE(complete.at(0).at(0).toBool());
    EXPECT_EQ(complete.at(0).at(1).toString(), home);
    EXPECT_EQ(browser.locationUrl(), home);
    EXPECT_EQ(browser.httpStatus(), 200);
    ASSERT_GE(title.count(), 1);
    EXPECT_FALSE(title.last().at(0).toString().isEmpty());
    EXPECT_FALSE(browser.lastDocument()->getElementsByTagName(QStringLiteral("form")).isEmpty());
    // Asking for the document leaves the browser's own snapshot in place.
    const DocumentPtr asked = QCoro::waitFor(browser.document());
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked, browser.lastDocument());
    EXPECT_EQ(QCoro::waitFor(browser.document()), asked);
}

TEST_F(DemoFixture, AboutBlankCompletesOnTheNextTurn)
{
    ASSERT_TRUE(load(browser, base() + QStringLiteral("/p?w=1")));
    QSignalSpy complete(&browser, &Browser::documentComplete);
    browser.navigate(QStringLiteral("about:blank"));
    EXPECT_TRUE(browser.busy());
    EXPECT_EQ(complete.count(), 0);
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 5s)));
    EXPECT_EQ(browser.locationUrl(), QStringLiteral("about:blank"));
    EXPECT_EQ(browser.lastDocument()->getElementsByTagName(QStringLiteral("a")).length(), 0);
    EXPECT_EQ(complete.count(), 1);
}

TEST_F(DemoFixture, ResultPageQueriesMatchTheServedResults)
{
    for (const auto& [kw, type, page] : {std::tuple{QStringLiteral("教程"), QStringLiteral("pdf"), 1},
                                         std::tuple{QStringLiteral("C 语言"), QStringLiteral("doc"), 2}}) {
        const QString url = resultUrl(kw, type, page);
        ASSERT_TRUE(load(browser, url));
        const auto got = test::extract(*browser.lastDocument());
        demo::SearchQuery sq = demo::parseSearchQuery(url.section(QLatin1Char('?'), 1).toStdString());
        const auto expected = demo::resultsFor(sq, base(), svc->state().options);
        ASSERT_EQ(got.links.size(), expected.size()) << url.toStdString();
        for (int i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(got.links[i].text, expected[i].titleText) << i;
            EXPECT_EQ(got.links[i].href, expected[i].absoluteUrl) << i;
            EXPECT_TRUE(got.links[i].href.startsWith(QStringLiteral("http://"))) << i;
        }
        EXPECT_FALSE(got.verification);
        EXPECT_TRUE(got.pagerTexts.contains(QStringLiteral("下一页>")));
    }
}

TEST_F(DemoFixture, NextPageClicksWalkEveryPage)
{
    const QString first = resultUrl(QStringLiteral("数据结构"), QStringLiteral("ppt"));
    const int pages = demo::pageCount(demo::parseSearchQuery(first.section(QLatin1Char('?'), 1).toStdString()),
                                      svc->state().options);
    ASSERT_TRUE(load(browser, first));
    int visited = 1;
    for (Element next = test::findNextPageLink(*browser.lastDocument()); !next.isNull();
         next = test::findNextPageLink(*browser.lastDocument())) {
        ASSERT_LT(visited, 10);
        const QString target = next.href();
        ASSERT_TRUE(clickAndWait(browser, next));
        ++visited;
        EXPECT_EQ(browser.locationUrl(), target);
        EXPECT_TRUE(target.contains(QStringLiteral("pn=%1").arg(visited)));
        EXPECT_EQ(test::extract(*browser.lastDocument()).links.size(), 10);
    }
    EXPECT_EQ(visited, pages);
}

TEST_F(DemoFixture, HistoryBackForwardAndRefresh)
{
    EXPECT_FALSE(browser.goBack());
    EXPECT_FALSE(browser.goForward());
    const QString a = base() + QStringLiteral("/p?w=1");
    const QString b = base() + QStringLiteral("/popup");
    const QString c = base() + QStringLiteral("/login");
    ASSERT_TRUE(load(browser, a));
    ASSERT_TRUE(load(browser, b));
    ASSERT_TRUE(browser.goBack());
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    EXPECT_EQ(browser.locationUrl(), a);
    EXPECT_FALSE(browser.goBack());
    ASSERT_TRUE(browser.goForward());
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    EXPECT_EQ(browser.locationUrl(), b);
    EXPECT_FALSE(browser.goForward());
    // A new page drops the forward entries.
    ASSERT_TRUE(browser.goBack());
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    ASSERT_TRUE(load(browser, c));
    EXPECT_FALSE(browser.canGoForward());
    ASSERT_TRUE(browser.goBack());
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    EXPECT_EQ(browser.locationUrl(), a);

    const quint64 loads = browser.completedLoads();
    browser.refresh();
    EXPECT_TRUE(browser.busy());
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 20s)));
    EXPECT_EQ(browser.completedLoads(), loads + 1);
    EXPECT_EQ(browser.locationUrl(), a);
    EXPECT_TRUE(browser.canGoForward());  // a refresh is no new history entry
}

TEST_F(DemoFixture, StaleSnapshotsRefuseActions)
{
    ASSERT_TRUE(load(browser, resultUrl(QStringLiteral("旧页"), QStringLiteral("pdf"))));
    const Element next = test::findNextPageLink(*browser.lastDocument());
    ASSERT_FALSE(next.isNull());
    ASSERT_TRUE(load(browser, base() + QStringLiteral("/p?w=1")));
    EXPECT_FALSE(next.click());
    EXPECT_FALSE(browser.busy());
    // The old snapshot itself stays readable.
    EXPECT_EQ(next.innerText().trimmed(), QStringLiteral("下一页>"));
}

// ------------------------------------------------------------ login forms

TEST_F(DemoFixture, FilledLoginFormUnlocksProtectedDocument)
{
    const QString doc = base() + QStringLiteral("/doc/protected/manual.pdf");
    ASSERT_TRUE(load(browser, doc));
    DocumentPtr page = browser.lastDocument();
    ASSERT_FALSE(page->getElementsByTagName(QStringLiteral("form")).isEmpty()) << "login page expected";

    // The account login the way the download window does it: fill the
    // named inputs in order, press the first submit after both.
    int filled = 0;
    Element submit;
    for (const Element& input : page->getElementsByTagName(QStringLiteral("INPUT"))) {
        const QString n = input.name().toLower();
        if (n == QLatin1String("username")) {
            ASSERT_TRUE(input.setValue(QStringLiteral("演示用户")));
            ++filled;
        } else if (n == QLatin1String("password")) {
            ASSERT_TRUE(input.setValue(QStringLiteral("p@ss word")));
            ++filled;
        } else if (input.type() == QLatin1String("submit") && filled > 1) {
            submit = input;
            break;
        }
    }
    ASSERT_FALSE(submit.isNull());
    EXPECT_EQ(inputNamed(*page, QStringLiteral("username")).value(), QStringLiteral("演示用户"));
    ASSERT_TRUE(clickAndWait(browser, submit));
    EXPECT_FALSE(browser.lastDocument()->getElementById(QStringLiteral("login-ok")).isNull());

    bool haveCookie = false;
    for (const QNetworkCookie& c : browser.cookieJar()->cookiesForUrl(QUrl(doc)))
        haveCookie |= c.name() == "DH_LOGIN";
    EXPECT_TRUE(haveCookie);

    ASSERT_TRUE(load(browser, doc));
    EXPECT_EQ(browser.httpStatus(), 200);
    EXPECT_TRUE(browser.lastDocument()->getElementsByTagName(QStringLiteral("form")).isEmpty());
    EXPECT_TRUE(browser.lastDocument()->contentType().startsWith(QStringLiteral("application/pdf")))
        << browser.lastDocument()->contentType().toStdString();
}

TEST_F(DemoFixture, LoginVariants)
{
    // Empty fields: the site answers with its form again and no cookie.
    ASSERT_TRUE(load(browser, base() + QStringLiteral("/login")));
    ASSERT_TRUE(clickAndWait(browser, browser.lastDocument()->getElementById(QStringLiteral("login-submit"))));
    EXPECT_TRUE(browser.lastDocument()->getElementById(QStringLiteral("login-ok")).isNull());
    EXPECT_TRUE(browser.cookieJar()->cookiesForUrl(QUrl(base())).isEmpty());

    // The GET form whose button comes first still submits the current values.
    ASSERT_TRUE(load(browser, base() + QStringLiteral("/login/submit-first")));
    DocumentPtr page = browser.lastDocument();
    inputNamed(*page, QStringLiteral("username")).setValue(QStringLiteral("u"));
    inputNamed(*page, QStringLiteral("password")).setValue(QStringLiteral("p"));
    ASSERT_TRUE(clickAndWait(browser, page->getElementById(QStringLiteral("login-submit"))));
    EXPECT_TRUE(browser.locationUrl().contains(QStringLiteral("username=u&password=p")))
        << browser.locationUrl().toStdString();
    EXPECT_FALSE(browser.lastDocument()->getElementById(QStringLiteral("login-ok")).isNull());

    // IP login: the button found by its id.
    HeadlessBrowser other;
    ASSERT_TRUE(load(other, base() + QStringLiteral("/login/ip")));
    ASSERT_TRUE(clickAndWait(other, other.lastDocument()->getElementById(QStringLiteral("submitip"))));
    EXPECT_FALSE(other.lastDocument()->getElementById(QStringLiteral("login-ok")).isNull());
}

// ---------------------------------------------------------------- charsets

TEST_F(DemoFixture, GbkPagesDecode)
{
    for (const char* path : {"/gbk", "/gbk-meta", "/gbk-meta-equiv"}) {
        ASSERT_TRUE(load(browser, base() + QLatin1String(path)));
        DocumentPtr d = browser.lastDocument();
        EXPECT_EQ(d->characterSet(), QStringLiteral("GBK")) << path;
        EXPECT_EQ(d->getElementById(QStringLiteral("text")).innerText(), QStringLiteral("中文内容：文档搜索与下载")) << path;
        EXPECT_EQ(d->title(), QStringLiteral("中文编码页面")) << path;
        const auto links = test::extract(*d).links;
        ASSERT_EQ(links.size(), 1) << path;
        EXPECT_EQ(links[0].text, QStringLiteral("【PDF】中文标题 教程"));
        EXPECT_EQ(links[0].href, base() + QStringLiteral("/doc/gbk-1.pdf"));
    }
}

// ------------------------------------------------------- verification page

TEST(HeadlessVerification, AnsweringTheVerificationPageRestoresResults)
{
    demo::DemoOptions o;
    o.rateLimitPages = 2;
    demo::DemoService svc(o);
    ASSERT_TRUE(svc.start());
    HeadlessBrowser browser;
    const QString url = svc.baseUrl() + QStringLiteral("/p?w=")
                        + QString::fromStdString(demo::composeW(QStringLiteral("验证"), QStringLiteral("pdf")));
    bool hit = false;
    for (int i = 0; i < 5 && !hit; ++i) {
        ASSERT_TRUE(load(browser, url));
        hit = test::extract(*browser.lastDocument()).verification;
    }
    ASSERT_TRUE(hit);
    DocumentPtr page = browser.lastDocument();
    const QString code = page->getElementById(QStringLiteral("verify-code")).innerText().trimmed();
    ASSERT_FALSE(code.isEmpty());
    ASSERT_TRUE(page->getElementById(QStringLiteral("code")).setValue(code));
    ASSERT_TRUE(clickAndWait(browser, page->getElementById(QStringLiteral("verify-submit"))));
    // POST, then the service's redirect back to the result page.
    const auto after = test::extract(*browser.lastDocument());
    EXPECT_FALSE(after.verification);
    EXPECT_EQ(after.links.size(), 10);
    EXPECT_TRUE(browser.locationUrl().contains(QStringLiteral("/p?w=")));
}

// ------------------------------------------------- form submission details

TEST(HeadlessForms, SubmissionCarriesTheFormsControls)
{
    EchoServer echo;
    HeadlessBrowser browser;
    echo.setPage(QStringLiteral(
        "<form id=f action=\"/echo\" method=\"post\">"
        "<input name=a value=\"x y\"><input name=\"b&c\" value=\"1+1=2\">"
        "<input type=checkbox name=on1 checked><input type=checkbox name=off1 id=cb value=v>"
        "<input type=radio name=r value=r1 checked><input type=radio name=r value=r2 id=r2>"
        "<input name=dis value=no disabled><input value=noname>"
        "<select name=s><option>o1</option><option selected>o2</option></select>"
        "<textarea name=t>l1\nl2</textarea>"
        "<input type=submit name=go value=first id=s1><button name=go value=second id=s2>B</button>"
        "<input type=hidden name=h value=hid></form><input form=f name=outside value=o>"));
    ASSERT_TRUE(load(browser, echo.url("/page")));
    DocumentPtr page = browser.lastDocument();
    ASSERT_TRUE(page->getElementById(QStringLiteral("cb")).click());  // ticks it
    ASSERT_TRUE(page->getElementById(QStringLiteral("r2")).click());  // moves the radio choice
    ASSERT_TRUE(clickAndWait(browser, page->getElementById(QStringLiteral("s2"))));
    EXPECT_EQ(echoed(browser, "method"), QStringLiteral("POST"));
    EXPECT_EQ(echoed(browser, "ctype"), QStringLiteral("application/x-www-form-urlencoded"));
    EXPECT_EQ(echoed(browser, "body"),
              QStringLiteral("a=x+y&b%26c=1%2B1%3D2&on1=on&off1=v&r=r2&s=o2&t=l1%0D%0Al2&go=second&h=hid&outside=o"));
    EXPECT_EQ(echoed(browser, "referer"), echo.url("/page"));
}

TEST(HeadlessForms, GetFormOnGbkPageEncodesInGbk)
{
    EchoServer echo;
    HeadlessBrowser browser;
    echo.setPage(QStringLiteral("<form action=\"/echo?old=1#frag\"><input name=q value=\"中文\">"
                                "<input type=submit id=go></form>"),
                 "GBK");
    ASSERT_TRUE(load(browser, echo.url("/page")));
    DocumentPtr page = browser.lastDocument();
    ASSERT_TRUE(clickAndWait(browser, page->getElementById(QStringLiteral("go"))));
    EXPECT_EQ(echoed(browser, "method"), QStringLiteral("GET"));
    // The form's data replaces the action's query; the submit button has no name.
    EXPECT_EQ(echoed(browser, "query"), QStringLiteral("q=%D6%D0%CE%C4"));
}

TEST(HeadlessForms, ClicksOnLinksAndOtherElements)
{
    EchoServer echo;
    HeadlessBrowser browser;
    echo.setPage(QStringLiteral("<a href=\"/echo?n=1\" target=\"_blank\"><span id=inner>in</span></a>"
                                "<a id=js href=\"javascript:void(0)\">js</a><p id=plain>p</p>"
                                "<button id=lone>no form</button>"));
    ASSERT_TRUE(load(browser, echo.url("/page")));
    DocumentPtr page = browser.lastDocument();
    EXPECT_FALSE(page->getElementById(QStringLiteral("js")).click());
    EXPECT_FALSE(page->getElementById(QStringLiteral("plain")).click());
    EXPECT_FALSE(page->getElementById(QStringLiteral("lone")).click());
    EXPECT_FALSE(browser.busy());
    // A click inside a link follows the link (in this browser, whatever the target).
    ASSERT_TRUE(clickAndWait(browser, page->getElementById(QStringLiteral("inner"))));
    EXPECT_EQ(echoed(browser, "query"), QStringLiteral("n=1"));
    EXPECT_EQ(echoed(browser, "referer"), echo.url("/page"));
}

// --------------------------------------------------- redirects and failures

TEST(HeadlessNetwork, RedirectsKeepCookiesAndPostBecomesGet)
{
    EchoServer echo;
    HeadlessBrowser browser;
    ASSERT_TRUE(load(browser, echo.url("/redirect-with-cookie")));
    EXPECT_EQ(browser.locationUrl(), echo.url("/echo?after=redirect"));
    EXPECT_EQ(echoed(browser, "cookie"), QStringLiteral("R=1"));

    echo.setPage(QStringLiteral("<form method=post action=\"/post-redirect\"><input name=a value=1>"
                                "<input type=submit id=go></form>"));
    ASSERT_TRUE(load(browser, echo.url("/page")));
    ASSERT_TRUE(clickAndWait(browser, browser.lastDocument()->getElementById(QStringLiteral("go"))));
    EXPECT_EQ(echoed(browser, "method"), QStringLiteral("GET"));
    EXPECT_EQ(echoed(browser, "query"), QStringLiteral("from=post"));
    // Refreshing the page reached by the redirect does not post again.
    const quint64 loads = browser.completedLoads();
    browser.refresh();
    ASSERT_TRUE(QCoro::waitFor(waitUntilLoaded(browser, 10s)));
    EXPECT_GT(browser.completedLoads(), loads);
    EXPECT_EQ(echoed(browser, "method"), QStringLiteral("GET"));
}

TEST(HeadlessNetwork, ErrorsStillCompleteTheDocument)
{
    EchoServer echo;
    HeadlessBrowser browser;
    QSignalSpy errors(&browser, &Browser::navigateError);
    ASSERT_TRUE(load(browser, echo.url("/missing")));
    EXPECT_EQ(browser.httpStatus(), 404);
    EXPECT_EQ(errors.count(), 1);
    EXPECT_EQ(browser.lastDocument()->getElementById(QStringLiteral("nf")).innerText(), QStringLiteral("没有找到"));

    // A port nobody listens on.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    const QString dead = QStringLiteral("http://127.0.0.1:%1/x").arg(port);
    ASSERT_TRUE(load(browser, dead));
    EXPECT_EQ(errors.count(), 2);
    EXPECT_EQ(browser.locationUrl(), dead);
    EXPECT_TRUE(browser.lastDocument()->getElementsByTagName(QStringLiteral("a")).isEmpty());
    EXPECT_FALSE(browser.busy());
}

TEST(HeadlessNetwork, WaitsEndOnTimeoutStopFlagAndStop)
{
    EchoServer echo;
    HeadlessBrowser browser;
    QSignalSpy complete(&browser, &Browser::documentComplete);

    browser.navigate(echo.url("/slow"));
    EXPECT_FALSE(QCoro::waitFor(waitUntilLoaded(browser, 100ms)));
    EXPECT_TRUE(browser.busy());

    bool stopFlag = false;
    WaitSignal stopRaised;
    QTimer::singleShot(50, [&] {
        stopFlag = true;
        stopRaised.raise();
    });
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(QCoro::waitFor(waitUntilLoaded(browser, 20s, [&] { return stopFlag; }, &stopRaised)));
    EXPECT_LT(t.elapsed(), 1000);

    browser.stop();
    EXPECT_FALSE(browser.busy());
    EXPECT_FALSE(QCoro::waitFor(waitUntilLoaded(browser, 1800ms)));
    EXPECT_EQ(complete.count(), 0);  // the stopped load never completes

    // A new load after the stopped one works normally.
    ASSERT_TRUE(load(browser, echo.url("/echo?again=1")));
    EXPECT_EQ(echoed(browser, "query"), QStringLiteral("again=1"));
}
