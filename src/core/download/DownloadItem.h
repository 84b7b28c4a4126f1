#pragma once
#include <QString>

namespace dh {

// The state of a download row, shown as the row's small icon.
enum class DownloadState : int { Waiting = 1, Downloading = 2, Done = 3, Failed = 4 };

// A file one of the row's own transfers created: its path and the identity
// it had then. A file that was there before, that another row wrote, or that
// replaced this one meanwhile does not match and is never the row's to delete.
struct OwnedFile {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 changeNs = 0;  // status change time: a new file under a reused inode differs
    bool isSet() const { return !path.isEmpty(); }
};

// The identity of the regular file at path now (not following a link); an
// unset OwnedFile when there is none.
OwnedFile IdentifyFile(const QString& path);

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
    // Not shown: the file this row's transfer created, set when it opened or
    // placed its target. Deleting "the row's file" means this file only.
    OwnedFile Owned;
};

// Whether the row's current file (ItemFilePath) is the very file its own
// transfer created.
bool OwnsItemFile(const DownloadItem& item);

// The disk path of a row's file: Folder, "/" if missing, Name, and "." + FileType
// when FileType is not empty.
QString ItemFilePath(const DownloadItem& item);
QString ItemFilePath(const QString& folder, const QString& name, const QString& fileType);

} // namespace dh
