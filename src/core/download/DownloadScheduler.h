#pragma once
// The download scheduler: the tick that turns Waiting rows into
// transfers, the start and stop commands, and method two's transfer slots
// (0..kMaxSlots-1). Besides the tick, the
// end of every transfer asks for a refill: the same tick runs on the next
// event-loop turn, or as soon as the pause between files is over, so that a
// freed slot does not sit idle until the next tick.
#include "download/TransferEnd.h"
#include "download/TransferSupport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <QCoroTask>

#include <array>
#include <functional>
#include <memory>

namespace dh {

class Downloader;
class DownloadHost;
class DownloadListModel;
class DownloadWindowState;
class MethodOneTransfer;
class SettingsStore;

class DownloadScheduler : public QObject {
    Q_OBJECT
public:
    // Method two's parallel transfers at most.
    static constexpr int kMaxSlots = 6;

    // Wires the window state's live sources (running transfers,
    // method one's busy flag, the scheduler timer) to this scheduler. The state, list and
    // host must outlive it (the owner deletes the scheduler before them); its
    // end unhooks the sources again.
    DownloadScheduler(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host,
                      QObject* parent = nullptr);
    ~DownloadScheduler() override;

    // The scheduler timer: the scheduler is on while it runs. Interval dh::timings().tick.
    QTimer* timer() { return &m_timer; }
    bool running() const { return m_timer.isActive(); }
    // Method one's transfer (one connection).
    MethodOneTransfer& methodOne() { return *m_methodOne; }
    // The transfer in method-two slot j (0-based); nullptr when the slot is free.
    Downloader* downloader(int j) const;
    // The row (0-based) slot j works or last worked on; -1 when there is none
    // or the row is gone.
    int slotRow(int j) const;
    // Method two's running transfers.
    int activeTransfers() const;

    // Proxy settings, the size limit, the retries and the per-host limit,
    // read when the window loads.
    void loadSettings(const SettingsStore& store);

    // Automatic retries of a transfer that failed on the way (a refused or
    // cut connection, a time-out, 408/429/5xx): up to n per row, each after
    // a growing wait or the server's Retry-After; 0 turns them off. A row
    // waiting for its retry is Waiting ("等待重试 1/3（N 秒）") and holds no
    // slot; stopping fails it with its last reason.
    void setRetries(int n) { m_retries = std::max(0, n); }
    int retries() const { return m_retries; }
    // At most k of method two's transfers at once against one server (host
    // and port); 0: no limit. The next waiting row whose server has room starts.
    void setPerHostLimit(int k) { m_perHost = std::max(0, k); }
    int perHostLimit() const { return m_perHost; }

    // startDownloading: switches the scheduler on.
    void startDownloading();
    // Switches the scheduler on when it is off (a running countdown is kept).
    // The first rows start on the next event-loop turn when the pause between
    // files allows it; the ticks follow one tick interval apart.
    void switchOn();
    void switchOff();
    // stopDownloading: unticks the automatic options, cancels method one,
    // switches the scheduler off, cancels every method-two transfer and turns
    // every Downloading row Failed.
    void stopDownloading();

    // The scheduler tick (called by the timer, and by the refill after a
    // transfer has ended).
    void tick();

    // The error stop (the window's check box, --stop-after-bad): switches the
    // running scheduler off, with the list-finished cue, once
    // TransferMonitor::kErrorStopRows rows are bad. Checked as each row ends
    // (row: that row, and only a bad one can reach the count; -1 counts in
    // any case), so fast failures cannot run on between two monitor ticks.
    // True when it switched off.
    bool checkErrorStop(int row = -1);

    // The end hook of both methods (the automatic site login), awaited with
    // the row's 0-based position after a transfer has completed. Method one
    // awaits it before it frees itself; after a method-two transfer the
    // scheduler holds while it runs: no new row starts (running transfers
    // go on), at most dh::timings().loginHold, then rows start at once.
    // One hook; an empty one removes it.
    using TransferEndHook = std::function<QCoro::Task<>(int row)>;
    void setTransferEndHook(TransferEndHook hook);
    // An end hook after a method-two transfer is running.
    bool held() const { return m_holds > 0; }

    // No transfer runs (method one's included) and none will start: the list
    // is finished, or the scheduler is off.
    bool settled() const;

signals:
    // A tick started a row (0-based), under either method; its transfer runs.
    void rowStarted(int row);
    // After a transfer ended or a tick passed, when settled(): the run has
    // come to its end, unless something (a re-download round) starts it again.
    void listFinished();

private:
    // A transfer ended (any ending): while the scheduler is on, a tick runs
    // once the pause between files lets one through. Several ends before it
    // runs share one refill.
    void requestRefill();
    void refill();
    void reportIfSettled();
    // Whether the Waiting row may start now: its retry wait and its server's
    // Retry-After are over, and (with busy: transfers per server) its server
    // has room. A row that waits moves *wakeAt to when it may go.
    bool mayStart(const DownloadItem& row, const QHash<QString, int>* busy, qint64* wakeAt) const;
    // hostKey of a row's address, parsed once per address: the walk for a free
    // slot asks it of every waiting row again after each transfer end.
    QString hostOf(const QString& url) const;
    void wakeAt(qint64 when);
    // The retry hook of both methods.
    bool scheduleRetry(int pos, const TransferResult& result);
    void showRetryCountdown();
    void cancelRetryWaits();
    // Milliseconds until the pause rule lets a tick start rows; 0 when it does now.
    int pauseRemainingMs() const;
    void tickMethodOne();
    void tickMethodTwo();
    // The preparation of a Waiting row before it is chosen: its name
    // sanitised, its folder ending in "/" (for method two created first),
    // then the same-name test. False when the row is not to be started.
    bool prepareRow(int row, bool createFolder);
    void startRow(int row);
    // Puts a new transfer into slot j for the row (0-based), marks the
    // transfer busy, starts the row and begins the transfer into target
    // without waiting for it.
    void startSlot(int j, int row, const QString& target);
    void unload(int j);
    // Runs the end hook for a completed method-two row, holding the
    // scheduler meanwhile.
    QCoro::Task<> holdForEndHook(int row);
    void releaseHolds();

    void onProgress(int j, qint64 read, qint64 expected);
    void onComplete(int j, qint64 read, qint64 expected);
    void onError(int j);
    void onPage(int j, const QString& path, const QString& name);
    // The end of slot j's transfer: the slot is freed, the row takes the
    // result (endRowTransfer), then the end hook, the error stop and the refill.
    void finishSlot(int j, const TransferResult& result);

    DownloadListModel& m_list;
    DownloadWindowState& m_state;
    DownloadHost& m_host;
    QTimer m_timer;
    QTimer m_refill;  // single shot
    MethodOneTransfer* m_methodOne = nullptr;
    std::array<QPointer<Downloader>, kMaxSlots> m_slots;
    // Method two's placeholders between transfers; emptied when the run ends.
    std::shared_ptr<SparePlaceholders> m_spares = std::make_shared<SparePlaceholders>();
    // The row each slot was started for, found again by its address should it move.
    std::array<RowRef, kMaxSlots> m_slotRows;
    TransferEndHook m_endHook;
    int m_holds = 0;
    quint64 m_holdEpoch = 0;  // holds released by the time limit no longer count
    QTimer m_holdLimit;       // single shot
    int m_retries = 0;  // the settings say 3 (loadSettings)
    int m_perHost = 0;  // the settings say 2
    QElapsedTimer m_clock;                  // the time rows and servers wait for
    QHash<QString, qint64> m_hostNotBefore;  // server -> when its Retry-After is over
    mutable QHash<QString, QString> m_hostOf;  // address -> hostKey (hostOf)
    QTimer m_retryWake;                     // single shot: the first wait that ends
    QTimer m_retryShow;                     // the countdown of waiting rows
};

} // namespace dh
