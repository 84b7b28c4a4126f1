#include "download/TypeCorrection.h"

#include "app/Helpers.h"
#include "content/FileTypeDetection.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"
#include "download/TransferSupport.h"
#include "ports/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace dh {

std::optional<TypeCorrectionPlan> planTypeCorrection(const DownloadItem& row,
                                                     const std::function<bool(const QString&)>& alsoTaken,
                                                     SameNamePolicy policy, const KnownType& known)
{
    const QString current = row.fileType.toLower();
    const QString source = itemFilePath(row);
    // Nothing for a missing file or anything but a regular file.
    const QString detected = known.appliesTo(source) ? known.type : identifyFileType(source);
    if (detected.isEmpty() || detected.compare(current, Qt::CaseInsensitive) == 0)
        return std::nullopt;

    TypeCorrectionPlan plan;
    plan.source = source;
    plan.detected = detected;
    const QString wanted = itemFilePath(row.folder, row.name, detected);
    // Under skip and overwrite a re-run finds its earlier result under the
    // corrected name: numbering it would add a copy on every run.
    const bool taken = (pathTaken(wanted) && !isStalePlaceholder(wanted)) || (alsoTaken && alsoTaken(wanted));
    if (taken && !QFileInfo(wanted).isDir()) {
        if (policy == SameNamePolicy::Overwrite)
            plan.action = TypeCorrectionPlan::Replace;
        else if (policy == SameNamePolicy::Skip && row.state == DownloadState::Done && ownsItemFile(row))
            plan.action = TypeCorrectionPlan::KeepExisting;
    }
    plan.target = plan.action == TypeCorrectionPlan::Move ? makeUniquePath(wanted, alsoTaken) : wanted;
    // The row's name is the target's file name without its extension, taken
    // literally so that the row keeps pointing at the file even when the name
    // has surrounding spaces or was shortened for the counter.
    const QString fileName = plan.target.mid(plan.target.lastIndexOf(QLatin1Char('/')) + 1);
    plan.newName = fileName.left(fileName.size() - detected.size() - 1);
    return plan;
}

bool applyTypeCorrection(DownloadItem& row, const TypeCorrectionPlan& plan)
{
    const bool owned = ownsItemFile(row);
    if (isStalePlaceholder(plan.target))
        removePlaceholder(plan.target);  // a killed run's, planned as free
    if (plan.action == TypeCorrectionPlan::KeepExisting) {
        // Only the row's own new download goes, never a file it did not make.
        if (!owned || !fileExists(plan.target) || !QFile::remove(plan.source))
            return false;
        const qint64 length = QFileInfo(plan.target).size();
        row.fileType = plan.detected;
        row.name = plan.newName;
        row.owned = {};
        row.size = row.received = length;
        row.percent = -1;
        row.note = RowNote::SkippedExisting;
        return true;
    }
    if (plan.action == TypeCorrectionPlan::Replace) {
        if (moveIntoPlace(plan.source, plan.target, true) != PlaceResult::Placed)
            return false;
    } else if (!QFile::rename(plan.source, plan.target) || !fileExists(plan.target)) {
        // QFile::rename never replaces an existing file, so a name taken
        // between the check and the move fails the move instead of
        // destroying that file.
        return false;
    }
    row.fileType = plan.detected;
    row.name = plan.newName;
    // The row's own file stays its own under the new name.
    if (owned)
        row.owned = identifyFile(plan.target);
    return true;
}

bool correctItemFileType(DownloadItem& row, SameNamePolicy policy, const KnownType& known)
{
    const auto plan = planTypeCorrection(row, {}, policy, known);
    return plan && applyTypeCorrection(row, *plan);
}

bool correctItemFileType(DownloadListModel& list, int row, SameNamePolicy policy, const KnownType& known)
{
    if (row < 0 || row >= list.size())
        return false;
    DownloadItem item = list.item(row);
    if (!correctItemFileType(item, policy, known))
        return false;
    list.setItem(row, item);
    return true;
}

int correctFileTypesOnDisk(DownloadListModel& list, const DownloadWindowState& state, Prompter& prompter)
{
    if (!state.pass(BusyGuard::ListChanges, prompter))
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
        item.note = RowNote::Missing;
        list.setItem(i, item);
    }
    return missing;
}

} // namespace dh
