// The options dialog against an isolated settings store: what it shows, what
// "确定" stores and changes in the open download window, the proxy warning,
// the size rules, and "关闭" changing nothing.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/SettingsStore.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "gui/OptionsDialog.h"
#include "ports/Prompter.h"
#include "platform/desktop/Translations.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMenu>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <memory>

using namespace dh;

namespace {
const SettingKey kEdited[] = {keys::downloadMethod, keys::proxyEnabled, keys::proxyHost,
                              keys::proxyPort,      keys::promptOnExtract, keys::maxFileSize};

// The raw stored texts of the six settings; "<absent>" for a key never written.
QStringList storedValues()
{
    QStringList out;
    for (const SettingKey& k : kEdited)
        out << SettingsStore::instance().get(QString::fromUtf8(k.section), QString::fromUtf8(k.key),
                                             QStringLiteral("<absent>"));
    return out;
}
} // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    std::unique_ptr<QTemporaryDir> dir;

    void store(const SettingKey& k, const QString& v) { SettingsStore::instance().save(k, v); }
    QString stored(const SettingKey& k) { return SettingsStore::instance().get(k); }

    DownloadWindow* openDownloadWindow()
    {
        DownloadWindow* w = windows::download();
        w->show();
        return w;
    }

    // Presses 确定 on a dialog that was filled by the caller; returns whether it closed.
    static bool confirm(OptionsDialog& d)
    {
        if (!d.isVisible())
            d.show();
        QTest::mouseClick(d.m_okButton, Qt::LeftButton);
        return !d.isVisible() && d.result() == QDialog::Accepted;
    }

private Q_SLOTS:
    void initTestCase() { Prompter::setInstance(&prompter); }
    void cleanupTestCase() { Prompter::setInstance(nullptr); }

    void init()
    {
        prompter.clear();
        prompter.questionAnswers.clear();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        SettingsStore::setInstance(std::make_unique<SettingsStore>(dir->filePath(QStringLiteral("DocHarvest.ini"))));
        globals().maxFileSizeMB = 10;
        globals().promptOnExtract = true;
    }

    void cleanup()
    {
        if (DownloadWindow* w = windows::downloadIfLoaded()) {
            QPointer<DownloadWindow> p(w);
            prompter.questionAnswers.assign(1, true);
            w->close();
            QTRY_VERIFY(p.isNull());
        }
        SettingsStore::setInstance(nullptr);
        dir.reset();
    }

    void captionsAndTexts()
    {
        OptionsDialog d;
        QCOMPARE(d.windowTitle(), QStringLiteral("设置-DocHarvest"));
        QCOMPARE(d.m_methodLabel->text(), QStringLiteral("下载方式："));
        QCOMPARE(d.m_methodOneRadio->text(), QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"));
        QCOMPARE(d.m_methodTwoRadio->text(), QStringLiteral("下载方式二 (支持HTTP，多线程下载)"));
        QCOMPARE(d.m_useProxyCheck->text(), QStringLiteral("下载使用代理服务器"));
        QCOMPARE(d.m_portHintLabel->text(), QStringLiteral("(如：3128 或者 80 等等)"));
        QVERIFY(d.m_hostHintLabel->text().contains(QStringLiteral("proxy.example.com")));
        QCOMPARE(d.m_askSaveFolderCheck->text(), QStringLiteral("提取网页信息时，提示下载保存路径"));
        QCOMPARE(d.m_okButton->text(), QStringLiteral("确定"));
        QCOMPARE(d.m_closeButton->text(), QStringLiteral("关闭"));
        const QStringList labels = [&] {
            QStringList l;
            for (QLabel* x : d.findChildren<QLabel*>())
                l << x->text();
            return l;
        }();
        for (const char* t : {"地址：", "端口：", "下载文件大小不超过：", "MB", "搜索服务地址：", "更新服务地址：", "排除标题后缀域名："})
            QVERIFY2(labels.contains(QString::fromUtf8(t)), t);
    }

    void firstRunShowsTheDefaults()
    {
        OptionsDialog d;
        QVERIFY(!d.m_methodOneRadio->isChecked());
        QVERIFY(d.m_methodTwoRadio->isChecked());
        QVERIFY(!d.m_useProxyCheck->isChecked());
        QCOMPARE(d.m_proxyHostEdit->text(), QString());
        QCOMPARE(d.m_proxyPortEdit->text(), QString());
        QVERIFY(d.m_askSaveFolderCheck->isChecked());
        QCOMPARE(d.m_sizeLimitEdit->text(), QStringLiteral("10"));
        QCOMPARE(d.m_searchServiceEdit->text(), QString());  // the demo service
        QCOMPARE(d.m_updateServiceEdit->text(), QString());  // no update check
        QCOMPARE(d.m_excludedDomainEdit->text(), QStringLiteral("docin.com"));
        QCOMPARE(d.m_excludedDomainEdit->maxLength(), 12);
    }

    void loadShowsTheStoredValues()
    {
        store(keys::downloadMethod, QStringLiteral("1"));
        store(keys::proxyEnabled, QStringLiteral("1"));
        store(keys::proxyHost, QStringLiteral("10.0.0.8"));
        store(keys::proxyPort, QStringLiteral("8080"));
        store(keys::promptOnExtract, QStringLiteral("0"));
        globals().maxFileSizeMB = 25;
        OptionsDialog d;
        QVERIFY(d.m_methodOneRadio->isChecked());
        QVERIFY(!d.m_methodTwoRadio->isChecked());
        QVERIFY(d.m_useProxyCheck->isChecked());
        QCOMPARE(d.m_proxyHostEdit->text(), QStringLiteral("10.0.0.8"));
        QCOMPARE(d.m_proxyPortEdit->text(), QStringLiteral("8080"));
        QVERIFY(!d.m_askSaveFolderCheck->isChecked());
        QCOMPARE(d.m_sizeLimitEdit->text(), QStringLiteral("25"));
    }

    void anOddStoredMethodSelectsNeitherAndIsKept()
    {
        store(keys::downloadMethod, QStringLiteral("3"));
        OptionsDialog d;
        QVERIFY(!d.m_methodOneRadio->isChecked());
        QVERIFY(!d.m_methodTwoRadio->isChecked());
        QVERIFY(confirm(d));
        QCOMPARE(stored(keys::downloadMethod), QStringLiteral("3"));
    }

    void theMethodShownIsTheOneTheDownloadWindowHolds()
    {
        store(keys::downloadMethod, QStringLiteral("2"));
        DownloadWindow* w = openDownloadWindow();
        w->downloadMethod = 1;  // held, not yet stored
        OptionsDialog d;
        QVERIFY(d.m_methodOneRadio->isChecked());
    }

    void confirmSwitchesTheMethodOfTheOpenDownloadWindow()
    {
        store(keys::downloadMethod, QStringLiteral("1"));
        DownloadWindow* w = openDownloadWindow();
        QCOMPARE(w->m_methodLabel->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!w->m_transferCountCombo->isEnabled());
        {
            OptionsDialog d;
            d.m_methodTwoRadio->setChecked(true);
            QVERIFY(confirm(d));
        }
        QCOMPARE(w->downloadMethod, 2);
        QCOMPARE(w->m_methodLabel->text(), QStringLiteral("下载方式：2"));
        QVERIFY(w->m_transferCountCombo->isEnabled());
        QCOMPARE(w->m_transferCountCombo->currentText(), QStringLiteral("1"));
        QCOMPARE(stored(keys::downloadMethod), QStringLiteral("2"));

        // Confirming again with method two keeps the thread count chosen since.
        w->m_transferCountCombo->setCurrentIndex(w->m_transferCountCombo->findText(QStringLiteral("4")));
        {
            OptionsDialog d;
            QVERIFY(d.m_methodTwoRadio->isChecked());
            QVERIFY(confirm(d));
        }
        QCOMPARE(w->m_transferCountCombo->currentText(), QStringLiteral("4"));

        {
            OptionsDialog d;
            d.m_methodOneRadio->setChecked(true);
            QVERIFY(confirm(d));
        }
        QCOMPARE(w->downloadMethod, 1);
        QCOMPARE(w->m_methodLabel->text(), QStringLiteral("下载方式：1"));
        QVERIFY(!w->m_transferCountCombo->isEnabled());
        QCOMPARE(stored(keys::downloadMethod), QStringLiteral("1"));
    }

    void proxyValuesAndWarning_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<QString>("storedHost");
        QTest::addColumn<QString>("storedPort");
        QTest::newRow("on, host empty, 3128") << true << "" << "3128" << true << "" << "3128";
        QTest::newRow("on, port not a number") << true << "proxy.lan" << "80a" << true << "proxy.lan" << "80a";
        QTest::newRow("on, port empty") << true << "proxy.lan" << "" << true << "proxy.lan" << "";
        QTest::newRow("on, port out of range") << true << "proxy.lan" << "70000" << true << "proxy.lan" << "70000";
        QTest::newRow("on, trimmed and good") << true << "  10.1.2.3 " << " 8080  " << false << "10.1.2.3" << "8080";
        QTest::newRow("off, nothing typed") << false << "" << "" << false << "" << "";
        QTest::newRow("off, bad values kept") << false << "" << "x" << false << "" << "x";
    }

    void proxyValuesAndWarning()
    {
        QFETCH(bool, on);
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(bool, warned);
        QFETCH(QString, storedHost);
        QFETCH(QString, storedPort);
        openDownloadWindow();  // the warning does not stop the window's update either
        OptionsDialog d;
        d.m_useProxyCheck->setChecked(on);
        d.m_proxyHostEdit->setText(host);
        d.m_proxyPortEdit->setText(port);
        d.m_askSaveFolderCheck->setChecked(false);
        d.m_sizeLimitEdit->setText(QStringLiteral("33"));
        QVERIFY(confirm(d));
        if (warned) {
            QCOMPARE(prompter.texts(), QStringList{QStringLiteral("代理服务器网址或者端口格式不对！")});
            QCOMPARE(prompter.shown[0].icon, MessageIcon::Error);
        } else {
            QVERIFY(prompter.shown.empty());
        }
        QCOMPARE(stored(keys::proxyEnabled), on ? QStringLiteral("1") : QStringLiteral("0"));
        QCOMPARE(stored(keys::proxyHost), storedHost);
        QCOMPARE(stored(keys::proxyPort), storedPort);
        // The steps after the warning ran.
        QCOMPARE(stored(keys::promptOnExtract), QStringLiteral("0"));
        QCOMPARE(globals().promptOnExtract, false);
        QCOMPARE(stored(keys::maxFileSize), QStringLiteral("33"));
    }

    void sizeIsRoundedHalfToEven_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("mb");
        QTest::newRow("7.5") << "7.5" << 8;
        QTest::newRow("8.5") << "8.5" << 8;
        QTest::newRow("0") << "0" << 0;
        QTest::newRow("0.4") << "0.4" << 0;
        QTest::newRow("spaces") << "  12 " << 12;
        QTest::newRow("exponent") << "1e2" << 100;
    }

    void sizeIsRoundedHalfToEven()
    {
        QFETCH(QString, typed);
        QFETCH(int, mb);
        OptionsDialog d;
        d.m_sizeLimitEdit->setText(typed);
        QVERIFY(confirm(d));
        QCOMPARE(stored(keys::maxFileSize), QString::number(mb));
        QCOMPARE(globals().maxFileSizeMB, mb);
        QVERIFY(prompter.shown.empty());
    }

    void aSizeThatIsNotANumberIsRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
        QTest::newRow("negative") << "-3";
        QTest::newRow("too large") << "99999999999";
        QTest::newRow("comma") << "7,5";
    }

    void aSizeThatIsNotANumberIsRefused()
    {
        QFETCH(QString, typed);
        store(keys::maxFileSize, QStringLiteral("15"));
        globals().maxFileSizeMB = 15;
        const QStringList before = storedValues();
        OptionsDialog d;
        d.m_methodOneRadio->setChecked(true);
        d.m_useProxyCheck->setChecked(true);  // would warn, but nothing runs
        d.m_sizeLimitEdit->setText(typed);
        QVERIFY(!confirm(d));
        QVERIFY(d.isVisible());
        QCOMPARE(prompter.texts(), QStringList{OptionsDialog::sizeRefusalText()});
        QCOMPARE(storedValues(), before);
        QCOMPARE(globals().maxFileSizeMB, 15);
        // Corrected, it goes through.
        prompter.clear();
        d.m_sizeLimitEdit->setText(QStringLiteral("20"));
        d.m_useProxyCheck->setChecked(false);
        QVERIFY(confirm(d));
        QCOMPARE(stored(keys::maxFileSize), QStringLiteral("20"));
        QCOMPARE(stored(keys::downloadMethod), QStringLiteral("1"));
    }

    void serviceFieldsAreValidated_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal");  // empty: accepted and stored trimmed
        const QString search = OptionsDialog::searchAddressRefusalText();
        const QString update = OptionsDialog::updateAddressRefusalText();
        QTest::newRow("search http with port") << "search" << " http://127.0.0.1:8080/ " << "";
        QTest::newRow("search https") << "search" << "https://search.example.net" << "";
        QTest::newRow("search empty: demo") << "search" << "" << "";
        QTest::newRow("search no scheme") << "search" << "www.docin.com" << search;
        QTest::newRow("search ftp") << "search" << "ftp://files.example.net" << search;
        QTest::newRow("search no host") << "search" << "http://" << search;
        QTest::newRow("search user part") << "search" << "http://real.site@other.host" << search;
        QTest::newRow("search space inside") << "search" << "http://a b.com" << search;
        QTest::newRow("update https") << "update" << "https://upd.example.org/" << "";
        QTest::newRow("update bare word") << "update" << "docharvest" << update;
        QTest::newRow("domain") << "domain" << "docin.com" << "";
        QTest::newRow("domain empty") << "domain" << "" << "";
        QTest::newRow("domain site name") << "domain" << "豆丁网" << OptionsDialog::domainRefusalText();
        QTest::newRow("domain with path") << "domain" << "docin.com/p" << OptionsDialog::domainRefusalText();
    }

    void serviceFieldsAreValidated()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        const SettingKey key = box == QLatin1String("search") ? keys::searchServiceBase
                               : box == QLatin1String("update") ? keys::updateServiceBase
                                                                 : keys::excludedSuffixDomain;
        store(key, QStringLiteral("kept"));
        const QStringList before = storedValues();
        OptionsDialog d;
        QLineEdit* edit = box == QLatin1String("search") ? d.m_searchServiceEdit
                          : box == QLatin1String("update") ? d.m_updateServiceEdit
                                                            : d.m_excludedDomainEdit;
        if (box != QLatin1String("search"))
            d.m_searchServiceEdit->setText(QStringLiteral("http://127.0.0.1:9"));  // keeps the demo service out
        if (box != QLatin1String("domain"))
            d.m_excludedDomainEdit->clear();
        edit->setText(typed);
        d.m_sizeLimitEdit->setText(QStringLiteral("44"));
        if (refusal.isEmpty()) {
            QVERIFY(confirm(d));
            QCOMPARE(stored(key), typed.trimmed());
            QCOMPARE(stored(keys::maxFileSize), QStringLiteral("44"));
            QVERIFY(prompter.shown.empty());
        } else {
            QVERIFY(!confirm(d));
            QCOMPARE(prompter.texts(), QStringList{refusal});
            QCOMPARE(stored(key), QStringLiteral("kept"));
            QCOMPARE(storedValues(), before);  // nothing else stored either
        }
    }

    void closeChangesNothing()
    {
        store(keys::downloadMethod, QStringLiteral("2"));
        store(keys::proxyHost, QStringLiteral("keep.me"));
        store(keys::maxFileSize, QStringLiteral("12"));
        globals().maxFileSizeMB = 12;
        DownloadWindow* w = openDownloadWindow();
        w->m_transferCountCombo->setCurrentIndex(3);
        const QStringList before = storedValues();
        const QString label = w->m_methodLabel->text();

        OptionsDialog d;
        d.show();
        d.m_methodOneRadio->setChecked(true);
        d.m_useProxyCheck->setChecked(true);
        d.m_proxyHostEdit->setText(QStringLiteral("other.host"));
        d.m_proxyPortEdit->setText(QStringLiteral("1"));
        d.m_askSaveFolderCheck->setChecked(false);
        d.m_sizeLimitEdit->setText(QStringLiteral("99"));
        QTest::mouseClick(d.m_closeButton, Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));

        QCOMPARE(storedValues(), before);
        QCOMPARE(w->downloadMethod, 2);
        QCOMPARE(w->m_methodLabel->text(), label);
        QVERIFY(w->m_transferCountCombo->isEnabled());
        QCOMPARE(w->m_transferCountCombo->currentIndex(), 3);
        QCOMPARE(globals().maxFileSizeMB, 12);
        QCOMPARE(globals().promptOnExtract, true);
        QVERIFY(prompter.shown.empty());
    }

    void showOptionsDialogOpensOneModalDialog()
    {
        QWidget parent;
        parent.resize(600, 400);
        parent.show();
        showOptionsDialog(&parent);
        QPointer<OptionsDialog> d = OptionsDialog::instance();
        QVERIFY(d);
        QVERIFY(d->isVisible());
        QVERIFY(d->isModal() || d->windowModality() != Qt::NonModal);
        showOptionsDialog(&parent);
        QCOMPARE(parent.findChildren<OptionsDialog*>().size(), 1);
        QCOMPARE(OptionsDialog::instance(), d.data());
        QTest::mouseClick(d->m_closeButton, Qt::LeftButton);
        QTRY_VERIFY(d.isNull());  // deleted once closed
        QVERIFY(!OptionsDialog::instance());
    }

    void screenshot()
    {
        store(keys::proxyEnabled, QStringLiteral("1"));
        store(keys::proxyHost, QStringLiteral("192.168.1.100"));
        store(keys::proxyPort, QStringLiteral("3128"));
        OptionsDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QImage img = d.grab().toImage();
        QVERIFY(img.width() > 300 && img.height() > 200);
        const QString out = QDir(qEnvironmentVariable("DH_BINARY_DIR")).filePath(QStringLiteral("options_dialog.png"));
        QVERIFY(img.save(out));
    }

    // Last: the catalogues stay installed for the rest of the program.
    void qtsOwnTextsSpeakChinese()
    {
        QCOMPARE(installQtChineseTranslations(*QCoreApplication::instance()),
                 (QStringList{QStringLiteral("qtbase"), QStringLiteral("qtwebengine")}));
        const auto chinese = [](const QString& t) {
            return std::any_of(t.begin(), t.end(), [](QChar c) { return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF; });
        };
        QStringList english;
        QLineEdit edit;
        std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator() && !chinese(a->text()))
                english << a->text();
        }
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes | QDialogButtonBox::No
                             | QDialogButtonBox::Save | QDialogButtonBox::Open | QDialogButtonBox::Close);
        for (QAbstractButton* b : box.buttons()) {
            if (!chinese(b->text()))
                english << b->text();
        }
        // Qt's own file dialog, as used where the desktop offers none.
        QFileDialog files(nullptr, QString(), QDir::tempPath());
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.show();
        for (const char* name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"}) {
            auto* label = files.findChild<QLabel*>(QLatin1String(name));
            QVERIFY(label);
            if (!chinese(label->text()))
                english << label->text();
        }
        QVERIFY2(english.isEmpty(), qPrintable(english.join(QStringLiteral(" | "))));
    }
};

DH_GUI_TEST_MAIN(OptionsDialogTest)
#include "options_dialog_test.moc"
