#pragma once
#include <QString>

struct stat;

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
// The identity of path from what lstat or fstat gave for it (regular files only).
OwnedFile identifyFile(const QString& path, const struct ::stat& st);
// Whether st describes that very file, unchanged since it was identified.
bool isSameFile(const OwnedFile& file, const struct ::stat& st);

// Byte counts of a row. kNoBytes: the cell is empty; kUnknownSize: the
// server gave no size (shown as "未知").
constexpr qint64 kNoBytes = -1;
constexpr qint64 kUnknownSize = -2;

// What a row says beyond its state and numbers: how its last attempt ended
// where the state alone does not tell, or that it waits again. Shown in the
// progress cell, WaitingAgain in the size cell.
enum class RowNote : quint8 {
    None,
    SkippedExisting,  // a file of that name is there and the policy is skip
    SkippedTooLarge,  // above the size limit
    Cancelled,        // the stop command caught its transfer
    Unsupported,      // not an http or https address
    KeptFile,         // a re-download failed; the earlier complete file stayed
    Missing,          // the file was looked for and is not there
    WaitingAgain,     // sent back to the queue while the connection was busy
    RetryWaiting,     // failed on the way; waits to be tried again
};

// Why a row failed, as a code the scheduler can act on; the words are in
// DownloadItem::failReason.
enum class FailCode : quint8 {
    None,
    Cancelled,
    Unsupported,
    Folder,        // the save folder cannot be made
    Local,         // the temporary file or the placement of the body failed
    PageOverFile,  // a web page came where a complete file is
    EmptyBody,
    CutShort,      // the connection ended before the announced length
    NoResponse,
    Stalled,
    TooSlow,
    Encoded,
    Network,       // refused, reset, bad address ...
    Tls,
    DiskWrite,
    Http,          // an error answer; see httpStatus
    TooLarge,
};

// The outcome a row stands at: its state, refined by its note.
enum class RowOutcome { Waiting, Downloading, Done, Failed, SkippedExisting, SkippedTooLarge, Cancelled, WebPage };

// A body kept from an attempt that ended early, for the row's next attempt
// to go on from with a Range request: the hidden temporary file beside the
// target (this program created it), the validator the server must still
// answer to (a strong ETag, else Last-Modified), and how many of how many
// bytes it holds.
struct PartialBody {
    QString path;
    QString validator;
    qint64 bytes = 0;
    qint64 total = 0;
    qint64 gained = 0;  // of these, the bytes the attempt that kept it added
    bool isSet() const { return !path.isEmpty(); }
    // The file is still what was kept: the bytes recorded, fewer than the total.
    bool usable() const;
};
// Removes the kept file, if any, and forgets it.
void discardPartial(PartialBody& partial);

// One row of the download list. Texts are what the user typed or the
// transfer found; counts are numbers (their cells are made by the model).
struct DownloadItem {
    QString url;           // row key, unique within the list
    QString name;          // "名称": file name without extension
    QString fileType;      // "类型": extension without the dot; may be empty
    qint64 size = kNoBytes;      // "文件大小"
    qint64 received = kNoBytes;  // "已下载数"
    int percent = -1;            // "百分比"; -1: empty
    RowNote note = RowNote::None;
    QString folder;        // "保存路径"
    QString referer;       // referring page (the row's tag)
    DownloadState state = DownloadState::Waiting;
    // Not shown: the file this row's transfer created, set when it opened or
    // placed its target. Deleting "the row's file" means this file only.
    OwnedFile owned;
    // Not shown in a cell: why the row failed last, for the row's tooltip and
    // the command line's report, and its code (with the HTTP status of an
    // error answer). Not stored in the list file.
    QString failReason;
    FailCode failCode = FailCode::None;
    int httpStatus = 0;
    // Not shown but in the note: the automatic retries taken since the row
    // last ended, when the next may start (milliseconds of the scheduler's
    // clock), and for "等待重试 2/3（N 秒）" the limit and the seconds left.
    int retries = 0;
    qint64 retryAt = 0;
    int retryLimit = 0;
    int retrySeconds = 0;
    // Not shown nor stored in the list file: the body kept for the row's next
    // attempt (the list owns it and removes it with the row; only the list's
    // takePartial and setPartial change it), and whether an attempt of the
    // row went on from a kept body.
    PartialBody partial;
    bool resumed = false;
    // Not shown: the type the row was handed over with, before any server or
    // content check changed it. A web-page row is a document only when a web
    // page was asked for.
    QString requestedType;

    // The three progress cells at once; the note goes.
    void setProgress(qint64 sizeBytes, qint64 receivedBytes, int percentShown)
    {
        size = sizeBytes;
        received = receivedBytes;
        percent = percentShown;
        note = RowNote::None;
    }
    void clearProgress() { setProgress(kNoBytes, kNoBytes, -1); }
    bool progressEmpty() const
    {
        return size == kNoBytes && received == kNoBytes && percent < 0 && note == RowNote::None;
    }
    bool isSkipped() const { return note == RowNote::SkippedExisting || note == RowNote::SkippedTooLarge; }
    // Ended complete: Done or Page, not skipped.
    bool isComplete() const;
};

RowOutcome outcomeOf(const DownloadItem& item);

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
