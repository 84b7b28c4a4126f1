// The download window's login panel with the real embedded browser against
// the demo site: its controls, the checks when "自动登录" is ticked, the
// refresh timer, a login through the page and the cookies it hands to the
// downloads.
#include "GuiTestMain.h"

#include "app/Timings.h"
#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "gui/LoginPanel.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "net/CurlTransferEngine.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>

using namespace dh;
using namespace std::chrono_literals;

class LoginPanelTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    demo::DemoService service;
    std::unique_ptr<CurlTransferEngine> engine;
    DownloadWindow* window = nullptr;
    LoginPanel* panel = nullptr;

    QString url(const QString& path) const { return service.baseUrl() + path; }
    bool hasLoginCookie() const
    {
        for (const QNetworkCookie& c : engine->cookieJar()->cookiesForUrl(QUrl(url("/doc/protected/x.pdf"))))
            if (c.name() == "DH_LOGIN")
                return true;
        return false;
    }
    // Whether the page shown in browser has an element with this id.
    bool webShows(const QString& id)
    {
        const DocumentPtr doc = QCoro::waitFor(panel->browser()->document());
        return !doc->getElementById(id).isNull();
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        timings().loginPause = 50ms;
        timings().loginWait = 8000ms;
        timings().loginRefresh = 300ms;
        QVERIFY(service.start());
        engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(engine.get());
        window = windows::download();
        panel = window->findChild<LoginPanel*>();
        if (!panel)
            panel = attachLoginPanel(window);
        QVERIFY(panel);
        window->show();
    }

    void cleanupTestCase()
    {
        if (DownloadWindow* d = windows::downloadIfLoaded()) {
            prompter.questionAnswers.assign(1, true);
            QPointer<QWidget> p(d);
            d->close();
            QTRY_VERIFY(p.isNull());
        }
        setTransferEngine(nullptr);
        engine.reset();
        service.stop();
        Prompter::setInstance(nullptr);
    }

    void controlsStartAsDesigned()
    {
        QCOMPARE(panel->m_loginButton->text(), QStringLiteral("网页登录"));
        QVERIFY(panel->m_loginButton->window() == window);
        QCOMPARE(panel->m_addressLabel->text(), QStringLiteral("网址："));
        QCOMPARE(panel->m_browseButton->text(), QStringLiteral("浏览"));
        QCOMPARE(panel->m_accountLoginRadio->text(), QStringLiteral("帐号登录："));
        QCOMPARE(panel->m_passwordLabel->text(), QStringLiteral("密码："));
        QCOMPARE(panel->m_ipLoginRadio->text(), QStringLiteral("IP登录"));
        QCOMPARE(panel->m_conditionLabel->text(), QStringLiteral("自动登录条件："));
        QCOMPARE(panel->m_conditionCombo->count(), 1);
        QCOMPARE(panel->m_conditionCombo->currentText(), QStringLiteral("下载到网页文件(htm/html/asp)文件!"));
        QCOMPARE(panel->m_autoLoginCheck->text(), QStringLiteral("自动登录"));
        QCOMPARE(panel->m_testLoginButton->text(), QStringLiteral("测试登录"));
        QCOMPARE(panel->m_autoRefreshCheck->text(), QStringLiteral("自动刷新(每分钟)"));
        QCOMPARE(panel->m_hideButton->text(), QStringLiteral("关闭(隐藏)"));
        QVERIFY(panel->m_accountLoginRadio->isChecked());
        QVERIFY(!panel->m_ipLoginRadio->isChecked());
        QVERIFY(!panel->m_autoRefreshCheck->isChecked());
        QVERIFY(!panel->m_autoLoginCheck->isChecked());
        QVERIFY(panel->m_testLoginButton->isEnabled());
        QVERIFY(panel->m_addressEdit->text().isEmpty());
        QVERIFY(!panel->m_refreshTimer->isActive());
        QVERIFY(panel->browser()->silent());
        QVERIFY(!panel->container()->isVisible());

        QTest::mouseClick(panel->m_loginButton, Qt::LeftButton);
        QVERIFY(panel->container()->isVisible());
        QTest::mouseClick(panel->m_hideButton, Qt::LeftButton);
        QVERIFY(!panel->container()->isVisible());
    }

    void tickingAutomaticLoginChecksTheSettings()
    {
        struct Case {
            QString address, user, pass;
            bool ip;
            QString message;
        };
        const QList<Case> cases = {
            {"", "a", "b", false, SiteLogin::missingAddressText()},
            {url("/login"), "a", " ", false, SiteLogin::missingAccountText()},
            {url("/login"), "", "", true, {}},
            {url("/login"), "a", "b", false, {}},
        };
        for (const Case& c : cases) {
            prompter.clear();
            panel->m_autoLoginCheck->setChecked(false);
            panel->m_addressEdit->setText(c.address);
            panel->m_accountEdit->setText(c.user);
            panel->m_passwordEdit->setText(c.pass);
            (c.ip ? panel->m_ipLoginRadio : panel->m_accountLoginRadio)->setChecked(true);
            QTest::mouseClick(panel->m_autoLoginCheck, Qt::LeftButton);
            if (c.message.isEmpty()) {
                QVERIFY(panel->m_autoLoginCheck->isChecked());
                QVERIFY(prompter.shown.empty());
            } else {
                QVERIFY(!panel->m_autoLoginCheck->isChecked());
                QCOMPARE(prompter.texts(), QStringList{c.message});
                QCOMPARE(prompter.shown[0].icon, MessageIcon::Error);
            }
        }
        panel->m_autoLoginCheck->setChecked(false);
        panel->m_accountLoginRadio->setChecked(true);
    }

    void testLoginLogsInAndUnlocksDownloads()
    {
        panel->m_addressEdit->setText(" " + url("/login") + " ");
        panel->m_accountEdit->setText(QStringLiteral("alice"));
        panel->m_passwordEdit->setText(QStringLiteral("secret"));
        QVERIFY(!hasLoginCookie());
        QCOMPARE(QCoro::waitFor(engine->openUrl(url("/doc/protected/paper.pdf"))).left(5), QByteArray("<!DOC"));

        QTest::mouseClick(panel->m_testLoginButton, Qt::LeftButton);
        QVERIFY(!panel->m_testLoginButton->isEnabled());
        QVERIFY(panel->login()->running());
        QTest::mouseClick(panel->m_testLoginButton, Qt::LeftButton);  // a second press finds it disabled
        QTRY_VERIFY_WITH_TIMEOUT(panel->m_testLoginButton->isEnabled(), 20000);
        QVERIFY(webShows("login-ok"));
        QVERIFY(prompter.shown.empty());
        // The page's cookie reached the downloads.
        QTRY_VERIFY(hasLoginCookie());
        QCOMPARE(QCoro::waitFor(engine->openUrl(url("/doc/protected/paper.pdf"))),
                 demo::makeDocument(QStringLiteral("pdf"), QStringLiteral("paper")));
        // The title went to status-bar panel 3.
        QTRY_COMPARE(window->m_statusPanels[3]->text(), QStringLiteral("登录成功 - 演示文档站"));
    }

    void refreshKeepsRunningWhileTheHiddenPanelKeepsItsPage()
    {
        QCoro::waitFor(navigateAndWait(*panel->browser(), url("/login/ip"), 8000ms));
        QTest::mouseClick(panel->m_autoRefreshCheck, Qt::LeftButton);
        QVERIFY(panel->m_refreshTimer->isActive());
        QCOMPARE(panel->m_refreshTimer->interval(), 300);
        QTest::mouseClick(panel->m_loginButton, Qt::LeftButton);
        QTest::mouseClick(panel->m_hideButton, Qt::LeftButton);
        QVERIFY(!panel->container()->isVisible());
        const quint64 loads = panel->browser()->completedLoads();
        QTRY_VERIFY_WITH_TIMEOUT(panel->browser()->completedLoads() >= loads + 2, 5000);
        QVERIFY(panel->browser()->locationUrl().endsWith("/login/ip"));
        QTest::mouseClick(panel->m_autoRefreshCheck, Qt::LeftButton);
        QVERIFY(!panel->m_refreshTimer->isActive());

        // Without the refresh, hiding goes back to an empty page.
        QTest::mouseClick(panel->m_loginButton, Qt::LeftButton);
        QTest::mouseClick(panel->m_hideButton, Qt::LeftButton);
        QTRY_COMPARE(panel->browser()->locationUrl(), QStringLiteral("about:blank"));
    }

    void webLoginShowsTheSelectedRow()
    {
        window->list()->addItem(url("/login/email"), "row", "htm", QDir::tempPath() + "/", "");
        window->m_downloadsView->setCurrentIndex(window->list()->index(0, 0));
        window->m_downloadsView->selectionModel()->select(window->list()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::mouseClick(panel->m_loginButton, Qt::LeftButton);
        QVERIFY(panel->container()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(panel->browser()->locationUrl().endsWith("/login/email"), 8000);
        QTest::mouseClick(panel->m_hideButton, Qt::LeftButton);
    }
};

DH_GUI_TEST_MAIN(LoginPanelTest)
#include "login_panel_test.moc"
