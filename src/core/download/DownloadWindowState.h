#pragma once
#include "ports/Prompter.h"

#include "download/DownloadListModel.h"

#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <optional>

namespace dh {

class SettingsStore;

// The three busy guards with which list commands refuse to run while
// downloads are active.
enum class BusyGuard {
    A,  // downloadsActive: removals, random order, type correction
    B,  // scheduler on or transferBusy: column sort, the list's context menu
    C,  // transferBusy: cancel selected rows
};

// The values through which the download window's scheduler, transfers,
// monitor and list commands coordinate on the one UI thread. The window owns
// one instance and shares it with the scheduler; the live window objects
// (method two's transfer controls, method one's transfer control, the
// scheduler timer) are asked through the three sources below.
class DownloadWindowState {
public:
    static constexpr int kSlotCount = 12;  // slots 0..11; 0 is never used

    DownloadWindowState();

    // --- where the live facts come from -----------------------------------
    // Loaded method-two transfer controls, control 0 included (1 when unset).
    void setTransferControlCounter(std::function<int()> count) { m_countControls = std::move(count); }
    // Method one's transfer is running (false when unset).
    void setStillExecutingSource(std::function<bool()> executing) { m_stillExecuting = std::move(executing); }
    // The scheduler timer is on (false when unset).
    void setSchedulerTimerSource(std::function<bool()> enabled) { m_timerEnabled = std::move(enabled); }

    // --- window state -------------------------------------------------------
    int downloadMethod = 2;  // 1: one file at a time; 2: parallel transfers
    bool transferBusy = false;
    // The 1-based list position each transfer slot works on; 0 = none.
    std::array<int, kSlotCount> slotRows{};
    // Seconds since midnight of the last transfer end, failure or size skip.
    float lastTransferEventTime = 0.0f;

    // Sets lastTransferEventTime to now (window load, transfer end).
    void markTransferEvent();
    // The stored download method ("设置"/"下载方式"); anything but 1 means 2.
    static int downloadMethodFromSettings(const SettingsStore& store);

    int countTransferControls() const;
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
    std::function<int()> m_countControls;
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
