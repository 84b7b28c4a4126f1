#pragma once
// Login to a document site in the download window's embedded browser (browser):
// open the login page, fill in account and password and press the form's
// submit button, or press the page's IP-login button. Works on the abstract
// Browser, so the same code drives the WebEngine view and the headless one.
#include "ports/Browser.h"
#include "ports/Prompter.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoroTask>

namespace dh {

// The login panel's controls as the login reads and changes them. Values are
// read at the moment each step needs them, as the user may edit meanwhile.
class SiteLoginHost {
public:
    virtual ~SiteLoginHost() = default;
    virtual QString loginAddress() const = 0;  // "网址："
    virtual QString account() const = 0;       // m_accountEdit (帐号登录)
    virtual QString password() const = 0;      // "密码："
    virtual bool ipLogin() const = 0;          // "IP登录" chosen (else "帐号登录：")
    virtual bool autoLogin() const = 0;        // "自动登录"
    virtual void setAutoLogin(bool on) = 0;
    virtual void setBrowseEnabled(bool /*enabled*/) {}    // "浏览"
    virtual void setTestLoginEnabled(bool /*enabled*/) {} // "测试登录"
};

// The panel as plain fields, for tests and the command line.
struct SiteLoginValues : SiteLoginHost {
    QString address;
    QString user;
    QString pass;
    bool ip = false;
    bool autoOn = false;
    bool browseEnabled = true;
    bool testEnabled = true;

    QString loginAddress() const override { return address; }
    QString account() const override { return user; }
    QString password() const override { return pass; }
    bool ipLogin() const override { return ip; }
    bool autoLogin() const override { return autoOn; }
    void setAutoLogin(bool on) override { autoOn = on; }
    void setBrowseEnabled(bool e) override { browseEnabled = e; }
    void setTestLoginEnabled(bool e) override { testEnabled = e; }
};

class SiteLogin : public QObject {
    Q_OBJECT
public:
    static QString missingAddressText() { return QStringLiteral("必须先设置登录网址！"); }
    static QString missingAccountText() { return QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"); }

    // browser and host must outlive this object.
    SiteLogin(Browser& browser, SiteLoginHost& host, QObject* parent = nullptr);
    ~SiteLogin() override;

    Browser& browser() const { return *m_browser; }

    // loginPageLoading: set just before the login asks the browser to load a
    // page or clicks in it; cleared by the top-level documentComplete.
    bool loginPageLoading() const { return m_loginPageLoading; }
    // A login run is in progress ("测试登录" disabled).
    bool running() const { return m_running; }

    // The address, account and password the chosen login needs, checked as a
    // login and as the ticking of "自动登录" check them: the message to show,
    // or an empty text when everything is there.
    QString missingSetting() const;

    // Ticking "自动登录": false (after showing the message) when the login
    // could not run; the caller unticks the box then.
    bool confirmAutoLogin(Prompter& prompter = Prompter::instance()) const;

    // "浏览": loads the login address (trimmed) and waits until it has
    // loaded or dh::timings().loginWait has passed. Nothing when empty.
    QCoro::Task<> openLoginPage();

    // "测试登录" (showMessages true) and the automatic login (false): see the
    // class comment. A second call while one runs returns at once.
    QCoro::Task<> run(bool showMessages, Prompter* prompter = nullptr);

    // After a transfer ended: runs the login without messages when "自动登录"
    // is ticked and the row's type is a web page. Returns at once otherwise.
    QCoro::Task<> afterTransfer(QString fileType);

signals:
    // A login run started / ended (for displays and tests).
    void loginStarted();
    void loginFinished();

private:
    // Waits while the browser is busy or loginPageLoading holds, at most
    // dh::timings().loginWait.
    QCoro::Task<bool> waitForLoginPage();
    // Clicks an element of the login page and waits for the page it leads to.
    QCoro::Task<> clickAndWait(Element element);
    QCoro::Task<> fillAccountForm(DocumentPtr doc);

    QPointer<Browser> m_browser;
    SiteLoginHost& m_host;
    bool m_loginPageLoading = false;
    bool m_running = false;
};

} // namespace dh
