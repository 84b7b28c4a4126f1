#pragma once
#include <QString>

namespace dh {

// The state of a download row, shown as the row's small icon. Page: the
// transfer ended with a web page (a login page, say) where a document was
// asked for; the row needs no further transfer but holds no document.
// Nothing stores these numbers: saved lists write the state as a word.
enum class DownloadState : int { Waiting = 1, Downloading = 2, Done = 3, Failed = 4, Page = 5 };

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
OwnedFile identifyFile(const QString& path);

// One row of the download list. Every cell is text.
struct DownloadItem {
    QString url;           // row key, unique within the list
    QString name;          // "名称": file name without extension
    QString fileType;      // "类型": extension without the dot; may be empty
    QString sizeText;      // "文件大小"
    QString receivedText;  // "已下载数"
    QString progressText;  // "百分比"
    QString folder;        // "保存路径"
    QString referer;       // referring page (the row's tag)
    DownloadState state = DownloadState::Waiting;
    // Not shown: the file this row's transfer created, set when it opened or
    // placed its target. Deleting "the row's file" means this file only.
    OwnedFile owned;
    // Not shown in a cell: why the row failed last, for the row's tooltip and
    // the command line's report. Not stored in the list file.
    QString failReason;
    // Not shown: the type the row was handed over with, before any server or
    // content check changed it. A web-page row is a document only when a web
    // page was asked for.
    QString requestedType;
};

// Work not yet done: a row in any state but Done (a web page where a document
// was asked for counts as unfinished). The close question, the saved rows and
// the export of unfinished names share this rule.
inline bool isUnfinished(const DownloadItem& item) { return item.state != DownloadState::Done; }

// Whether the row's current file (itemFilePath) is the very file its own
// transfer created.
bool ownsItemFile(const DownloadItem& item);

// The disk path of a row's file: Folder, "/" if missing, Name, and "." + fileType
// when fileType is not empty.
QString itemFilePath(const DownloadItem& item);
QString itemFilePath(const QString& folder, const QString& name, const QString& fileType);

} // namespace dh
