// The download window's side of the engine for docharvest-cli: the window's
// options come from the command line, and the monitor's automatic
// re-download runs in counted rounds.
#include "cli/CliDownloadHost.h"

#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/TransferMonitor.h"

namespace dh::cli {

bool isWebPage(const QString& type)
{
    return type.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0
        || type.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0;
}

namespace {

bool isWebPageOrXml(const QString& type)
{
    return isWebPage(type) || type.compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0;
}

} // namespace

// --- host ---------------------------------------------------------------------------

CliDownloadHost::CliDownloadHost(const DownloadListModel& list, const DownloadScheduler& scheduler)
    : m_list(list), m_scheduler(scheduler)
{
}

int CliDownloadHost::matchingRows() const
{
    int n = 0;
    for (int i = 0; i < m_list.size(); ++i) {
        const DownloadItem& it = m_list.item(i);
        const bool failed = it.state == DownloadState::Failed;
        const bool page = (it.state == DownloadState::Done || failed) && isWebPageOrXml(it.fileType);
        if (((redownload == 0 || redownload == 2) && failed) || ((redownload == 1 || redownload == 2) && page))
            ++n;
    }
    return n;
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

bool CliDownloadHost::autoRedownload() const
{
    if (m_scheduler.running() || !roundWanted())
        return false;
    m_lastMatching = matchingRows();
    ++m_roundsDone;
    return true;
}

} // namespace dh::cli
