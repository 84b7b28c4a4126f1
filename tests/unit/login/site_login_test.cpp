// The login algorithm against a scripted browser: which fields get which
// values, which button is pressed, the guards and the time limits.
#include "app/Timings.h"
#include "download/SiteLogin.h"
#include "ports/Prompter.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <map>

using namespace dh;
using namespace std::chrono_literals;

namespace {

// A browser whose pages are given as HTML. Loads complete on the next pass
// of the event loop (or never, with hang); element actions are recorded.
class ScriptedBrowser : public Browser {
public:
    std::map<QString, QString> pages;  // address -> HTML
    QStringList navigations;
    std::vector<std::pair<QString, QString>> values;  // (element name, value)
    QStringList clicks;                                // id or name of clicked elements
    bool hang = false;
    bool clickNavigates = true;

    void navigate(const QString& url) override
    {
        navigations << url;
        beginTopLevelNavigation();
        m_busy = true;
        m_url = url;
        if (!hang)
            QTimer::singleShot(0, this, [this] { finishLoad(); });
    }
    bool busy() const override { return m_busy; }
    QString locationUrl() const override { return m_url; }
    QString locationName() const override { return {}; }
    bool goBack() override { return false; }
    bool goForward() override { return false; }
    bool canGoBack() const override { return false; }
    bool canGoForward() const override { return false; }
    void refresh() override {}
    void stop() override { m_busy = false; }
    QCoro::Task<DocumentPtr> document() override { co_return lastDocument(); }
    DocumentPtr lastDocument() const override
    {
        const auto it = pages.find(m_url);
        const QString html = it == pages.end() ? QString() : it->second;
        return Document::fromHtml(html, QUrl(m_url), QStringLiteral("UTF-8"), DocumentOrigin{const_cast<ScriptedBrowser*>(this), generation()});
    }
    bool elementClick(const Document& doc, int node) override
    {
        if (!ownsCurrent(doc))
            return false;
        const Element e = doc.elementAt(node);
        clicks << (e.id().isEmpty() ? e.name() : e.id());
        if (clickNavigates)
            navigate(m_url + QStringLiteral("#after"));
        return true;
    }
    bool elementSetValue(const Document& doc, int node, const QString& value) override
    {
        if (!ownsCurrent(doc))
            return false;
        values.emplace_back(doc.elementAt(node).name(), value);
        return true;
    }

private:
    void finishLoad()
    {
        m_busy = false;
        emitDocumentComplete(false, m_url);  // a frame first: must not end the wait
        emitDocumentComplete(true, m_url);
    }
    bool m_busy = false;
    QString m_url = QStringLiteral("about:blank");
};

class SiteLoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = timings();
        timings().loginWait = 300ms;
        timings().loginPause = 20ms;
        values.address = QStringLiteral("http://site/login");
        values.user = QStringLiteral("  alice ");
        values.pass = QStringLiteral(" s3cret  ");
    }
    void TearDown() override { timings() = saved; }

    void run(bool showMessages = false)
    {
        QCoro::waitFor(login.run(showMessages, &prompter));
    }

    Timings saved;
    ScriptedBrowser browser;
    SiteLoginValues values;
    ScriptedPrompter prompter;
    SiteLogin login{browser, values};
};

const QString kMain = QStringLiteral(
    "<form><input type=hidden name=from value=x>帐号<input name=UserName>密码<input type=password name=PassWord>"
    "<input type=checkbox name=remember><input type=submit id=go value=登录></form>"
    "<form><input type=submit id=submitip></form>");

struct FormCase {
    const char* label;
    QString html;
    bool ip;
    std::vector<std::pair<QString, QString>> values;
    QStringList clicks;
};

} // namespace

TEST_F(SiteLoginTest, FillsAndPressesAsTheFormAllows)
{
    const QString alice = QStringLiteral("alice");
    const QString secret = QStringLiteral("s3cret");
    const std::vector<FormCase> cases = {
        {"account fields then submit", kMain, false,
         {{"UserName", alice}, {"PassWord", secret}}, {"go"}},
        {"other spellings", "<input name=USERID><input name=Passwd><input type=SUBMIT name=b1><input type=submit name=b2>",
         false, {{"USERID", alice}, {"Passwd", secret}}, {"b1"}},
        {"user and pass", "<input name=user><input name=pass><button>x</button><input type=submit id=s>", false,
         {{"user", alice}, {"pass", secret}}, {"s"}},
        {"email and pwd only", "<input name=email><input name=pwd><input type=submit id=go>", false, {}, {}},
        {"submit before the fields", "<input type=submit id=go><input name=username><input name=password>", false,
         {{"username", alice}, {"password", secret}}, {}},
        {"one field is not enough", "<input name=useruid><input type=submit id=go>", false, {{"useruid", alice}}, {}},
        {"ip login ignores the account fields", kMain, true, {}, {"submitip"}},
        {"ip login without the button", "<input name=username><input type=submit id=go>", true, {}, {}},
    };
    for (const FormCase& c : cases) {
        SCOPED_TRACE(c.label);
        browser.values.clear();
        browser.clicks.clear();
        browser.navigations.clear();
        browser.pages[values.address] = c.html;
        values.ip = c.ip;
        run();
        EXPECT_EQ(browser.navigations.value(0), values.address);
        std::vector<std::pair<QString, QString>> expected;
        for (const auto& [n, v] : c.values)
            expected.emplace_back(n, v);
        EXPECT_EQ(browser.values, expected);
        EXPECT_EQ(browser.clicks, c.clicks);
        EXPECT_TRUE(values.testEnabled);
        EXPECT_TRUE(values.browseEnabled);
        EXPECT_FALSE(login.running());
    }
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(SiteLoginTest, MissingSettingsStopTheLoginAndUntickAutomaticLogin)
{
    struct Case {
        const char* label;
        QString address, user, pass;
        bool ip;
        QString message;  // empty: the login runs
    };
    const std::vector<Case> cases = {
        {"no address", "   ", "a", "b", false, SiteLogin::missingAddressText()},
        {"no address, ip", "", "", "", true, SiteLogin::missingAddressText()},
        {"no password", "http://site/login", "a", "  ", false, SiteLogin::missingAccountText()},
        {"no account", "http://site/login", "", "b", false, SiteLogin::missingAccountText()},
        {"ip needs only the address", "http://site/login", "", "", true, {}},
    };
    for (const Case& c : cases) {
        for (bool show : {true, false}) {
            SCOPED_TRACE(std::string(c.label) + (show ? " with messages" : " silent"));
            prompter.clear();
            browser.navigations.clear();
            values.address = c.address;
            values.user = c.user;
            values.pass = c.pass;
            values.ip = c.ip;
            values.autoOn = true;
            EXPECT_EQ(login.missingSetting(), c.message);
            run(show);
            if (c.message.isEmpty()) {
                EXPECT_EQ(browser.navigations.size(), 1);
                EXPECT_TRUE(values.autoOn);
                EXPECT_TRUE(prompter.shown.empty());
            } else {
                EXPECT_TRUE(browser.navigations.isEmpty());
                EXPECT_FALSE(values.autoOn);
                ASSERT_EQ(prompter.shown.size(), show ? 1u : 0u);
                if (show) {
                    EXPECT_EQ(prompter.shown[0].text, c.message);
                    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);
                }
                // Ticking "自动登录" asks the same question.
                prompter.clear();
                EXPECT_FALSE(login.confirmAutoLogin(prompter));
                ASSERT_EQ(prompter.shown.size(), 1u);
                EXPECT_EQ(prompter.shown[0].text, c.message);
            }
        }
    }
}

TEST_F(SiteLoginTest, ASecondLoginWhileOneRunsDoesNothing)
{
    browser.pages[values.address] = kMain;
    QCoro::Task<> first = login.run(true, &prompter);
    EXPECT_TRUE(login.running());
    EXPECT_FALSE(values.testEnabled);  // "测试登录" disabled during the run
    QCoro::waitFor(login.run(true, &prompter));  // returns at once
    EXPECT_TRUE(login.running());
    QCoro::waitFor(std::move(first));
    EXPECT_EQ(browser.navigations.size(), 2);  // the login page and the page after the click
    EXPECT_EQ(browser.clicks, QStringList{"go"});
    EXPECT_TRUE(values.testEnabled);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(SiteLoginTest, APageThatNeverLoadsEndsTheWaitAfterTheLimit)
{
    browser.hang = true;
    browser.pages[values.address] = kMain;
    QElapsedTimer t;
    t.start();
    run();
    const qint64 ms = t.elapsed();
    // Login page wait, the click's wait and the pause; the steps went on
    // with whatever the browser held.
    EXPECT_GE(ms, 2 * 300 + 20);
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(browser.clicks, QStringList{"go"});
    EXPECT_TRUE(values.testEnabled);
}

TEST_F(SiteLoginTest, OnlyAFrameCompletingDoesNotEndTheWait)
{
    browser.hang = true;
    browser.pages[values.address] = QString();
    QCoro::Task<> open = login.openLoginPage();
    EXPECT_FALSE(values.browseEnabled);
    EXPECT_TRUE(login.loginPageLoading());
    emit browser.documentComplete(false, values.address);
    EXPECT_TRUE(login.loginPageLoading());
    emit browser.documentComplete(true, values.address);
    EXPECT_FALSE(login.loginPageLoading());
    QCoro::waitFor(std::move(open));
    EXPECT_TRUE(values.browseEnabled);
}

TEST_F(SiteLoginTest, AutomaticLoginOnlyAfterAWebPageWithTheOptionTicked)
{
    browser.pages[values.address] = kMain;
    struct Case {
        QString type;
        bool autoOn;
        bool runs;
    };
    const std::vector<Case> cases = {
        {"htm", true, true}, {"HTML", true, true}, {"asp", true, false},
        {"pdf", true, false}, {"", true, false}, {"html", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type.toStdString());
        browser.navigations.clear();
        values.autoOn = c.autoOn;
        QCoro::waitFor(login.afterTransfer(c.type));
        EXPECT_EQ(!browser.navigations.isEmpty(), c.runs);
    }
}

TEST_F(SiteLoginTest, AnEmptyAddressMakesTheBrowseCommandDoNothing)
{
    values.address = QStringLiteral("  ");
    QCoro::waitFor(login.openLoginPage());
    EXPECT_TRUE(browser.navigations.isEmpty());
    values.address = QStringLiteral("  http://site/login ");
    QCoro::waitFor(login.openLoginPage());
    EXPECT_EQ(browser.navigations, QStringList{"http://site/login"});
}
