#include "download/SiteLogin.h"

#include "app/Helpers.h"
#include "download/ListOperations.h"

#include "app/Timings.h"

#include <QCoroTimer>

namespace dh {

namespace {

// Field names the account login fills, compared lower-cased.
bool isAccountField(const QString& lowerName)
{
    return lowerName == QLatin1String("userid") || lowerName == QLatin1String("user")
           || lowerName == QLatin1String("username") || lowerName == QLatin1String("useruid");
}

bool isPasswordField(const QString& lowerName)
{
    return lowerName == QLatin1String("pass") || lowerName == QLatin1String("password")
           || lowerName == QLatin1String("passwd");
}

// One pass of the event loop, so that what the last action queued runs.
QCoro::Task<> letEventsRun()
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
}

} // namespace

SiteLogin::SiteLogin(Browser& browser, SiteLoginHost& host, QObject* parent)
    : QObject(parent)
    , m_browser(&browser)
    , m_host(host)
{
    connect(&browser, &Browser::documentComplete, this, [this](bool topLevel, const QString&) {
        if (topLevel)
            m_loginPageLoading = false;
    });
}

SiteLogin::~SiteLogin() = default;

QString SiteLogin::missingSetting() const
{
    if (trimSpaces(m_host.loginAddress()).isEmpty())
        return missingAddressText();
    if (!m_host.ipLogin()
        && (trimSpaces(m_host.account()).isEmpty() || trimSpaces(m_host.password()).isEmpty()))
        return missingAccountText();
    return {};
}

bool SiteLogin::confirmAutoLogin(Prompter& prompter) const
{
    const QString missing = missingSetting();
    if (missing.isEmpty())
        return true;
    prompter.message(missing, MessageIcon::Error);
    return false;
}

QCoro::Task<bool> SiteLogin::waitForLoginPage()
{
    if (!m_browser)
        co_return false;
    QPointer<SiteLogin> self(this);
    // Named local: g++ 12 mishandles lambda temporaries inside co_await.
    std::function<bool()> done = [self] {
        return !self || !self->m_browser || (!self->m_browser->busy() && !self->m_loginPageLoading);
    };
    const bool ok = co_await waitUntil(*m_browser, timings().loginWait, std::move(done));
    co_return ok;
}

QCoro::Task<> SiteLogin::openLoginPage()
{
    const QString address = trimSpaces(m_host.loginAddress());
    if (address.isEmpty() || !m_browser)
        co_return;
    QPointer<SiteLogin> self(this);
    m_host.setBrowseEnabled(false);
    m_loginPageLoading = true;
    m_browser->navigate(address);
    co_await letEventsRun();
    if (!self)
        co_return;
    co_await waitForLoginPage();
    if (!self)
        co_return;
    m_host.setBrowseEnabled(true);
}

QCoro::Task<> SiteLogin::clickAndWait(Element element)
{
    QPointer<SiteLogin> self(this);
    m_loginPageLoading = true;
    // A click that cannot reach the page starts no load: nothing to wait for.
    if (!element.click()) {
        m_loginPageLoading = false;
        co_return;
    }
    co_await letEventsRun();
    if (!self)
        co_return;
    co_await waitForLoginPage();
}

QCoro::Task<> SiteLogin::fillAccountForm(DocumentPtr doc)
{
    const QString user = trimSpaces(m_host.account());
    const QString pass = trimSpaces(m_host.password());
    int filled = 0;
    const ElementCollection inputs = doc->getElementsByTagName(QStringLiteral("INPUT"));
    for (int i = 0; i < inputs.length(); ++i) {
        const Element input = inputs.item(i);
        const QString name = input.name().toLower();
        if (isAccountField(name)) {
            input.setValue(user);
            ++filled;
        }
        if (isPasswordField(name)) {
            input.setValue(pass);
            ++filled;
        }
        // The first submit button after both fields; one before them is passed over.
        if (input.type().toLower() == QLatin1String("submit") && filled > 1) {
            co_await clickAndWait(input);
            co_return;
        }
    }
}

QCoro::Task<> SiteLogin::run(bool showMessages, Prompter* prompter)
{
    // Steps 1-2: without the address (or, for the account login, the account
    // and password) nothing runs and the automatic login goes off.
    const QString missing = missingSetting();
    if (!missing.isEmpty()) {
        if (showMessages)
            (prompter ? *prompter : Prompter::instance()).message(missing, MessageIcon::Error);
        m_host.setAutoLogin(false);
        co_return;
    }
    if (m_running || !m_browser)
        co_return;

    QPointer<SiteLogin> self(this);
    m_running = true;
    m_host.setTestLoginEnabled(false);
    emit loginStarted();

    co_await openLoginPage();
    if (!self)
        co_return;

    // Whatever the page holds now is used; missing elements are passed over.
    if (m_browser) {
        QPointer<Browser> browser(m_browser);
        DocumentPtr doc = co_await browser->document();
        if (!self)
            co_return;
        if (doc && browser) {
            if (!m_host.ipLogin()) {
                co_await fillAccountForm(doc);
            } else {
                const Element button = doc->getElementById(QStringLiteral("submitip"));
                if (!button.isNull())
                    co_await clickAndWait(button);
            }
            if (!self)
                co_return;
        }
    }

    // A short pause so the site can settle (cookies, redirects) before the
    // next download starts.
    co_await QCoro::sleepFor(timings().loginPause);
    if (!self)
        co_return;
    m_running = false;
    m_host.setTestLoginEnabled(true);
    emit loginFinished();
}

QCoro::Task<> SiteLogin::afterTransfer(QString fileType)
{
    if (!m_host.autoLogin() || !dh::isWebPageType(fileType))
        co_return;
    co_await run(false);
}

} // namespace dh
