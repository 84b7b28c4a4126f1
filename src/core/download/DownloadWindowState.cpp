#include "download/DownloadWindowState.h"

#include "app/SettingsStore.h"
#include "platform/Clock.h"

namespace dh {

DownloadWindowState::DownloadWindowState()
{
    markTransferEvent();
}

void DownloadWindowState::markTransferEvent()
{
    lastTransferEventTime = float(Clock::secondsOfDay());
}

int DownloadWindowState::downloadMethodFromSettings(const SettingsStore& store)
{
    return store.getInt(keys::downloadMethod) == 1 ? 1 : 2;
}

int DownloadWindowState::countTransferControls() const
{
    return m_countControls ? m_countControls() : 1;
}

bool DownloadWindowState::stillExecuting() const
{
    return m_stillExecuting && m_stillExecuting();
}

bool DownloadWindowState::schedulerRunning() const
{
    return m_timerEnabled && m_timerEnabled();
}

bool DownloadWindowState::downloadsActive() const
{
    return countTransferControls() > 1 || stillExecuting() || schedulerRunning();
}

bool DownloadWindowState::refuses(BusyGuard guard) const
{
    switch (guard) {
    case BusyGuard::A:
        return downloadsActive();
    case BusyGuard::B:
        return schedulerRunning() || transferBusy;
    case BusyGuard::C:
        return transferBusy;
    }
    return false;
}

bool DownloadWindowState::pass(BusyGuard guard, Prompter& prompter) const
{
    if (!refuses(guard))
        return true;
    prompter.message(guardMessage(guard), guardIcon(guard));
    return false;
}

QString DownloadWindowState::guardMessage(BusyGuard guard)
{
    switch (guard) {
    case BusyGuard::A:
        return QStringLiteral("停止下载以后，才能执行此操作！");
    case BusyGuard::B:
        return QStringLiteral("停止下载后方可排序！");
    case BusyGuard::C:
        break;
    }
    return QStringLiteral("停止下载后方可设置！");
}

MessageIcon DownloadWindowState::guardIcon(BusyGuard guard)
{
    return guard == BusyGuard::C ? MessageIcon::Error : MessageIcon::Information;
}

} // namespace dh
