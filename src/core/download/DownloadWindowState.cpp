#include "download/DownloadWindowState.h"

#include "app/SettingsStore.h"
#include "app/Timings.h"
#include <QLocale>

#include <limits>

namespace dh {

DownloadWindowState::DownloadWindowState()
{
    markTransferEvent();
}

void DownloadWindowState::markTransferEvent()
{
    m_lastTransferEvent.start();
}

qint64 DownloadWindowState::msSinceTransferEvent() const
{
    return m_lastTransferEvent.isValid() ? m_lastTransferEvent.elapsed() : std::numeric_limits<qint64>::max();
}

void DownloadWindowState::settleTransferBusy()
{
    if (downloadMethod == 1) {
        if (!stillExecuting() && !schedulerRunning())
            m_transferBusy = false;
    } else {
        m_transferBusy = schedulerRunning();
    }
}

int DownloadWindowState::downloadMethodFromSettings(const SettingsStore& store)
{
    return store.getInt(keys::downloadMethod) == 1 ? 1 : 2;
}

int DownloadWindowState::activeTransfers() const
{
    return m_activeTransfers ? m_activeTransfers() : 0;
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
    return activeTransfers() > 0 || stillExecuting() || schedulerRunning();
}

bool DownloadWindowState::refuses(BusyGuard guard) const
{
    switch (guard) {
    case BusyGuard::ListChanges:
        return downloadsActive();
    case BusyGuard::Sorting:
        return schedulerRunning() || m_transferBusy;
    case BusyGuard::Cancelling:
        return m_transferBusy;
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
    case BusyGuard::ListChanges:
        return QStringLiteral("停止下载以后，才能执行此操作！");
    case BusyGuard::Sorting:
        return QStringLiteral("停止下载后方可排序！");
    case BusyGuard::Cancelling:
        break;
    }
    return QStringLiteral("停止下载后方可设置！");
}

MessageIcon DownloadWindowState::guardIcon(BusyGuard guard)
{
    return guard == BusyGuard::Cancelling ? MessageIcon::Error : MessageIcon::Information;
}

void TransferRate::add(qint64 msNow, qint64 bytes)
{
    if (!m_samples.empty() && (bytes < m_samples.back().second || msNow < m_samples.back().first))
        m_samples.clear();
    m_samples.emplace_back(msNow, bytes);
    // Keep one sample at or before the window's start, so the span covers it.
    const qint64 from = msNow - qint64(timings().speedWindow.count());
    while (m_samples.size() > 2 && m_samples[1].first <= from)
        m_samples.pop_front();
}

double TransferRate::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return 0;
    const qint64 ms = m_samples.back().first - m_samples.front().first;
    const qint64 bytes = m_samples.back().second - m_samples.front().second;
    return ms > 0 ? double(bytes) * 1000.0 / double(ms) : 0;
}

std::optional<qint64> remainingSeconds(const DownloadListModel::Totals& t, double bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return std::nullopt;
    double left = double(t.knownLeft);
    if (const int waiting = t.count(DownloadState::Waiting); waiting > 0) {
        if (t.sizedRows == 0)
            return std::nullopt;
        left += double(waiting) * double(t.sizedBytes) / double(t.sizedRows);
    }
    return qint64(left / bytesPerSecond + 0.5);
}

// Sizes in the units people read everywhere (KB, MB), with Chinese for a
// count of single bytes.
static QString sizeText(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString totalProgressText(const DownloadListModel::Totals& t, bool running, double bytesPerSecond)
{
    QString text = QStringLiteral("%1/%2 已完成").arg(t.count(DownloadState::Done)).arg(t.rows);
    text += QStringLiteral(" · 失败:%1").arg(t.count(DownloadState::Failed));
    if (t.count(DownloadState::Page) > 0)
        text += QStringLiteral(" 网页:%1").arg(t.count(DownloadState::Page));
    text += QStringLiteral(" · ") + sizeText(t.received);
    if (!running)
        return text;
    text += QStringLiteral(" · ") + sizeText(qint64(bytesPerSecond)) + QStringLiteral("/秒");
    if (const auto s = remainingSeconds(t, bytesPerSecond)) {
        const qint64 h = *s / 3600, m = *s / 60 % 60, sec = *s % 60;
        text += QStringLiteral(" · 剩余 ")
            + (h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0')));
    }
    return text;
}

} // namespace dh
