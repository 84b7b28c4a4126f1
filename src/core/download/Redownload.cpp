#include "download/Redownload.h"

#include "download/DownloadListModel.h"
#include "download/ListOperations.h"

namespace dh {

namespace {

bool takesFailed(RedownloadChoice c) { return c != RedownloadChoice::WebPages; }
bool takesPages(RedownloadChoice c) { return c != RedownloadChoice::Failed; }

} // namespace

std::vector<int> autoRedownloadRows(const DownloadListModel& list, RedownloadChoice choice)
{
    std::vector<int> rows;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        if ((takesFailed(choice) && it.state == DownloadState::Failed)
            || (takesPages(choice) && isFinished(it) && isWebPageOrXmlType(it.fileType)))
            rows.push_back(i);
    }
    return rows;
}

int resetForAutoRedownload(DownloadListModel& list, RedownloadChoice choice)
{
    const std::vector<int> rows = autoRedownloadRows(list, choice);
    for (int r : rows) {
        const bool failedPart = takesFailed(choice) && list.item(r).state == DownloadState::Failed;
        resetForRedownload(list, r, !failedPart);
    }
    return int(rows.size());
}

} // namespace dh
