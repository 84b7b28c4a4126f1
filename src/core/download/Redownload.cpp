#include "download/Redownload.h"

#include "download/ListOperations.h"

namespace dh {

// The monitor runs the same filters as the list menu's re-download commands.

int resetFailedRowsForRedownload(DownloadListModel& list)
{
    return redownloadRows(list, RedownloadFilter::Failed);
}

int resetWebPageRowsForRedownload(DownloadListModel& list)
{
    return redownloadRows(list, RedownloadFilter::WebPages);
}

} // namespace dh
