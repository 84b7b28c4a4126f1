#pragma once
// Small pieces that the scheduler and both transfer methods share.
#include "app/Helpers.h"
#include "download/DownloadListModel.h"
#include "ports/Transfer.h"

#include <QString>
#include <memory>
#include <vector>

namespace dh {

class DownloadWindowState;

// A transfer's row: the list position it was started at, checked against
// the row's address on every use. Should the row have moved or gone
// meanwhile, the address finds it again, or the result is dropped instead of
// landing on a stranger's row.
struct RowRef {
    int position = -1;  // 0-based
    QString url;

    // The row's current position, -1 when it is no longer in the list.
    int resolve(const DownloadListModel& list) const;
};

// 37 for "37%": integer part of read / total × 100 (double precision), the
// way method two and the list show progress; -1 without a total.
int percentOf(qint64 read, qint64 total);
// The same computed in single precision, as method one does.
int percentOfSingle(qint64 read, qint64 total);

// Whether a size in bytes is above the size limit (maxFileSizeMB megabytes;
// exactly the limit is still allowed).
bool aboveSizeLimit(qint64 bytes);

// The length of the file at path, 0 when there is none.
qint64 fileLength(const QString& path);

// Whether the received bytes of a body without an announced size have passed
// the size limit (the same test as aboveSizeLimit).
inline bool receivedAboveSizeLimit(qint64 received) { return aboveSizeLimit(received); }

// Method two's placeholder: the 16-bit value 1, low byte first. Created only
// where nothing is (not even a dangling link); false otherwise. identity, when
// given, receives the new file's identity.
bool writePlaceholder(const QString& path, OwnedFile* identity = nullptr);
// Whether path is a regular file holding exactly the placeholder's two bytes.
bool isPlaceholder(const QString& path);
// Removes the placeholder at path when it still is one. Returns whether it went.
bool removePlaceholder(const QString& path);
// Placeholders that finished transfers left behind, kept as hidden files
// beside their targets to be the next transfers' placeholders. Taking one is
// a move where writing one makes a new file, and the placeholder a body
// replaces is not deleted but swapped out: per download one file made
// instead of two, none deleted, which is what a file system's inode
// allocator pays for (ext4 without a journal scans past every inode freed in
// the last half minute). Whatever is left goes with clear() or the object.
class SparePlaceholders {
public:
    SparePlaceholders() = default;
    SparePlaceholders(const SparePlaceholders&) = delete;
    SparePlaceholders& operator=(const SparePlaceholders&) = delete;
    ~SparePlaceholders() { clear(); }

    enum class Take { Taken, NameTaken, NoSpare };
    // Moves a spare from the target's folder to target, only where nothing
    // is; identity receives the placeholder's. NameTaken: something is at
    // target (nothing was moved). NoSpare: none to move, write one instead.
    Take take(const QString& target, OwnedFile* identity);
    // A placeholder now at the hidden path, identified as file was.
    void give(const QString& path, const OwnedFile& file);
    // Removes every spare that still is one of ours.
    void clear();

private:
    struct Spare {
        QString path;
        QString folder;
        quint64 device = 0;
        quint64 inode = 0;
    };
    // Whether the spare's path still holds our placeholder.
    static bool stillOurs(const Spare& spare);
    std::vector<Spare> m_spares;
};

// A placeholder written before this program started: a run that was killed
// or crashed could not remove it. Placeholders of running transfers are
// never older than the program itself.
bool isStalePlaceholder(const QString& path);
// The same for the entry at path that lstat described as st.
bool isStalePlaceholder(const QString& path, const struct ::stat& st);

// Removes the hidden temporary files (".dh-*.part") that runs before this
// program started left in the folders the list's unfinished rows write to.
// Each folder is looked at once per program run. Returns how many went.
int removeStaleTemporaries(const DownloadListModel& list);

// makeFolderPath, done once per folder while the scheduler runs: the folders
// made are kept in state.madeFolders (emptied when the scheduler starts).
QString runFolderPath(DownloadWindowState& state, const QString& folder);

// Moves a complete body from its temporary file to the target (see
// moveIntoPlace), except that a web page never replaces a complete file that
// is not one: a login or error page in place of a document would destroy
// the document. Such a body gives PlaceResult::Failed and the target stays.
// A target that is still the file ours describes (the transfer's own
// placeholder) is known not to be a document without reading it. placed, when
// given, receives the placed file's identity.
// With swapped given and the target still ours, the body and the placeholder
// change places in one step: the placeholder is left at temp's name (for
// SparePlaceholders) and *swapped says so.
PlaceResult placeDownloadedBody(const QString& temp, const QString& target, bool replace,
                                const OwnedFile* ours = nullptr, OwnedFile* placed = nullptr,
                                bool* swapped = nullptr);

// A failed row's reasons that come from this program rather than from the
// request (those are transferFailureText's).
enum class FailReason { NoResponse, Stalled, NoTempFile, NotPlaced, EmptyBody, CutShort, TooSlow, Encoded, PageOverFile };
QString failReasonText(FailReason reason);
// The code a row keeps for such a reason.
FailCode failCodeOf(FailReason reason);
// The code of a failed request (its HTTP status for an error answer); None
// when it did not fail.
FailCode failCodeOf(const TransferRequest& request);
// Why a body could not be placed: a web page refused over a complete file, or
// the move itself failed.
QString placeFailText(PlaceResult result);
// The reason for a save folder that cannot be made.
QString folderFailText(const QString& folder);

// Why a transfer failed, in words for the row: the kind of failure and the
// system's or network's own explanation ("网络错误：Connection refused"), or
// the HTTP status of an error answer ("服务器错误：HTTP 404"). Empty when it
// did not fail.
QString transferFailureText(const TransferRequest& request);

// Resuming a body kept from an earlier attempt (PartialBody).
// The request lines that ask for the rest of it: "Range: bytes=N-" and
// "If-Range" with its validator.
QByteArray resumeHeaderLines(const PartialBody& partial);
// Whether the answer is the rest of the kept body: a 206 whose Content-Range
// starts where the body ends and runs to the end of the same total.
bool answerContinues(const TransferRequest& request, const PartialBody& partial);
// What an answer lets a later attempt resume from, for a body of total bytes
// (0: unknown) of which temp holds the first ones: the server takes byte
// ranges (Accept-Ranges: bytes, or a 206) and named a validator (a strong
// ETag, else Last-Modified). Unset when it cannot be resumed.
PartialBody resumableBody(const TransferRequest& request, const QString& temp, qint64 total);

// What the HTTP status of an answer makes of its row.
enum class HttpAnswer {
    Document,  // below 400: the body is the file
    Page,      // 401 or 403 with an HTML body: a login or refusal page, kept as a web-page row
    Error,     // any other status of 400 and above: the row fails and the body goes nowhere
};
HttpAnswer httpAnswerOf(const TransferRequest& request);
QString httpErrorText(int status);

// Puts a kept page (its whole body in temp) into folder as name.htm, with
// the rename policy's number when that is taken, never over anything.
// Returns the path, the row's new name in *outName; empty when it could not
// be placed (temp then stays).
QString placePageBody(const QString& temp, const QString& folder, const QString& name, QString* outName);
// Makes the row a web-page row for the page placePageBody put at path.
void markPageRow(DownloadListModel& list, int pos, const QString& path, const QString& name);

// Only web addresses are fetched: anything else (file:, data:, qrc:, ftp:)
// could copy a local file into the save folder.
bool isDownloadableAddress(const QString& address);
// The row's progress text for such an address.
QString unsupportedAddressText();

// A whole-body fetch into a file, all or nothing: the body goes into a hidden
// temporary file beside the target and is moved to the target only when the
// request succeeded with at least one byte. Anything else leaves the target
// as it was. The temporary file never outlives the object.
class WholeBodyFetch {
public:
    WholeBodyFetch() = default;
    WholeBodyFetch(const WholeBodyFetch&) = delete;
    WholeBodyFetch& operator=(const WholeBodyFetch&) = delete;
    ~WholeBodyFetch();

    // Starts the request. False when no temporary file can be made beside the
    // target (no request is started then).
    bool start(const QString& url, const TransferOptions& options, const QString& target);
    TransferRequest* request() const { return m_request.get(); }
    // Stops the fetch as soon as more than the size limit has arrived.
    void watchSizeLimit();
    bool overSizeLimit() const { return m_overLimit; }
    // After the request has ended: the bytes now at the target, or -1 when
    // nothing (or nothing usable: an answer of status 400 and above) came back. With replace an entry at the
    // target is replaced (never followed); without, an existing entry stays
    // and -1 is returned with targetTaken() set.
    qint64 finish(bool replace = true);
    bool targetTaken() const { return m_taken; }
    // A web page came where a complete document is: it was not placed.
    bool pageRefused() const { return m_pageRefused; }
    // The file finish() placed.
    const OwnedFile& placedFile() const { return m_placed; }

private:
    void discardTemp();

    std::unique_ptr<TransferRequest> m_request;
    QString m_temp;
    QString m_target;
    bool m_overLimit = false;
    bool m_taken = false;
    bool m_pageRefused = false;
    OwnedFile m_placed;
};

} // namespace dh
