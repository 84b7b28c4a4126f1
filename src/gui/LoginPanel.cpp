#include "gui/LoginPanel.h"

#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "gui/DownloadWindow.h"
#include "ports/Transfer.h"
#include "platform/webengine/WebEngineBrowser.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace dh {

namespace {

// The end hook's answer once the panel has gone.
QCoro::Task<> nothingToAwait()
{
    co_return;
}

bool isAboutBlank(const QString& text)
{
    return text.trimmed().toLower() == QLatin1String("about:blank");
}

} // namespace

void forwardBrowserCookiesToTransfers()
{
    static bool done = false;
    if (done)
        return;
    QNetworkCookieJar* jar = transferEngine().cookieJar();
    if (!jar)
        return;
    done = true;
    QWebEngineCookieStore* store = WebEngineBrowser::profile()->cookieStore();
    // The jar may go away at exit before the profile: look it up each time.
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, store, [](const QNetworkCookie& cookie) {
        if (QNetworkCookieJar* j = transferEngine().cookieJar()) {
            if (!j->updateCookie(cookie))
                j->insertCookie(cookie);
        }
    });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store, [](const QNetworkCookie& cookie) {
        if (QNetworkCookieJar* j = transferEngine().cookieJar())
            j->deleteCookie(cookie);
    });
    // Cookies kept from earlier runs arrive through cookieAdded as well.
    store->loadAllCookies();
}

LoginPanel::LoginPanel(DownloadWindow* window, QWidget* parent)
    : QWidget(parent)
    , m_window(window)
{
    m_web = new WebEngineBrowser(this);
    m_web->setSilent(true);
    m_login = new SiteLogin(*m_web, *this, this);

    m_loginButton = new QPushButton(QStringLiteral("网页登录"));
    m_command1 = m_loginButton;
    m_addressLabel = new QLabel(QStringLiteral("网址："), this);
    m_addressEdit = new QLineEdit(this);
    m_browseButton = new QPushButton(QStringLiteral("浏览"), this);
    m_accountLoginRadio = new QRadioButton(QStringLiteral("帐号登录："), this);
    m_accountEdit = new QLineEdit(this);
    m_passwordLabel = new QLabel(QStringLiteral("密码："), this);
    m_passwordEdit = new QLineEdit(this);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_ipLoginRadio = new QRadioButton(QStringLiteral("IP登录"), this);
    auto* choice = new QButtonGroup(this);
    choice->addButton(m_accountLoginRadio);
    choice->addButton(m_ipLoginRadio);
    m_accountLoginRadio->setChecked(true);
    m_conditionLabel = new QLabel(QStringLiteral("自动登录条件："), this);
    m_conditionCombo = new QComboBox(this);
    m_conditionCombo->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件!"));
    m_conditionCombo->setCurrentIndex(0);
    m_autoLoginCheck = new QCheckBox(QStringLiteral("自动登录"), this);
    m_testLoginButton = new QPushButton(QStringLiteral("测试登录"), this);
    m_autoRefreshCheck = new QCheckBox(QStringLiteral("自动刷新(每分钟)"), this);
    m_hideButton = new QPushButton(QStringLiteral("关闭(隐藏)"), this);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(4, 4, 4, 4);
    auto* row1 = new QHBoxLayout();
    row1->addWidget(m_addressLabel);
    row1->addWidget(m_addressEdit, 1);
    row1->addWidget(m_browseButton);
    row1->addWidget(m_hideButton);
    lay->addLayout(row1);
    auto* row2 = new QHBoxLayout();
    row2->addWidget(m_accountLoginRadio);
    row2->addWidget(m_accountEdit, 1);
    row2->addWidget(m_passwordLabel);
    row2->addWidget(m_passwordEdit, 1);
    row2->addWidget(m_ipLoginRadio);
    lay->addLayout(row2);
    auto* row3 = new QHBoxLayout();
    row3->addWidget(m_conditionLabel);
    row3->addWidget(m_conditionCombo);
    row3->addWidget(m_autoLoginCheck);
    row3->addWidget(m_testLoginButton);
    row3->addWidget(m_autoRefreshCheck);
    row3->addStretch(1);
    lay->addLayout(row3);
    lay->addWidget(m_web->view(), 1);
    m_web->navigate(QStringLiteral("about:blank"));

    // The refresh timer belongs to the window (it stops it when closing); a panel built
    // without a window brings its own.
    m_refreshTimer = (m_window && m_window->m_loginRefreshTimer) ? m_window->m_loginRefreshTimer : new QTimer(this);
    m_refreshTimer->stop();
    m_refreshTimer->setInterval(int(timings().loginRefresh.count()));
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        if (m_web)
            m_web->refresh();
    });

    connect(m_loginButton, &QPushButton::clicked, this, &LoginPanel::loginClicked);
    connect(m_browseButton, &QPushButton::clicked, this, &LoginPanel::browseClicked);
    connect(m_testLoginButton, &QPushButton::clicked, this, &LoginPanel::testLoginClicked);
    connect(m_hideButton, &QPushButton::clicked, this, &LoginPanel::hideClicked);
    connect(m_autoLoginCheck, &QCheckBox::toggled, this, &LoginPanel::onAutoLoginToggled);
    connect(m_autoRefreshCheck, &QCheckBox::toggled, this, &LoginPanel::onAutoRefreshToggled);

    connect(m_web, &Browser::titleChange, this, [this](const QString& title) {
        if (!isAboutBlank(title) && m_window)
            m_window->connectionStateChanged(title);
    });

    forwardBrowserCookiesToTransfers();
}

LoginPanel::~LoginPanel()
{
    // The login button lives in the window's button row; it goes with the panel
    // unless the window has taken it down already.
    delete m_command1.data();
}

QString LoginPanel::loginAddress() const { return m_addressEdit->text(); }
QString LoginPanel::account() const { return m_accountEdit->text(); }
QString LoginPanel::password() const { return m_passwordEdit->text(); }
bool LoginPanel::ipLogin() const { return m_ipLoginRadio->isChecked(); }
bool LoginPanel::autoLogin() const { return m_autoLoginCheck->isChecked(); }

void LoginPanel::setAutoLogin(bool on)
{
    // The engine unticks the box after a failed check: no second message.
    const QSignalBlocker block(m_autoLoginCheck);
    m_autoLoginCheck->setChecked(on);
}

void LoginPanel::setBrowseEnabled(bool enabled) { m_browseButton->setEnabled(enabled); }
void LoginPanel::setTestLoginEnabled(bool enabled) { m_testLoginButton->setEnabled(enabled); }

void LoginPanel::loginClicked()
{
    QWidget* c = container();
    c->show();
    c->raise();
    if (m_autoRefreshCheck->isChecked() || m_autoLoginCheck->isChecked() || !m_window || !m_window->m_downloadsView)
        return;
    QItemSelectionModel* sel = m_window->m_downloadsView->selectionModel();
    const QModelIndex current = m_window->m_downloadsView->currentIndex();
    int row = -1;
    if (sel && current.isValid() && sel->isRowSelected(current.row(), current.parent()))
        row = current.row();
    else if (sel && !sel->selectedRows().isEmpty())
        row = sel->selectedRows().first().row();
    DownloadListModel* list = m_window->list();
    if (row >= 0 && list && row < list->size())
        m_web->navigate(list->item(row).url);
}

void LoginPanel::browseClicked()
{
    QCoro::Task<> t = m_login->openLoginPage();
    Q_UNUSED(t);
}

void LoginPanel::testLoginClicked()
{
    // The disabled button is the guard against a second, overlapping login.
    if (!m_testLoginButton->isEnabled())
        return;
    QCoro::Task<> t = m_login->run(true);
    Q_UNUSED(t);
}

void LoginPanel::hideClicked()
{
    container()->hide();
    if (!m_autoRefreshCheck->isChecked())
        m_web->navigate(QStringLiteral("about:blank"));
}

QCoro::Task<> LoginPanel::transferEnded(int row)
{
    if (!m_window || !m_window->list())
        co_return;
    DownloadListModel* list = m_window->list();
    if (row < 0 || row >= list->size())
        co_return;
    // Nothing of the panel is touched after the wait: a window closed
    // meanwhile ends the login through its own guards.
    QCoro::Task<> running = m_login->afterTransfer(list->item(row).fileType);
    co_await running;
}

void LoginPanel::onAutoLoginToggled(bool on)
{
    if (!on)
        return;
    if (!m_login->confirmAutoLogin())
        setAutoLogin(false);
}

void LoginPanel::onAutoRefreshToggled(bool on)
{
    if (on)
        m_refreshTimer->start(int(timings().loginRefresh.count()));
    else
        m_refreshTimer->stop();
}

LoginPanel* attachLoginPanel(DownloadWindow* window)
{
    if (!window)
        return nullptr;
    auto* dock = new QDockWidget(QStringLiteral("网页登录"), window);
    // Closed only through "关闭(隐藏)", which also decides about the page.
    dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    auto* panel = new LoginPanel(window, dock);
    panel->setContainer(dock);
    dock->setWidget(panel);
    window->addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();

    // "网页登录" goes beside the start and stop buttons; a tool bar when that
    // row cannot be found.
    bool placed = false;
    if (window->m_stopButton && window->m_stopButton->parentWidget()) {
        if (auto* top = window->m_stopButton->parentWidget()->layout()) {
            for (int i = 0; i < top->count() && !placed; ++i) {
                auto* box = qobject_cast<QBoxLayout*>(top->itemAt(i)->layout());
                if (!box)
                    continue;
                const int at = box->indexOf(window->m_stopButton);
                if (at >= 0) {
                    panel->m_loginButton->setParent(window->m_stopButton->parentWidget());
                    box->insertWidget(at + 1, panel->m_loginButton);
                    placed = true;
                }
            }
        }
    }
    if (!placed) {
        panel->m_loginButton->setParent(window);
        window->addToolBar(QStringLiteral("网页登录"))->addWidget(panel->m_loginButton);
    }

    // The automatic login follows the end of each transfer. Method one awaits
    // it before it frees itself for the next row; under method two the
    // scheduler starts no new row while it runs.
    DownloadScheduler* scheduler = window->scheduler();
    if (scheduler) {
        QPointer<LoginPanel> guard(panel);
        scheduler->setTransferEndHook([guard](int row) -> QCoro::Task<> {
            if (guard)
                return guard->transferEnded(row);
            return nothingToAwait();
        });
    }
    return panel;
}

} // namespace dh
