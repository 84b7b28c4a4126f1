#include "download/DownloadWindowState.h"

#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "ports/Clock.h"

#include <QLocale>

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

QString totalProgressText(const DownloadListModel::Totals& t, bool running, double bytesPerSecond)
{
    const QLocale c = QLocale::c();
    QString text = QStringLiteral("%1/%2 已完成").arg(t.count(DownloadState::Done)).arg(t.rows);
    text += QStringLiteral(" · 失败:%1").arg(t.count(DownloadState::Failed));
    if (t.count(DownloadState::Page) > 0)
        text += QStringLiteral(" 网页:%1").arg(t.count(DownloadState::Page));
    text += QStringLiteral(" · ") + c.formattedDataSize(t.received, 1, QLocale::DataSizeTraditionalFormat);
    if (!running)
        return text;
    text += QStringLiteral(" · ") + c.formattedDataSize(qint64(bytesPerSecond), 1, QLocale::DataSizeTraditionalFormat)
        + QStringLiteral("/s");
    if (const auto s = remainingSeconds(t, bytesPerSecond)) {
        const qint64 h = *s / 3600, m = *s / 60 % 60, sec = *s % 60;
        text += QStringLiteral(" · 剩余 ")
            + (h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(sec, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(m).arg(sec, 2, 10, QLatin1Char('0')));
    }
    return text;
}

} // namespace dh
