#include "content/TypeCorrection.h"

#include "app/Helpers.h"
#include "content/FileTypeDetection.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"
#include "platform/Prompter.h"

#include <QFile>

namespace dh {

std::optional<TypeCorrectionPlan> planTypeCorrection(const DownloadItem& row,
                                                     const std::function<bool(const QString&)>& alsoTaken)
{
    const QString current = row.fileType.toLower();
    const QString source = itemFilePath(row);
    if (!fileExists(source))
        return std::nullopt;
    const QString detected = identifyFileType(source);
    if (detected.isEmpty() || detected.compare(current, Qt::CaseInsensitive) == 0)
        return std::nullopt;

    TypeCorrectionPlan plan;
    plan.source = source;
    plan.detected = detected;
    plan.target = makeUniquePath(itemFilePath(row.folder, row.name, detected), alsoTaken);
    // The row's name is the target's file name without its extension, taken
    // literally so that the row keeps pointing at the file even when the name
    // has surrounding spaces or was shortened for the counter.
    const QString fileName = plan.target.mid(plan.target.lastIndexOf(QLatin1Char('/')) + 1);
    plan.newName = fileName.left(fileName.size() - detected.size() - 1);
    return plan;
}

bool applyTypeCorrection(DownloadItem& row, const TypeCorrectionPlan& plan)
{
    // QFile::rename never replaces an existing file, so a name taken between
    // the check and the move fails the move instead of destroying that file.
    const bool owned = ownsItemFile(row);
    if (!QFile::rename(plan.source, plan.target) || !fileExists(plan.target))
        return false;
    row.fileType = plan.detected;
    row.name = plan.newName;
    // The row's own file stays its own under the new name.
    if (owned)
        row.owned = identifyFile(plan.target);
    return true;
}

bool correctItemFileType(DownloadItem& row)
{
    const auto plan = planTypeCorrection(row);
    return plan && applyTypeCorrection(row, *plan);
}

bool correctItemFileType(DownloadListModel& list, int row)
{
    if (row < 0 || row >= list.size())
        return false;
    DownloadItem item = list.item(row);
    if (!correctItemFileType(item))
        return false;
    list.setItem(row, item);
    return true;
}

int correctFileTypesOnDisk(DownloadListModel& list, const DownloadWindowState& state, Prompter& prompter)
{
    if (!state.pass(BusyGuard::A, prompter))
        return -1;
    int corrected = 0;
    for (int i = 0; i < list.size(); ++i) {
        if (correctItemFileType(list, i))
            ++corrected;
    }
    prompter.message(QStringLiteral("纠正文件类型：%1个.").arg(corrected), MessageIcon::Information);
    return corrected;
}

int checkFilesExist(DownloadListModel& list)
{
    int missing = 0;
    for (int i = 0; i < list.size(); ++i) {
        DownloadItem item = list.item(i);
        if (fileExists(itemFilePath(item)))
            continue;
        ++missing;
        item.progressText = QStringLiteral("不存在");
        list.setItem(i, item);
    }
    return missing;
}

} // namespace dh
