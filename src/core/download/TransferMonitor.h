#pragma once
// The transfer monitor: a tick from window load to close that keeps the
// scheduler, the transfer-busy flag and the counters in step with the list, and carries
// out the automatic start, the automatic re-download and the error stop.
#include <QObject>
#include <QTimer>

namespace dh {

class DownloadHost;
class DownloadListModel;
class DownloadScheduler;
class DownloadWindowState;

class TransferMonitor : public QObject {
    Q_OBJECT
public:
    TransferMonitor(DownloadListModel& list, DownloadWindowState& state, DownloadScheduler& scheduler,
                    DownloadHost& host, QObject* parent = nullptr);

    // The window's m_monitorTimer, interval dh::timings().tick.
    QTimer* timer() { return &m_timer; }
    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }

    // The monitor tick (called by the monitor timer).
    void tick();

    // The error stop acts at this many bad rows (failed or web pages).
    static constexpr int kErrorStopRows = 5;

private:
    DownloadListModel& m_list;
    DownloadWindowState& m_state;
    DownloadScheduler& m_scheduler;
    DownloadHost& m_host;
    QTimer m_timer;
};

} // namespace dh
