#pragma once
#include "ports/Prompter.h"

#include "download/DownloadListModel.h"

#include <QHash>
#include <QElapsedTimer>
#include <QString>
#include <deque>
#include <functional>
#include <optional>

namespace dh {

class SettingsStore;

// The three busy guards with which list commands refuse to run while
// downloads are active, named for the commands they hold back.
enum class BusyGuard {
    ListChanges,  // downloadsActive: removals, random order, type correction, address replacement
    Sorting,      // scheduler on or transferBusy: column sort, the list's context menu
    Cancelling,   // transferBusy: cancel selected rows
};

// The values through which the download window's scheduler, transfers,
// monitor and list commands coordinate on the one UI thread. The window owns
// one instance and shares it with the scheduler; the live engine objects
// (method two's transfers, method one's request, the scheduler timer) are
// asked through the three sources below.
class DownloadWindowState {
public:
    DownloadWindowState();

    // --- where the live facts come from -----------------------------------
    // Method two's running transfers (0 when unset).
    void setActiveTransfersSource(std::function<int()> count) { m_activeTransfers = std::move(count); }
    // Method one's transfer is running (false when unset).
    void setStillExecutingSource(std::function<bool()> executing) { m_stillExecuting = std::move(executing); }
    // The scheduler timer is on (false when unset).
    void setSchedulerTimerSource(std::function<bool()> enabled) { m_timerEnabled = std::move(enabled); }

    // --- window state -------------------------------------------------------
    int downloadMethod = 2;  // 1: one file at a time; 2: parallel transfers

    // The save folders made (or found) since the scheduler started, as typed →
    // as made: each is looked at once per run (runFolderPath).
    QHash<QString, QString> madeFolders;

    // A transfer holds the list: under method one from the start of its
    // transfer until its end step and end hook are over, under method two
    // while the scheduler runs. Clearing it (the stop command) also tells
    // method one's transfer to give up. Only the calls below change it.
    bool transferBusy() const { return m_transferBusy; }
    // A transfer starts (either method).
    void beginTransfer() { m_transferBusy = true; }
    // Method one's transfer is over, or the stop command.
    void endTransfer() { m_transferBusy = false; }
    // The monitor's beat: under method one the flag goes once no request
    // runs and the scheduler is off; under method two it follows the scheduler.
    void settleTransferBusy();

    // The pause between files counts from the last transfer end, failure or
    // size skip, on a monotonic clock (a change of the wall clock or midnight
    // neither shortens nor stretches it).
    void markTransferEvent();
    // As if the last transfer event lay long in the past: no pause is due.
    void forgetTransferEvent() { m_lastTransferEvent.invalidate(); }
    // Milliseconds since the last transfer event.
    qint64 msSinceTransferEvent() const;

    // The stored download method ("设置"/"下载方式"); anything but 1 means 2.
    static int downloadMethodFromSettings(const SettingsStore& store);

    int activeTransfers() const;
    bool stillExecuting() const;
    bool schedulerRunning() const;
    // A method-two transfer runs, method one's request executes, or the scheduler is on.
    bool downloadsActive() const;

    // --- guards -------------------------------------------------------------
    // True when the guard refuses its command right now.
    bool refuses(BusyGuard guard) const;
    // The guard's check for a command: shows its message and returns false when
    // it refuses; returns true (and shows nothing) when the command may run.
    bool pass(BusyGuard guard, Prompter& prompter = Prompter::instance()) const;

    static QString guardMessage(BusyGuard guard);
    static MessageIcon guardIcon(BusyGuard guard);

private:
    bool m_transferBusy = false;
    QElapsedTimer m_lastTransferEvent;
    std::function<int()> m_activeTransfers;
    std::function<bool()> m_stillExecuting;
    std::function<bool()> m_timerEnabled;
};

// The download speed over the last timings().speedWindow of samples.
class TransferRate {
public:
    // bytes: all bytes received so far, read at msNow (a steady clock).
    // Fewer bytes than before (rows reset) start the measurement again.
    void add(qint64 msNow, qint64 bytes);
    void reset() { m_samples.clear(); }
    double bytesPerSecond() const;

private:
    std::deque<std::pair<qint64, qint64>> m_samples;
};

// Seconds until the list is through at this speed: the rest of the running
// rows plus, for each waiting row, the average size of the rows seen so far.
// Nothing when the speed or the size of what is left is not known.
std::optional<qint64> remainingSeconds(const DownloadListModel::Totals& t, double bytesPerSecond);

// The text beside the total progress bar, e.g.
// "5/7 已完成 · 失败:1 网页:1 · 4.0 KB · 1.2 KB/s · 剩余 0:12"; the speed and
// the time only while running.
QString totalProgressText(const DownloadListModel::Totals& t, bool running, double bytesPerSecond);

} // namespace dh
