#pragma once
// The method-two transfer control: fetches one address into one file in the
// background and reports progress, completion or failure by signals.
#include "download/TransferSupport.h"
#include "download/TypeCorrection.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <utility>

namespace dh {

class Downloader : public QObject {
    Q_OBJECT
public:
    explicit Downloader(QObject* parent = nullptr);
    ~Downloader() override;

    // Starts the transfer and returns at once. The target is taken at once: a
    // two-byte placeholder (01 00) is written there unless an entry already
    // exists (under the overwrite policy the old file stays whole until the
    // new body has arrived completely; a link is replaced, never followed).
    // The body streams into a hidden temporary file beside the target and
    // replaces it only when complete. A placeholder that nothing replaced is
    // removed whatever the ending. "&amp;" in the address is read as "&";
    // anything but an http or https address fails with "不支持的网址". The
    // third argument is not used.
    void beginDownload(const QString& address, const QString& saveFile, const QString& referer = QString());
    // Before beginDownload: a body kept from the row's last attempt, beside
    // the same target, to go on from. The request asks for the rest (Range,
    // If-Range): a 206 whose Content-Range is the rest appends, a 200 starts
    // over in the same file, a 416 or any other range starts over with a
    // new request. The file is this transfer's from then on.
    void setResume(const PartialBody& partial) { m_resume = partial; }
    // After the transfer ended early (cut, stalled, stopped, a network
    // error) from an answer that allows a resume: the body it kept, now the
    // caller's. Unset otherwise; a kept body nobody takes goes with this object.
    PartialBody takeKeptPartial() { return std::exchange(m_kept, {}); }
    // Before beginDownload: where placeholders come from and go to, shared
    // by the transfers of a run.
    void setSparePlaceholders(std::shared_ptr<SparePlaceholders> spares) { m_spares = std::move(spares); }
    // The body went on from a kept one.
    bool resumed() const { return m_appending; }
    // Abandons every read of this instance without reporting anything; its
    // temporary file and an unreplaced placeholder go.
    void cancelAsyncRead();

    QString saveFile() const { return m_saveFile; }
    QString address() const { return m_address; }
    qint64 bytesExpected() const { return m_bytesExpected; }
    qint64 bytesRead() const { return m_bytesRead; }
    // Why the transfer failed or broke off, in words for the row (the
    // request's own failure where there is one); empty while all is well.
    QString failureText() const { return m_failureText; }
    // The same as a code, with the HTTP status of an error answer.
    FailCode failCode() const { return m_failCode; }
    int httpStatus() const { return m_httpStatus; }
    // After downloadComplete: what the placed body's bytes are, looked at
    // before the move (unknown when the body was not written here in one go).
    const KnownType& knownType() const { return m_knownType; }
    // The wait the failing answer asked for (Retry-After), -1 when none.
    qint64 retryAfterMs() const { return m_retryAfterMs; }

signals:
    // While data arrives, only when the server announced the total size;
    // without one, once when the body passes the size limit, with the bytes
    // so far as the total (the size test then applies as for a known size).
    void downloadProgress(qint64 bytesRead, qint64 bytesExpected, const QString& saveFile);
    // Once, after the file has been written (or with fewer bytes than expected
    // when the connection broke off; the target then keeps what it had).
    void downloadComplete(qint64 bytesRead, qint64 bytesExpected, const QString& saveFile);
    // Once, when the transfer is given up: "超时" (no progress for the stall
    // time), "无法下载" (no data, even from the fallback fetch), "大文件" (a body
    // without a size passed the limit and nobody stopped the transfer) or
    // "不支持的网址".
    void downloadError(const QString& reason, const QString& saveFile);
    // The transfer created the file at the path (its placeholder or the
    // finished download): the row may record it as its own.
    void fileCreated(const dh::OwnedFile& file);
    // Once, instead of downloadComplete: the server refused with a login or
    // refusal page (401/403, HTML), kept at path (a new file, "htm"; name is
    // its file name without extension) while the target keeps what it had.
    void pageKept(const QString& path, const QString& name);

private:
    void startRequest(const QByteArray& headerLines);
    // The answer to a request for the rest of a kept body decides where its
    // bytes go.
    void chooseResumeSink();
    void startOver();
    // Keeps the temporary file for a later attempt when the answer allows it.
    void keepPartialIfResumable();
    void onReadProgress(qint64 read, qint64 total);
    void onReadFinished();
    void keepPage();
    void startFallback();
    void onFallbackFinished();
    void onStallTick();
    // reason: the signal's word; text: what failureText() says (by default
    // the failing request's own failure, else reason).
    void giveUp(const QString& reason, const QString& text = QString(), FailCode code = FailCode::None);
    QString requestFailureText() const;
    // The failing request (the fallback's first), nullptr when none failed.
    const TransferRequest* failingRequest() const;
    void noteFailure(FailCode fallback);
    bool checkSizeLimit(qint64 received);
    // Moves the finished temporary file to the target; false when it failed.
    bool placeBody();
    void discardFiles();

    QString m_saveFile;
    QString m_address;
    qint64 m_bytesExpected = 0;
    qint64 m_bytesRead = 0;
    qint64 m_bytesAtLastLook = 0;
    qint64 m_arrived = 0;  // every byte seen, with or without a total
    QElapsedTimer m_lastProgress;
    QTimer m_stallTimer;  // stall check
    std::unique_ptr<TransferRequest> m_read;
    std::unique_ptr<WholeBodyFetch> m_fallback;  // one-connection fetch
    bool m_reported = false;
    QString m_failureText;
    FailCode m_failCode = FailCode::None;
    int m_httpStatus = 0;
    qint64 m_retryAfterMs = -1;
    QString m_temp;             // the body's hidden temporary file
    FileHandle m_tempHandle;    // open, when this transfer made it; closed once the request is over
    KnownType m_knownType;
    bool m_placeholder = false;  // this transfer wrote the placeholder at the target
    OwnedFile m_placeholderFile;  // and that is it
    PlaceResult m_placed = PlaceResult::Failed;  // how the last body placement went
    PartialBody m_resume;    // offered by the caller for the next beginDownload
    PartialBody m_resuming;  // the kept body this request asks the rest of
    qint64 m_offset = 0;     // its length while the answer may still continue it
    bool m_sinkChosen = false;
    bool m_appending = false;   // the answer continues the kept body
    bool m_restarting = false;  // the answer did not fit: a new request follows
    bool m_keepable = true;     // false once the file is known to be wrong
    PartialBody m_kept;         // left for the caller at the end
    std::shared_ptr<SparePlaceholders> m_spares;
};

} // namespace dh
