#include "gui/OptionsDialog.h"

#include "search/ServiceProfile.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/WindowRegistry.h"
#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "gui/Windows.h"
#include "download/DownloadScheduler.h"
#include "download/MethodOneTransfer.h"
#include "gui/ServiceMode.h"
#include "gui/DownloadWindow.h"
#include "gui/SearchWindow.h"
#include "search/SearchEngine.h"
#include "ports/Prompter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QDir>
#include <QSignalBlocker>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>

namespace dh {

namespace {
QPointer<OptionsDialog>& slot()
{
    static QPointer<OptionsDialog> p;
    return p;
}
} // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent)
{
    if (!slot())
        slot() = this;
    WindowRegistry::add(QStringLiteral("fOption"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("设置")));
    setModal(true);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(18, 16, 18, 14);
    lay->setSpacing(10);

    m_methodLabel = new QLabel(QStringLiteral("下载方式："), this);
    lay->addWidget(m_methodLabel);
    m_methodOneRadio = new QRadioButton(QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"), this);
    m_methodTwoRadio = new QRadioButton(QStringLiteral("下载方式二 (支持HTTP，多线程下载)"), this);
    auto* methods = new QButtonGroup(this);
    methods->addButton(m_methodOneRadio, 1);
    methods->addButton(m_methodTwoRadio, 2);
    for (QRadioButton* o : {m_methodOneRadio, m_methodTwoRadio}) {
        auto* row = new QHBoxLayout();
        row->addSpacing(20);
        row->addWidget(o);
        row->addStretch(1);
        lay->addLayout(row);
    }

    m_useProxyCheck = new QCheckBox(QStringLiteral("下载使用代理服务器"), this);
    lay->addWidget(m_useProxyCheck);
    auto* proxy = new QGridLayout();
    proxy->setContentsMargins(20, 0, 0, 0);
    proxy->setHorizontalSpacing(8);
    auto* hostLabel = new QLabel(QStringLiteral("地址："), this);
    proxy->addWidget(hostLabel, 0, 0);
    m_proxyHostEdit = new QLineEdit(this);
    hostLabel->setBuddy(m_proxyHostEdit);  // also what a screen reader calls the box
    m_proxyHostEdit->setMinimumWidth(200);
    proxy->addWidget(m_proxyHostEdit, 0, 1);
    m_hostHintLabel = new QLabel(QStringLiteral("(如：proxy.example.com 或者 192.168.1.100)"), this);
    proxy->addWidget(m_hostHintLabel, 0, 2);
    auto* portLabel = new QLabel(QStringLiteral("端口："), this);
    proxy->addWidget(portLabel, 1, 0);
    m_proxyPortEdit = new QLineEdit(this);
    portLabel->setBuddy(m_proxyPortEdit);
    m_proxyPortEdit->setMaximumWidth(90);
    m_portHintLabel = new QLabel(QStringLiteral("(如：3128 或者 80 等等)"), this);
    auto* portRow = new QHBoxLayout();
    portRow->setSpacing(8);
    portRow->addWidget(m_proxyPortEdit);
    portRow->addWidget(m_portHintLabel);
    portRow->addStretch(1);
    proxy->addLayout(portRow, 1, 1, 1, 2);
    proxy->setColumnStretch(2, 1);
    lay->addLayout(proxy);

    m_askSaveFolderCheck = new QCheckBox(QStringLiteral("提取网页信息时，提示下载保存路径"), this);
    lay->addWidget(m_askSaveFolderCheck);

    m_clearCacheOnExitCheck = new QCheckBox(QStringLiteral("退出时清空浏览器缓存"), this);
    lay->addWidget(m_clearCacheOnExitCheck);

    // "下载文件大小不超过：       MB": the box stands in the gap of the caption.
    auto* size = new QHBoxLayout();
    auto* sizeLabel = new QLabel(QStringLiteral("下载文件大小不超过："), this);
    size->addWidget(sizeLabel);
    m_sizeLimitEdit = new QLineEdit(this);
    sizeLabel->setBuddy(m_sizeLimitEdit);
    m_sizeLimitEdit->setMaximumWidth(80);
    m_sizeLimitEdit->setAlignment(Qt::AlignRight);
    size->addWidget(m_sizeLimitEdit);
    size->addWidget(new QLabel(QStringLiteral("MB"), this));
    size->addSpacing(12);

    // Retries of a transfer that failed on the way, and transfers at once per
    // server, on the size limit's row: the dialog must fit a small screen.
    auto* network = size;
    const auto addSpin = [&](const QString& caption, QSpinBox*& box, int most, const QString& zero) {
        auto* label = new QLabel(caption, this);
        network->addWidget(label);
        box = new QSpinBox(this);
        label->setBuddy(box);
        box->setRange(0, most);
        box->setSpecialValueText(zero);
        network->addWidget(box);
    };
    addSpin(QStringLiteral("失败重试次数："), m_retriesSpin, 10, QStringLiteral("不重试"));
    addSpin(QStringLiteral("每个服务器同时下载数："), m_perHostSpin, DownloadScheduler::kMaxSlots,
            QStringLiteral("不限"));
    network->addStretch(1);
    lay->addLayout(network);

    // The services and the suffix rule: settings a user would otherwise have
    // to edit in the INI file.
    auto* services = new QGridLayout();
    services->setHorizontalSpacing(8);
    const auto addRow = [&](int row, const QString& caption, QLineEdit*& box,
                            const QString& placeholder) {
        auto* label = new QLabel(caption, this);
        services->addWidget(label, row, 0);
        box = new QLineEdit(this);
        label->setBuddy(box);
        box->setPlaceholderText(placeholder);
        services->addWidget(box, row, 1);
    };
    addRow(0, QStringLiteral("搜索服务地址："), m_searchServiceEdit,
           QStringLiteral("留空则使用内置演示服务（演示模式）"));
    addRow(1, QStringLiteral("更新服务地址："), m_updateServiceEdit,
           QStringLiteral("留空则启动时不检查更新"));
    addRow(2, QStringLiteral("排除标题后缀域名："), m_excludedDomainEdit,
           QStringLiteral("如：docin.com"));
    m_searchServiceEdit->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('m')) * 32);
    m_excludedDomainEdit->setMaxLength(12);
    m_excludedDomainEdit->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('m')) * 14);
    // The service profile: which markup the search reads.
    services->addWidget(new QLabel(QStringLiteral("搜索服务配置："), this), 3, 0);
    auto* profileRow = new QHBoxLayout();
    m_profileCombo = new QComboBox(this);
    m_importProfileButton = new QPushButton(QStringLiteral("导入…"), this);
    profileRow->addWidget(m_profileCombo, 1);
    profileRow->addWidget(m_importProfileButton);
    services->addLayout(profileRow, 3, 1);
    m_profileQueryLabel = new QLabel(this);
    m_profileQueryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    services->addWidget(m_profileQueryLabel, 4, 1);
    connect(m_profileCombo, &QComboBox::currentIndexChanged, this, [this] {
        m_profileQueryLabel->setText(QStringLiteral("查询地址：") + m_profileCombo->currentData().toString());
    });
    connect(m_importProfileButton, &QPushButton::clicked, this, [this] {
        const QString file = Prompter::instance().openFile(QStringLiteral("导入搜索服务配置"), QDir::homePath(),
                                                            QStringLiteral("搜索服务配置 (*.json)"));
        if (!file.isEmpty())
            importProfile(file);
    });
    services->setColumnStretch(1, 1);
    lay->addLayout(services);

    lay->addSpacing(6);
    auto* buttons = new QHBoxLayout();
    m_okButton = new QPushButton(QStringLiteral("确定"), this);
    m_closeButton = new QPushButton(QStringLiteral("关闭"), this);
    m_okButton->setDefault(true);
    m_okButton->setMinimumWidth(90);
    m_closeButton->setMinimumWidth(90);
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addSpacing(16);
    buttons->addWidget(m_closeButton);
    buttons->addStretch(1);
    lay->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, &OptionsDialog::okClicked);
    connect(m_closeButton, &QPushButton::clicked, this, &OptionsDialog::closeClicked);

    load();
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::fillProfiles(const QString& select)
{
    const QSignalBlocker block(m_profileCombo);
    m_profileCombo->clear();
    for (const ServiceProfile& p : availableServiceProfiles())
        m_profileCombo->addItem(p.name, p.query);
    m_profileCombo->setCurrentIndex(std::max(0, m_profileCombo->findText(select)));
    m_profileQueryLabel->setText(QStringLiteral("查询地址：") + m_profileCombo->currentData().toString());
}

void OptionsDialog::importProfile(const QString& file)
{
    QString error;
    const auto p = importServiceProfile(file, &error);
    if (!p) {
        // The chosen profile stays as it was.
        Prompter::instance().message(QStringLiteral("无法导入搜索服务配置：%1").arg(error), MessageIcon::Exclamation);
        return;
    }
    fillProfiles(p->name);
}

OptionsDialog* OptionsDialog::instance()
{
    return slot();
}

void OptionsDialog::load()
{
    auto& st = SettingsStore::instance();
    fillProfiles(activeServiceProfile(st).name);
    // Method and proxy: what the download window holds, or the stored values
    // when it is not loaded. The window takes the proxy values from the store
    // at load and only this dialog changes them, so the store is current.
    m_useProxyCheck->setChecked(st.getFlag(keys::proxyEnabled));
    m_proxyHostEdit->setText(st.get(keys::proxyHost));
    m_proxyPortEdit->setText(st.get(keys::proxyPort));

    int method = 0;
    if (DownloadWindow* w = windows::downloadIfLoaded())
        method = w->downloadMethod;
    else
        method = st.getInt(keys::downloadMethod);
    m_methodOneRadio->setChecked(method == 1);
    m_methodTwoRadio->setChecked(method == 2);
    // Any other value selects neither; an exclusive group cannot clear a
    // checked button by itself.
    if (method != 1 && method != 2) {
        m_methodOneRadio->group()->setExclusive(false);
        m_methodOneRadio->setChecked(false);
        m_methodTwoRadio->setChecked(false);
        m_methodOneRadio->group()->setExclusive(true);
    }

    // The stored value is where the search window takes promptOnExtract
    // from, and the two agree once it has; before that only the store knows.
    m_askSaveFolderCheck->setChecked(st.getFlag(keys::promptOnExtract));
    m_clearCacheOnExitCheck->setChecked(st.getFlag(keys::clearCacheOnExit));
    m_sizeLimitEdit->setText(QString::number(globals().maxFileSizeMB));
    {
        // What the download engine reads: a stored value that is not a number is the default.
        const auto count = [&st](const SettingKey& key) {
            const int n = st.getInt(key);
            return n < 0 ? QString::fromUtf8(key.defaultValue).toInt() : n;
        };
        m_retriesSpin->setValue(count(keys::retryCount));
        m_perHostSpin->setValue(count(keys::perHostLimit));
    }

    m_loadedSearch = st.get(keys::searchServiceBase).trimmed();
    m_loadedUpdate = st.get(keys::updateServiceBase).trimmed();
    m_searchServiceEdit->setText(m_loadedSearch);
    m_updateServiceEdit->setText(m_loadedUpdate);
    m_excludedDomainEdit->setText(st.get(keys::excludedSuffixDomain));
}

bool OptionsDialog::excludedDomainLooksRight(const QString& text)
{
    for (QChar c : text) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') || c == QLatin1Char('-');
        if (!ok)
            return false;
    }
    return text.size() <= 12;
}

bool OptionsDialog::refuse(QLineEdit* box, const QString& message)
{
    Prompter::instance().message(message, MessageIcon::Exclamation);
    box->setFocus();
    box->selectAll();
    return false;
}

std::optional<int> OptionsDialog::parseSizeText(const QString& text)
{
    double d = 0;
    if (!parseStoredNumber(text, &d))
        return std::nullopt;
    if (d < -0.5 || d > double(INT_MAX))
        return std::nullopt;
    const long long r = roundHalfEven(d);
    if (r < 0 || r > INT_MAX)
        return std::nullopt;
    return int(r);
}

bool OptionsDialog::proxyValuesLookWrong(bool enabled, const QString& host, const QString& port)
{
    if (!enabled)
        return false;
    if (host.isEmpty())
        return true;
    if (port.isEmpty())
        return true;
    for (QChar c : port) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return true;
    }
    bool ok = false;
    const int p = port.toInt(&ok);
    return !ok || p < 1 || p > 65535;
}

void OptionsDialog::okClicked()
{
    auto& st = SettingsStore::instance();
    auto& g = globals();

    // A size that is not a number would otherwise become some arbitrary
    // limit; nothing is stored until it is one.
    const std::optional<int> size = parseSizeText(m_sizeLimitEdit->text());
    if (!size) {
        Prompter::instance().message(sizeRefusalText(), MessageIcon::Exclamation);
        m_sizeLimitEdit->setFocus();
        m_sizeLimitEdit->selectAll();
        return;
    }

    // Addresses that cannot work are refused the same way, before anything is stored.
    const QString searchAddress = m_searchServiceEdit->text().trimmed();
    const QString updateAddress = m_updateServiceEdit->text().trimmed();
    const QString domain = m_excludedDomainEdit->text().trimmed();
    if (!searchAddress.isEmpty() && !isHttpServiceAddress(searchAddress)) {
        refuse(m_searchServiceEdit, searchAddressRefusalText());
        return;
    }
    if (!updateAddress.isEmpty() && !isHttpServiceAddress(updateAddress)) {
        refuse(m_updateServiceEdit, updateAddressRefusalText());
        return;
    }
    if (!excludedDomainLooksRight(domain)) {
        refuse(m_excludedDomainEdit, domainRefusalText());
        return;
    }

    // 1. The method, and the download window's view of it.
    DownloadWindow* w = windows::downloadIfLoaded();
    int method = w ? w->downloadMethod : st.getInt(keys::downloadMethod);
    if (m_methodOneRadio->isChecked()) {
        method = 1;
        if (w)
            w->showDownloadMethod(1, false);
    } else if (m_methodTwoRadio->isChecked()) {
        const bool switching = method != 2;
        method = 2;
        // Coming from method one the thread count starts at "1"; a
        // confirmation that keeps method two keeps the user's count.
        if (w)
            w->showDownloadMethod(2, switching);
    }
    // 2.
    st.save(keys::downloadMethod, QString::number(method));

    // 3.-5. The proxy, saved as typed (trimmed).
    const bool proxyOn = m_useProxyCheck->isChecked();
    const QString host = trimSpaces(m_proxyHostEdit->text());
    const QString port = trimSpaces(m_proxyPortEdit->text());
    st.save(keys::proxyEnabled, proxyOn ? QStringLiteral("1") : QStringLiteral("0"));
    st.save(keys::proxyHost, host);
    st.save(keys::proxyPort, port);
    // The download window's method one holds them from its load on.
    if (w && w->scheduler())
        w->scheduler()->methodOne().setProxy(proxyOn, host, port);

    // 6. A warning only: the values are stored and the steps go on.
    if (proxyValuesLookWrong(proxyOn, host, port))
        Prompter::instance().message(proxyWarningText(), MessageIcon::Error);

    // 7.
    g.promptOnExtract = m_askSaveFolderCheck->isChecked();
    st.save(keys::promptOnExtract, g.promptOnExtract ? QStringLiteral("1") : QStringLiteral("0"));
    st.save(keys::clearCacheOnExit, m_clearCacheOnExitCheck->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));

    // 8.
    g.maxFileSizeMB = *size;
    st.save(keys::maxFileSize, QString::number(*size));
    st.save(keys::retryCount, QString::number(m_retriesSpin->value()));
    st.save(keys::perHostLimit, QString::number(m_perHostSpin->value()));
    if (w && w->scheduler()) {
        w->scheduler()->setRetries(m_retriesSpin->value());
        w->scheduler()->setPerHostLimit(m_perHostSpin->value());
    }

    // The services and the suffix rule. An address given on the command line
    // stays in force unless its box was changed here.
    st.save(keys::searchServiceBase, searchAddress);
    st.save(keys::updateServiceBase, updateAddress);
    st.save(keys::excludedSuffixDomain, domain);
    st.save(keys::searchServiceProfile, m_profileCombo->currentText());
    if (searchAddress != m_loadedSearch)
        services::applySearchService(searchAddress);
    if (updateAddress != m_loadedUpdate)
        g.updateBaseAddress = updateAddress;
    if (SearchWindow* search = windows::searchIfLoaded()) {
        search->engine()->extractOptions.excludedDomain = domain;
        search->applyServiceProfile(serviceProfileNamed(m_profileCombo->currentText()));
    }

    // 9.
    accept();
}

void OptionsDialog::closeClicked()
{
    reject();
}

void showOptionsDialog(QWidget* parent)
{
    if (OptionsDialog* open = slot()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dlg = new OptionsDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    if (parent) {
        dlg->adjustSize();
        dlg->move(parent->frameGeometry().center() - dlg->rect().center());
    }
    dlg->open();  // window-modal over parent; no nested event loop
}

} // namespace dh
