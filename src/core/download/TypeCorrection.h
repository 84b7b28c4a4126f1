#pragma once
#include "download/DownloadItem.h"
#include "download/Naming.h"

#include <QString>
#include <functional>
#include <optional>

namespace dh {

class DownloadListModel;
class DownloadWindowState;
class Prompter;

// What a file's bytes were found to be, looked at through the open
// temporary file before it was moved to path: the type check takes it
// instead of reading the file again. Unknown while path is empty.
struct KnownType {
    QString path;
    QString type;
    bool appliesTo(const QString& file) const { return !path.isEmpty() && path == file; }
};

// A rename that the content of a row's file asks for.
struct TypeCorrectionPlan {
    // What happens at the target: the file moves to a free name, replaces
    // the file there (覆盖), or goes while the file there stays (跳过).
    enum Action { Move, Replace, KeepExisting };
    QString source;    // itemFilePath of the row
    QString detected;  // the label the content gives
    QString target;    // the path with the detected extension
    QString newName;   // the row's Name after the move
    Action action = Move;
};

// What correctItemFileType would do, without touching anything: nullopt when
// the file is missing, its content unknown, or its type already right
// (letter case ignored). alsoTaken lets a dry run count planned names as taken.
// When the name with the right extension is taken, the same-name policy
// decides: rename numbers it ("[001]"), overwrite replaces that file, skip
// keeps it and drops the row's file, the latter only for a Done row that
// owns its file (a download that just arrived); a folder in the way is
// always numbered around.
std::optional<TypeCorrectionPlan> planTypeCorrection(
    const DownloadItem& row, const std::function<bool(const QString&)>& alsoTaken = {},
    SameNamePolicy policy = SameNamePolicy::Rename, const KnownType& known = {});

// Carries out a plan and updates the row: a move never replaces an existing
// file; a kept existing file becomes the row's file with "已存在，跳过" and its
// length in both size cells. False, with nothing changed, when it fails.
bool applyTypeCorrection(DownloadItem& row, const TypeCorrectionPlan& plan);

// correctItemFileType: gives the row's file the extension its content
// demands (under the same-name policy when that name is taken) and updates
// the row's fileType and Name. Returns true when the file was moved and the
// row updated; otherwise nothing changes. The row's State is never touched.
bool correctItemFileType(DownloadItem& row, SameNamePolicy policy = SameNamePolicy::Rename,
                         const KnownType& known = {});
bool correctItemFileType(DownloadListModel& list, int row, SameNamePolicy policy = SameNamePolicy::Rename,
                         const KnownType& known = {});

// The command "检查并纠正磁盘文件类型": the list-changes guard, then every row from the
// first, then the message "纠正文件类型：N个.". Returns the count, or -1 when
// that guard refused.
int correctFileTypesOnDisk(DownloadListModel& list, const DownloadWindowState& state, Prompter& prompter);  // 检查并纠正磁盘文件类型

// The command "检查文件是否存在": rows whose file is missing get "不存在" as
// progress text; nothing else changes. Returns the number of such rows.
int checkFilesExist(DownloadListModel& list);  // 检查文件是否存在

} // namespace dh
