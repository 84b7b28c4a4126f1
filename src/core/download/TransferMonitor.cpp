#include "download/TransferMonitor.h"

#include "app/Timings.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/Redownload.h"
#include "ports/Sound.h"

namespace dh {

TransferMonitor::TransferMonitor(DownloadListModel& list, DownloadWindowState& state, DownloadScheduler& scheduler,
                                 DownloadHost& host, QObject* parent)
    : QObject(parent), m_list(list), m_state(state), m_scheduler(scheduler), m_host(host)
{
    m_timer.setInterval(timings().tick);
    connect(&m_timer, &QTimer::timeout, this, &TransferMonitor::tick);
}

void TransferMonitor::tick()
{
    // 1. A finished list switches the scheduler off.
    if (m_list.isListFinished()) {
        m_host.setStartEnabled(true);
        if (m_scheduler.running()) {
            m_scheduler.switchOff();
            m_host.cue(CueListFinished);
        }
    } else {
        m_host.setStartEnabled(!m_scheduler.running());
    }

    // 2. The running indicator.
    m_host.setRunningIndicator(m_scheduler.running());

    // 3. The transfer-busy flag follows the scheduler.
    m_state.settleTransferBusy();

    // 4. Counters.
    m_host.countersChanged();

    // 5. Automatic start.
    const DownloadOptions options = m_host.options();
    if (options.autoStart && m_list.countNotDownloaded() >= 1)
        m_scheduler.switchOn();

    // 6. Automatic re-download.
    if (options.autoRedownload && !m_scheduler.running()) {
        m_host.redownloadRoundStarting();
        resetForAutoRedownload(m_list, options.redownloadChoice);
        m_scheduler.switchOn();
    }

    // 7. Error stop.
    m_scheduler.checkErrorStop();
}

} // namespace dh
