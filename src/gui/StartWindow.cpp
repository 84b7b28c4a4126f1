#include "gui/StartWindow.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/BrowserEmulation.h"
#include "app/WindowRegistry.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "gui/Windows.h"
#include "gui/SearchWindow.h"
#include "ports/Prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace dh {

namespace {
StartWindow* g_cover = nullptr;
}

std::function<void(StartWindow*)>& StartWindow::updateCheckHook()
{
    static std::function<void(StartWindow*)> h;
    return h;
}

QString StartWindow::clearCacheOnExitNotice()
{
    return QStringLiteral("退出时正在清空浏览器缓存，网页登录也会随之失效。\n"
                          "不想清空时，可在“设置”中取消“退出时清空浏览器缓存”。");
}

std::function<void()>& StartWindow::clearCacheHook()
{
    static std::function<void()> h;
    return h;
}

std::function<void()>& StartWindow::endProcessHook()
{
    static std::function<void()> h = [] { QApplication::quit(); };
    return h;
}

StartWindow::StartWindow(QWidget* parent) : QWidget(parent)
{
    g_cover = this;
    WindowRegistry::add(QStringLiteral("fCover"), this);
    setWindowIcon(QIcon(QStringLiteral(":/docharvest.svg")));

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(36, 28, 36, 20);
    lay->setSpacing(14);
    m_titleLabel = new QLabel(programTitle(), this);
    QFont big = m_titleLabel->font();
    big.setPointSizeF(big.pointSizeF() * 2.2);
    big.setBold(true);
    m_titleLabel->setFont(big);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel = new QLabel(this);
    m_versionLabel->setAlignment(Qt::AlignCenter);
    lay->addWidget(m_titleLabel);
    lay->addWidget(m_versionLabel);

    auto* buttons = new QHBoxLayout();
    m_searchButton = new QPushButton(QStringLiteral("搜索文档下载"), this);
    m_quitButton = new QPushButton(QStringLiteral("退出软件"), this);
    m_searchButton->setMinimumSize(150, 40);
    m_quitButton->setMinimumSize(150, 40);
    m_searchButton->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(m_searchButton);
    buttons->addSpacing(24);
    buttons->addWidget(m_quitButton);
    buttons->addStretch(1);
    lay->addLayout(buttons);

    m_noticeLabel = new QLabel(QStringLiteral("(该软件仅用于爱学习的人们辅助少量下载；请不要恶意下载和大量下载！)"), this);
    m_noticeLabel->setAlignment(Qt::AlignCenter);
    m_noticeLabel->setWordWrap(true);
    m_noticeLabel->setStyleSheet(QStringLiteral("color:#a33;"));
    lay->addWidget(m_noticeLabel);
    m_latestVersionLabel = new QLabel(QStringLiteral("最新版本："), this);
    m_latestVersionLabel->setAlignment(Qt::AlignCenter);
    m_latestVersionLabel->hide();
    lay->addWidget(m_latestVersionLabel);

    m_updateCheckTimer = new QTimer(this);
    m_updateCheckTimer->setSingleShot(true);
    m_updateCheckTimer->setInterval(int(timings().coverUpdateDelay.count()));
    connect(m_updateCheckTimer, &QTimer::timeout, this, [this] {
        m_updateCheckTimer->stop();
        if (updateCheckHook())
            updateCheckHook()(this);
    });
    connect(m_searchButton, &QPushButton::clicked, this, &StartWindow::searchClicked);
    connect(m_quitButton, &QPushButton::clicked, this, &QWidget::close);
}

StartWindow::~StartWindow()
{
    if (g_cover == this)
        g_cover = nullptr;
}

StartWindow* StartWindow::instance()
{
    return g_cover;
}

void StartWindow::showLatestVersion(const QString& caption)
{
    m_latestVersionLabel->setText(caption);
    m_latestVersionLabel->show();
}

void StartWindow::load()
{
    setWindowTitle(programTitle());
    m_versionLabel->setText(versionLabelText());
    adjustSize();
    setFixedSize(std::max(width(), 460), height());
    if (const QScreen* sc = screen())
        move(sc->availableGeometry().center() - rect().center());
    show();
    // The remaining steps run once the cover has been painted.
    QTimer::singleShot(0, this, &StartWindow::slowStartupSteps);
}

void StartWindow::slowStartupSteps()
{
    globals().osDescription = composeOsDescription();
    setBrowserEmulation(QStringLiteral("IE10"), true);  // the result is not needed: Chromium renders alike either way
    globals().maxFileSizeMB = readMaxFileSizeMB();
    m_updateCheckTimer->start();
    m_startupDone = true;
}

void StartWindow::searchClicked()
{
    hide();
    SearchWindow* w = windows::search();
    w->show();
    w->raise();
    w->activateWindow();
}

void StartWindow::closeEvent(QCloseEvent* e)
{
    if (m_exiting) {
        e->accept();
        return;
    }
    m_exiting = true;
    SettingsStore& st = SettingsStore::instance();
    const bool clearCache = st.getFlag(keys::clearCacheOnExit);
    if (clearCache && !st.getFlag(keys::clearCacheOnExitTold)) {
        // Emptying the cache also ends web logins: say so the first time, not at every exit.
        st.save(keys::clearCacheOnExitTold, QStringLiteral("1"));
        Prompter::instance().message(clearCacheOnExitNotice(), MessageIcon::Information);
    }
    hide();
    if (clearCache && clearCacheHook())
        clearCacheHook()();
    e->accept();
    if (endProcessHook())
        endProcessHook()();
}

} // namespace dh
