#pragma once
// The download window's login panel: its embedded browser (browser()),
// the login address, account and password, the IP-login choice, the
// automatic login after a web-page result and the refresh every minute.
#include "gui/WindowTestFriends.h"
#include "download/SiteLogin.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDockWidget;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace dh {

class WebEngineBrowser;
class DownloadWindow;

class LoginPanel : public QWidget, public SiteLoginHost {
    Q_OBJECT
public:
    // window gives the list (for "网页登录"), the status bar (page titles)
    // and the login refresh timer. It must outlive the panel; the panel is
    // normally its child.
    explicit LoginPanel(DownloadWindow* window, QWidget* parent = nullptr);
    ~LoginPanel() override;

    WebEngineBrowser* browser() const { return m_web; }
    SiteLogin* login() const { return m_login; }

    // The container shown over the list (the dock widget when attached).
    void setContainer(QWidget* container) { m_container = container; }
    QWidget* container() const { return m_container ? m_container.data() : const_cast<LoginPanel*>(this); }

    // The commands.
    void loginClicked();  // 网页登录
    void browseClicked();  // 浏览
    void testLoginClicked();  // 测试登录
    void hideClicked();  // 关闭(隐藏)

    // After a transfer ended on row (0-based), once the row holds its result:
    // the automatic login when the row is a web page. Method one awaits it
    // before its next row; a method-two slot lets it run on.
    QCoro::Task<> transferEnded(int row);

    // --- SiteLoginHost --------------------------------------------------------
    QString loginAddress() const override;
    QString account() const override;
    QString password() const override;
    bool ipLogin() const override;
    bool autoLogin() const override;
    void setAutoLogin(bool on) override;
    void setBrowseEnabled(bool enabled) override;
    void setTestLoginEnabled(bool enabled) override;

private:
    void onAutoLoginToggled(bool on);
    void onAutoRefreshToggled(bool on);

    QPointer<DownloadWindow> m_window;
    WebEngineBrowser* m_web = nullptr;
    SiteLogin* m_login = nullptr;
    QPointer<QWidget> m_container;
    QPointer<QPushButton> m_command1;  // lives in the window's button row

private:
    DH_WINDOW_TEST_FRIENDS
    // The panel belongs to its download window, which places its button and
    // fills in the address of a site that answered with web pages.
    friend class DownloadWindow;
    friend LoginPanel* attachLoginPanel(DownloadWindow* window);

    QPushButton* m_loginButton = nullptr;  // 网页登录 (placed in the window by attachLoginPanel)
    QLabel* m_addressLabel = nullptr;         // 网址：
    QLineEdit* m_addressEdit = nullptr;       // login address
    QPushButton* m_browseButton = nullptr;  // 浏览
    QRadioButton* m_accountLoginRadio = nullptr;  // 帐号登录：
    QLineEdit* m_accountEdit = nullptr;       // account
    QLabel* m_passwordLabel = nullptr;        // 密码：
    QLineEdit* m_passwordEdit = nullptr;       // password
    QRadioButton* m_ipLoginRadio = nullptr;  // IP登录
    QLabel* m_conditionLabel = nullptr;        // 自动登录条件：
    QComboBox* m_conditionCombo = nullptr;      // the condition (shown, not read)
    QCheckBox* m_autoLoginCheck = nullptr;      // 自动登录
    QPushButton* m_testLoginButton = nullptr;  // 测试登录
    QCheckBox* m_autoRefreshCheck = nullptr;      // 自动刷新(每分钟)
    QPushButton* m_hideButton = nullptr;  // 关闭(隐藏)
    QTimer* m_refreshTimer = nullptr;         // the window's refresh timer
};

// Copies the embedded browser's cookies (the persistent profile shared by
// every WebEngine view) into the transfer layer's cookie jar as they are set
// and removed, so a login made in a page unlocks the downloads. Idempotent.
void forwardBrowserCookiesToTransfers();

// Builds the login panel into the download window: a dock widget over the
// list area (hidden until "网页登录"), the "网页登录" button beside the start
// and stop buttons, and the automatic login after each finished transfer of
// either method. Returns the panel (owned by the window).
LoginPanel* attachLoginPanel(DownloadWindow* window);

} // namespace dh
