#pragma once
// The one way a row's transfer ends, whichever method ran it: the transfer
// says how it went (TransferResult), and endRowTransfer writes that into the
// row, checks the file's type, and tells the window.
#include "download/DownloadItem.h"
#include "download/TransferSupport.h"
#include "download/TypeCorrection.h"

#include <QString>

#include <functional>

namespace dh {

class DownloadHost;
class DownloadListModel;
class DownloadWindowState;

struct TransferResult {
    // Done, Failed, Cancelled, SkippedExisting, SkippedTooLarge or WebPage.
    RowOutcome outcome = RowOutcome::Failed;
    // Failed: why, in words and as a code (with the status of an error answer).
    QString reason;
    FailCode code = FailCode::None;
    int httpStatus = 0;
    // The progress cells at the end; without them the row keeps its own.
    bool hasCells = false;
    qint64 size = kNoBytes;
    qint64 received = kNoBytes;
    int percent = -1;
    // A note for a failed row (the address is not one to fetch).
    RowNote note = RowNote::None;
    // WebPage: the page kept under a name of its own (path, name without extension).
    QString pagePath;
    QString pageName;
    // The file's content decides its type (a document that arrived whole).
    bool checkType = false;
    // What its bytes were found to be before the move, when they were.
    KnownType knownType;
    // The wait the server asked for (Retry-After), -1 when it named none.
    qint64 retryAfterMs = -1;
    // Announce the end (status text, cues, the window's transferEnded). A
    // method-two transfer given up before it had a result ends quietly.
    bool announce = true;

    static TransferResult failed(QString why, FailCode code, int status = 0)
    {
        TransferResult r;
        r.reason = std::move(why);
        r.code = code;
        r.httpStatus = status;
        return r;
    }
    // Failed with the request's own words and code, or else the fallback's.
    static TransferResult failedRequest(const TransferRequest& request, FailReason fallback);
    static TransferResult of(RowOutcome outcome)
    {
        TransferResult r;
        r.outcome = outcome;
        return r;
    }
    TransferResult& cells(qint64 sizeBytes, qint64 receivedBytes, int percentShown)
    {
        hasCells = true;
        size = sizeBytes;
        received = receivedBytes;
        percent = percentShown;
        return *this;
    }
};

// Writes a transfer's result into the row at pos (state, cells, note,
// reason); the row's count of automatic retries starts again.
void applyTransferResult(DownloadListModel& list, int pos, const TransferResult& result);

// Asked before a failed result is written: true when the row (at pos) is to
// be tried again instead, the hook having put it back in the queue.
using RetryHook = std::function<bool(int pos, const TransferResult& result)>;

// The end of a row's transfer: the result goes into the row (when it is
// still in the list), the type check runs for a document that arrived whole,
// the time of the last transfer event is taken, and, when the result is to
// be announced, host.fileFinished, the cues and host.transferEnded follow.
// Returns the row's position, -1 when it is gone.
// A failed result that the retry hook takes ends nothing: the row waits
// for its next attempt, quietly.
int endRowTransfer(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host, const RowRef& ref,
                   const TransferResult& result, const RetryHook& retry = {});

} // namespace dh
