// The download window's side of the engine for docharvest-cli: the window's
// options come from the command line, and the monitor's automatic
// re-download runs in counted rounds.
#include "cli/CliDownloadHost.h"

#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "download/TransferMonitor.h"

#include <algorithm>

namespace dh::cli {

// --- host ---------------------------------------------------------------------------

CliDownloadHost::CliDownloadHost(const DownloadListModel& list) : m_list(list)
{
}

dh::DownloadOptions CliDownloadHost::options() const
{
    dh::DownloadOptions o;
    o.pauseSeconds = pause;
    o.slotCount = transferSlots;
    o.sameNamePolicy = policy;
    o.autoRedownload = roundWanted();
    o.redownloadChoice = RedownloadChoice(std::max(redownload, 0));
    o.errorStop = stopAfterBad;
    return o;
}

int CliDownloadHost::matchingRows() const
{
    return int(autoRedownloadRows(m_list, RedownloadChoice(std::max(redownload, 0))).size());
}

bool CliDownloadHost::errorStopReached() const
{
    return stopAfterBad && m_list.countBadRows() >= TransferMonitor::kErrorStopRows;
}

bool CliDownloadHost::roundWanted() const
{
    if (redownload < 0 || !m_list.isListFinished() || errorStopReached())
        return false;
    if (maxRounds > 0 && m_roundsDone >= maxRounds)
        return false;
    const int matching = matchingRows();
    if (matching == 0)
        return false;
    // Without a limit a round is worth it only while the last one recovered something.
    return maxRounds > 0 || m_lastMatching < 0 || matching < m_lastMatching;
}

void CliDownloadHost::redownloadRoundStarting()
{
    m_lastMatching = matchingRows();
    ++m_roundsDone;
}

} // namespace dh::cli
