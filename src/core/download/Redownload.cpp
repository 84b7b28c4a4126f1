#include "download/Redownload.h"

#include "download/ListOperations.h"

namespace dh {

// The monitor runs the same filters as the list menu's re-download commands.

int ResetFailedRowsForRedownload(DownloadListModel& list)
{
    return RedownloadRows(list, RedownloadFilter::Failed);
}

int ResetWebPageRowsForRedownload(DownloadListModel& list)
{
    return RedownloadRows(list, RedownloadFilter::WebPages);
}

} // namespace dh
