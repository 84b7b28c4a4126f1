#pragma once
#include "download/DownloadItem.h"

#include <QString>
#include <functional>
#include <optional>

namespace dh {

class DownloadListModel;
class DownloadWindowState;
class Prompter;

// A rename that the content of a row's file asks for.
struct TypeCorrectionPlan {
    QString source;    // itemFilePath of the row
    QString detected;  // the label the content gives
    QString target;    // a free path with the detected extension
    QString newName;   // the row's Name after the move
};

// What correctItemFileType would do, without touching anything: nullopt when
// the file is missing, its content unknown, or its type already right
// (letter case ignored). alsoTaken lets a dry run count planned names as taken.
std::optional<TypeCorrectionPlan> planTypeCorrection(
    const DownloadItem& row, const std::function<bool(const QString&)>& alsoTaken = {});

// Carries out a plan: moves the file (never over an existing one) and
// updates the row. False, with nothing changed, when the move fails.
bool applyTypeCorrection(DownloadItem& row, const TypeCorrectionPlan& plan);

// correctItemFileType: gives the row's file the extension its content
// demands (with a "[0001]" counter when that name is taken) and updates the
// row's fileType and Name. Returns true when the file was moved and the row
// updated; otherwise nothing changes. The row's State is never touched.
bool correctItemFileType(DownloadItem& row);
bool correctItemFileType(DownloadListModel& list, int row);

// The command "检查并纠正磁盘文件类型": guard A, then every row from the
// first, then the message "纠正文件类型：N个.". Returns the count, or -1 when
// guard A refused.
int correctFileTypesOnDisk(DownloadListModel& list, const DownloadWindowState& state, Prompter& prompter);  // 检查并纠正磁盘文件类型

// The command "检查文件是否存在": rows whose file is missing get "不存在" as
// progress text; nothing else changes. Returns the number of such rows.
int checkFilesExist(DownloadListModel& list);  // 检查文件是否存在

} // namespace dh
