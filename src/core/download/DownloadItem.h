#pragma once
#include <QString>

namespace dh {

// The state of a download row, shown as the row's small icon.
enum class DownloadState : int { Waiting = 1, Downloading = 2, Done = 3, Failed = 4 };

// One row of the download list. Every cell is text.
struct DownloadItem {
    QString Url;           // row key, unique within the list
    QString Name;          // "名称": file name without extension
    QString FileType;      // "类型": extension without the dot; may be empty
    QString SizeText;      // "文件大小"
    QString ReceivedText;  // "已下载数"
    QString ProgressText;  // "百分比"
    QString Folder;        // "保存路径"
    QString Referer;       // referring page (the row's tag)
    DownloadState State = DownloadState::Waiting;
};

// The disk path of a row's file: Folder, "/" if missing, Name, and "." + FileType
// when FileType is not empty.
QString ItemFilePath(const DownloadItem& item);
QString ItemFilePath(const QString& folder, const QString& name, const QString& fileType);

} // namespace dh
