#include "gui/LoginPanel.h"

#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "gui/fFileDownload.h"
#include "platform/Transfer.h"
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

LoginPanel::LoginPanel(fFileDownload* window, QWidget* parent)
    : QWidget(parent)
    , m_window(window)
{
    setObjectName(QStringLiteral("PicWebBK"));
    m_web = new WebEngineBrowser(this);
    m_web->setSilent(true);
    m_web->view()->setObjectName(QStringLiteral("Web1"));
    m_login = new SiteLogin(*m_web, *this, this);

    Command1 = new QPushButton(QStringLiteral("网页登录"));
    Command1->setObjectName(QStringLiteral("Command1"));
    m_command1 = Command1;
    Label6 = new QLabel(QStringLiteral("网址："), this);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Command2 = new QPushButton(QStringLiteral("浏览"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Option4 = new QRadioButton(QStringLiteral("帐号登录："), this);
    Option4->setObjectName(QStringLiteral("Option4"));
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Label10 = new QLabel(QStringLiteral("密码："), this);
    Text3 = new QLineEdit(this);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setEchoMode(QLineEdit::Password);
    Option5 = new QRadioButton(QStringLiteral("IP登录"), this);
    Option5->setObjectName(QStringLiteral("Option5"));
    auto* choice = new QButtonGroup(this);
    choice->addButton(Option4);
    choice->addButton(Option5);
    Option4->setChecked(true);
    Label11 = new QLabel(QStringLiteral("自动登录条件："), this);
    Combo3 = new QComboBox(this);
    Combo3->setObjectName(QStringLiteral("Combo3"));
    Combo3->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件!"));
    Combo3->setCurrentIndex(0);
    Check2 = new QCheckBox(QStringLiteral("自动登录"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Command5 = new QPushButton(QStringLiteral("测试登录"), this);
    Command5->setObjectName(QStringLiteral("Command5"));
    Check1 = new QCheckBox(QStringLiteral("自动刷新(每分钟)"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Command3 = new QPushButton(QStringLiteral("关闭(隐藏)"), this);
    Command3->setObjectName(QStringLiteral("Command3"));

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(4, 4, 4, 4);
    auto* row1 = new QHBoxLayout();
    row1->addWidget(Label6);
    row1->addWidget(Text1, 1);
    row1->addWidget(Command2);
    row1->addWidget(Command3);
    lay->addLayout(row1);
    auto* row2 = new QHBoxLayout();
    row2->addWidget(Option4);
    row2->addWidget(Text2, 1);
    row2->addWidget(Label10);
    row2->addWidget(Text3, 1);
    row2->addWidget(Option5);
    lay->addLayout(row2);
    auto* row3 = new QHBoxLayout();
    row3->addWidget(Label11);
    row3->addWidget(Combo3);
    row3->addWidget(Check2);
    row3->addWidget(Command5);
    row3->addWidget(Check1);
    row3->addStretch(1);
    lay->addLayout(row3);
    lay->addWidget(m_web->view(), 1);
    m_web->Navigate(QStringLiteral("about:blank"));

    // Timer2 belongs to the window (it stops it when closing); a panel built
    // without a window brings its own.
    Timer2 = (m_window && m_window->m_loginRefreshTimer) ? m_window->m_loginRefreshTimer : new QTimer(this);
    Timer2->stop();
    Timer2->setInterval(int(timings().loginRefresh.count()));
    connect(Timer2, &QTimer::timeout, this, [this] {
        if (m_web)
            m_web->Refresh();
    });

    connect(Command1, &QPushButton::clicked, this, &LoginPanel::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &LoginPanel::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &LoginPanel::Command5_Click);
    connect(Command3, &QPushButton::clicked, this, &LoginPanel::Command3_Click);
    connect(Check2, &QCheckBox::toggled, this, &LoginPanel::onCheck2Toggled);
    connect(Check1, &QCheckBox::toggled, this, &LoginPanel::onCheck1Toggled);

    connect(m_web, &Browser::TitleChange, this, [this](const QString& title) {
        if (!isAboutBlank(title) && m_window)
            m_window->setStatusText(3, title);
    });

    forwardBrowserCookiesToTransfers();
}

LoginPanel::~LoginPanel()
{
    // Command1 lives in the window's button row; it goes with the panel
    // unless the window has taken it down already.
    delete m_command1.data();
}

QString LoginPanel::loginAddress() const { return Text1->text(); }
QString LoginPanel::account() const { return Text2->text(); }
QString LoginPanel::password() const { return Text3->text(); }
bool LoginPanel::ipLogin() const { return Option5->isChecked(); }
bool LoginPanel::autoLogin() const { return Check2->isChecked(); }

void LoginPanel::setAutoLogin(bool on)
{
    // The engine unticks the box after a failed check: no second message.
    const QSignalBlocker block(Check2);
    Check2->setChecked(on);
}

void LoginPanel::setBrowseEnabled(bool enabled) { Command2->setEnabled(enabled); }
void LoginPanel::setTestLoginEnabled(bool enabled) { Command5->setEnabled(enabled); }

void LoginPanel::Command1_Click()
{
    QWidget* c = container();
    c->show();
    c->raise();
    if (Check1->isChecked() || Check2->isChecked() || !m_window || !m_window->m_downloadsView)
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
        m_web->Navigate(list->item(row).Url);
}

void LoginPanel::Command2_Click()
{
    QCoro::Task<> t = m_login->OpenLoginPage();
    Q_UNUSED(t);
}

void LoginPanel::Command5_Click()
{
    // The disabled button is the guard against a second, overlapping login.
    if (!Command5->isEnabled())
        return;
    QCoro::Task<> t = m_login->run(true);
    Q_UNUSED(t);
}

void LoginPanel::Command3_Click()
{
    container()->hide();
    if (!Check1->isChecked())
        m_web->Navigate(QStringLiteral("about:blank"));
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
    QCoro::Task<> running = m_login->afterTransfer(list->item(row).FileType);
    co_await running;
}

void LoginPanel::onCheck2Toggled(bool on)
{
    if (!on)
        return;
    if (!m_login->confirmAutoLogin())
        setAutoLogin(false);
}

void LoginPanel::onCheck1Toggled(bool on)
{
    if (on)
        Timer2->start(int(timings().loginRefresh.count()));
    else
        Timer2->stop();
}

LoginPanel* attachLoginPanel(fFileDownload* window)
{
    if (!window)
        return nullptr;
    auto* dock = new QDockWidget(QStringLiteral("网页登录"), window);
    dock->setObjectName(QStringLiteral("PicWebBKDock"));
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
                    panel->Command1->setParent(window->m_stopButton->parentWidget());
                    box->insertWidget(at + 1, panel->Command1);
                    placed = true;
                }
            }
        }
    }
    if (!placed) {
        panel->Command1->setParent(window);
        window->addToolBar(QStringLiteral("网页登录"))->addWidget(panel->Command1);
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
