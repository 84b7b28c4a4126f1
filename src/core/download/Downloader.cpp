#include "download/Downloader.h"

#include "app/Helpers.h"
#include "app/Timings.h"
#include "content/FileTypeDetection.h"
#include "download/RetryPolicy.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace dh {

Downloader::Downloader(QObject* parent) : QObject(parent)
{
    connect(&m_stallTimer, &QTimer::timeout, this, &Downloader::onStallTick);
}

Downloader::~Downloader()
{
    cancelAsyncRead();
    discardPartial(m_kept);
}

void Downloader::beginDownload(const QString& address, const QString& saveFile, const QString& /*referer*/)
{
    cancelAsyncRead();
    discardPartial(m_kept);
    PartialBody resume = std::exchange(m_resume, {});
    m_resuming = {};
    m_offset = 0;
    m_sinkChosen = m_appending = m_restarting = false;
    m_keepable = true;
    m_saveFile = saveFile;
    m_bytesExpected = m_bytesRead = m_bytesAtLastLook = m_arrived = 0;
    m_reported = false;
    m_knownType = {};
    m_failureText.clear();
    m_failCode = FailCode::None;
    m_httpStatus = 0;
    m_retryAfterMs = -1;

    m_lastProgress.start();
    m_stallTimer.start(timings().tick);

    QString a = address;
    a.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
    m_address = trimSpaces(a);
    if (!isDownloadableAddress(m_address)) {
        discardPartial(resume);
        // Reported on the next turn, after the caller has finished starting us.
        QTimer::singleShot(0, this, [this] { giveUp(unsupportedAddressText(), {}, FailCode::Unsupported); });
        return;
    }

    // The name is taken from now on, so that a second row with the same name
    // started in the same tick gets a numbered one. Only where nothing is:
    // an existing file (overwrite) stays whole until the new body replaces
    // it, and a link is never written through.
    const SparePlaceholders::Take spare =
        m_spares ? m_spares->take(saveFile, &m_placeholderFile) : SparePlaceholders::Take::NoSpare;
    if (spare == SparePlaceholders::Take::Taken
        || (spare == SparePlaceholders::Take::NoSpare && writePlaceholder(saveFile, &m_placeholderFile))) {
        m_placeholder = true;
        emit fileCreated(m_placeholderFile);
    }

    // A kept body goes on only beside the same target.
    if (resume.usable() && QFileInfo(resume.path).absolutePath() == QFileInfo(saveFile).absolutePath()) {
        m_temp = resume.path;
        m_resuming = resume;
        m_offset = resume.bytes;
        startRequest(resumeHeaderLines(resume));
        return;
    }
    discardPartial(resume);
    m_temp = createTempBeside(saveFile, &m_tempHandle);
    startRequest({});
}

void Downloader::startRequest(const QByteArray& headerLines)
{
    TransferOptions options;
    options.headerLines = headerLines;
    m_read = transferEngine().execute(m_address, options);
    const QPointer<TransferRequest> request(m_read.get());
    connect(m_read.get(), &TransferRequest::progress, this, &Downloader::onReadProgress);
    connect(m_read.get(), &TransferRequest::finished, this, &Downloader::onReadFinished);
    // An error answer is given up on without waiting for its body, which may
    // be long and is of no use. On the next turn: QtNetwork still has its own
    // report of the status to deliver, and an abort inside its signal would
    // come before it.
    connect(m_read.get(), &TransferRequest::headersReceived, this, [this, request] {
        if (m_offset > 0)
            chooseResumeSink();
        QTimer::singleShot(0, this, [this, request] {
            if (request && m_read.get() == request && !m_restarting && httpAnswerOf(*m_read) == HttpAnswer::Error)
                giveUp(QStringLiteral("无法下载"));
        });
    });
    // A resumed body's file waits for the answer.
    if (m_offset > 0)
        return;
    const bool sinking = !m_temp.isEmpty()
        && (m_tempHandle.isOpen() ? m_read->saveBodyToDescriptor(m_tempHandle.get(), m_temp)
                                  : m_read->saveBodyTo(m_temp, SaveMode::Direct));
    if (!sinking) {
        m_read->disconnect(this);
        m_read->cancel();
        m_read.reset();
        QTimer::singleShot(0, this, &Downloader::startFallback);
    }
}

void Downloader::chooseResumeSink()
{
    if (m_sinkChosen || !m_read)
        return;
    m_sinkChosen = true;
    TransferRequest& r = *m_read;
    // A file that cannot be opened fails the row on the next turn (not
    // inside the request's own signal).
    const auto failLocal = [this] {
        QTimer::singleShot(0, this, [this] {
            giveUp(QStringLiteral("无法下载"), failReasonText(FailReason::NoTempFile), FailCode::Local);
        });
    };
    if (answerContinues(r, m_resuming)) {
        m_appending = r.saveBodyTo(m_temp, SaveMode::Append);
        if (!m_appending)
            failLocal();
        return;
    }
    if (r.httpStatus() == 200) {
        // The whole body after all (the file changed, or ranges are off):
        // it replaces the kept bytes in the same file.
        m_offset = 0;
        m_resuming = {};
        if (!r.saveBodyTo(m_temp, SaveMode::Direct))
            failLocal();
        return;
    }
    // An error answer is given up on as ever: the kept body stays as it was.
    if (httpAnswerOf(r) == HttpAnswer::Error && r.httpStatus() != 416)
        return;
    // 416, a range that is not the rest of the kept body, a page: start over.
    m_restarting = true;
    QTimer::singleShot(0, this, &Downloader::startOver);
}

void Downloader::startOver()
{
    if (m_reported || !m_restarting)
        return;
    m_restarting = false;
    if (m_read) {
        m_read->disconnect(this);
        m_read->cancel();
        m_read.release()->deleteLater();
    }
    m_tempHandle.reset();
    if (!m_temp.isEmpty())
        QFile::remove(m_temp);
    m_resuming = {};
    m_offset = 0;
    m_sinkChosen = false;
    m_temp = createTempBeside(m_saveFile, &m_tempHandle);
    startRequest({});
}

void Downloader::keepPartialIfResumable()
{
    if (m_kept.isSet() || m_temp.isEmpty() || !m_read || !m_keepable)
        return;
    switch (m_failCode) {
    case FailCode::None:  // stopped
    case FailCode::Cancelled:
    case FailCode::CutShort:
    case FailCode::NoResponse:
    case FailCode::Stalled:
    case FailCode::TooSlow:
    case FailCode::Network:
    case FailCode::Http:
        break;
    default:
        return;  // the bytes or the row are of no use again (too large, coded, local trouble)
    }
    if (m_offset > 0 && !m_appending) {
        // Nothing of this answer went into the file: it is still what was kept.
        if (m_resuming.usable()) {
            m_kept = m_resuming;
            m_kept.gained = 0;
        }
    } else {
        const qint64 total = m_appending ? m_resuming.total : m_read->bytesTotal();
        m_kept = resumableBody(*m_read, m_temp, total);
        const qint64 have = fileLength(m_temp);
        if (!m_kept.isSet() && m_appending && have > 0 && have < total)
            m_kept = PartialBody{m_temp, m_resuming.validator, have, total};  // a 206 need not repeat it
        if (m_kept.isSet() && m_appending)
            m_kept.gained = m_kept.bytes - m_resuming.bytes;
    }
    if (m_kept.isSet()) {
        m_tempHandle.reset();
        m_temp.clear();  // the caller's now
    }
}

void Downloader::cancelAsyncRead()
{
    m_stallTimer.stop();
    m_restarting = false;  // a new request queued for an answer that did not fit is not wanted now
    if (m_read) {
        m_read->disconnect(this);
        m_read->cancel();
    }
    if (m_fallback && m_fallback->request()) {
        m_fallback->request()->disconnect(this);
        m_fallback->request()->cancel();
    }
    // The requests themselves may be in the middle of a signal; they go with
    // this object or with the next transfer. Their files go now (a cancelled
    // request has closed its file), unless the body can be resumed.
    keepPartialIfResumable();
    discardFiles();
}

void Downloader::discardFiles()
{
    m_tempHandle.reset();
    if (!m_temp.isEmpty())
        QFile::remove(m_temp);
    m_temp.clear();
    if (m_placeholder)
        removePlaceholder(m_saveFile);
    m_placeholder = false;
}

bool Downloader::placeBody()
{
    // The target is this transfer's placeholder or, under the overwrite
    // policy, the old file: both are replaced (a link itself, not its target).
    // What the body is, through the open file, for the type check after the move.
    const QString type = m_tempHandle.isOpen() ? identifyOpenFile(m_tempHandle.get()) : QString();
    const bool typeKnown = m_tempHandle.isOpen();
    m_tempHandle.reset();
    OwnedFile placed;
    bool swapped = false;
    m_placed = m_temp.isEmpty() ? PlaceResult::Failed
                                : placeDownloadedBody(m_temp, m_saveFile, true,
                                                      m_placeholder ? &m_placeholderFile : nullptr, &placed,
                                                      m_spares ? &swapped : nullptr);
    if (m_placed != PlaceResult::Placed)
        return false;
    // The placeholder it replaced is now at the temporary file's name.
    if (swapped)
        m_spares->give(m_temp, m_placeholderFile);
    m_temp.clear();
    if (typeKnown)
        m_knownType = {m_saveFile, type};
    m_placeholder = false;
    emit fileCreated(placed);
    return true;
}

bool Downloader::checkSizeLimit(qint64 received)
{
    if (m_reported || !receivedAboveSizeLimit(received))
        return false;
    QPointer<Downloader> self(this);
    emit downloadProgress(received, received, m_saveFile);
    if (self)
        giveUp(QStringLiteral("大文件"), QStringLiteral("文件超过大小上限"), FailCode::TooLarge);
    return true;
}

void Downloader::onReadProgress(qint64 read, qint64 total)
{
    if (m_appending) {
        // The row's progress is of the whole file.
        read += m_offset;
        if (total > 0)
            total += m_offset;
    }
    m_arrived = read;
    // An error answer's length says nothing about the document: it must not
    // show as the row's progress, nor pass for a file too large to fetch.
    if (m_read && httpAnswerOf(*m_read) == HttpAnswer::Error)
        return;
    if (total < 1) {
        checkSizeLimit(read);
        return;
    }
    m_bytesExpected = total;
    m_bytesRead = read;
    emit downloadProgress(read, total, m_saveFile);
}

void Downloader::onReadFinished()
{
    if (m_reported || !m_read || m_restarting)
        return;
    if (m_offset > 0 && m_read->hasHeaders())
        chooseResumeSink();  // when the end came before the headers' turn
    if (m_restarting)
        return;
    const TransferRequest::Failure failure = m_read->failure();
    if (failure == TransferRequest::Failure::Cancelled)
        return;
    if (failure == TransferRequest::Failure::Stalled || failure == TransferRequest::Failure::TooSlow) {
        giveUp(QStringLiteral("超时"), {}, FailCode::Stalled);
        return;
    }
    // The server answered: asking again in one piece would only bring the
    // same answer.
    const HttpAnswer answer = httpAnswerOf(*m_read);
    if (answer == HttpAnswer::Error || failure == TransferRequest::Failure::Encoded) {
        giveUp(QStringLiteral("无法下载"));
        return;
    }
    if (answer == HttpAnswer::Page && m_read->succeeded()) {
        keepPage();
        return;
    }
    const qint64 offset = m_appending ? m_offset : 0;
    const qint64 total = m_read->bytesTotal() > 0 ? m_read->bytesTotal() + offset : 0;
    const qint64 read = m_read->bytesRead() + offset;
    if (m_read->succeeded() && offset > 0 && fileLength(m_temp) != total) {
        // The pieces do not add up to the whole: never passed off as the file.
        m_keepable = false;
        giveUp(QStringLiteral("无法下载"), failReasonText(FailReason::CutShort), FailCode::CutShort);
        return;
    }
    if (m_read->succeeded() && read >= 1) {
        if (!placeBody()) {
            giveUp(QStringLiteral("无法下载"), placeFailText(m_placed),
                   m_placed == PlaceResult::PageRefused ? FailCode::PageOverFile : FailCode::Local);
            return;
        }
        m_stallTimer.stop();
        m_reported = true;
        if (total >= 1) {
            emit downloadComplete(read, total, m_saveFile);
        } else {
            // No size announced: the whole body is in place all the same.
            const qint64 length = fileLength(m_saveFile);
            emit downloadComplete(length, length, m_saveFile);
        }
        return;
    }
    if (!m_read->succeeded() && total >= 1 && read >= 1 && read < total) {
        // Broken off part-way: reported with the share that arrived. The
        // target keeps what it had; the part is not passed off as the file.
        m_stallTimer.stop();
        m_reported = true;
        m_failureText = requestFailureText();
        noteFailure(FailCode::CutShort);
        keepPartialIfResumable();
        discardFiles();
        emit downloadComplete(read, total, m_saveFile);
        return;
    }
    if (m_offset > 0) {
        // No answer to the request for the rest: the kept body waits for
        // the next attempt rather than a fetch in one piece.
        giveUp(QStringLiteral("无法下载"));
        return;
    }
    startFallback();
}

void Downloader::keepPage()
{
    QString name;
    const QFileInfo target(m_saveFile);
    const QString path = placePageBody(m_temp, target.path() + QLatin1Char('/'), target.completeBaseName(), &name);
    if (path.isEmpty()) {
        giveUp(QStringLiteral("无法下载"), failReasonText(FailReason::NotPlaced), FailCode::Local);
        return;
    }
    m_tempHandle.reset();
    m_temp.clear();
    // The row's name is free again: the page has one of its own.
    discardFiles();
    m_stallTimer.stop();
    m_reported = true;
    emit pageKept(path, name);
}

void Downloader::startFallback()
{
    if (m_reported)
        return;
    // The first request's file is of no use to the second one.
    m_tempHandle.reset();
    if (!m_temp.isEmpty())
        QFile::remove(m_temp);
    m_temp.clear();
    m_fallback = std::make_unique<WholeBodyFetch>();
    if (!m_fallback->start(m_address, TransferOptions{}, m_saveFile)) {
        giveUp(QStringLiteral("无法下载"), failReasonText(FailReason::NoTempFile), FailCode::Local);
        return;
    }
    m_fallback->watchSizeLimit();
    connect(m_fallback->request(), &TransferRequest::progress, this, [this](qint64 read, qint64) { m_arrived = read; });
    connect(m_fallback->request(), &TransferRequest::finished, this, &Downloader::onFallbackFinished);
}

void Downloader::onFallbackFinished()
{
    if (m_reported || !m_fallback)
        return;
    if (m_fallback->overSizeLimit()) {
        checkSizeLimit(m_arrived);
        return;
    }
    if (m_fallback->request()->failure() == TransferRequest::Failure::Stalled
        || m_fallback->request()->failure() == TransferRequest::Failure::TooSlow) {
        giveUp(QStringLiteral("超时"), {}, FailCode::Stalled);
        return;
    }
    const qint64 bytes = m_fallback->finish(true);
    if (bytes <= 0) {
        giveUp(QStringLiteral("无法下载"),
               m_fallback->pageRefused()        ? failReasonText(FailReason::PageOverFile)
               : requestFailureText().isEmpty() ? failReasonText(FailReason::EmptyBody)
                                                : QString(),
               m_fallback->pageRefused() ? FailCode::PageOverFile : FailCode::EmptyBody);
        return;
    }
    m_placeholder = false;
    emit fileCreated(m_fallback->placedFile());
    m_stallTimer.stop();
    m_reported = true;
    emit downloadComplete(bytes, bytes, m_saveFile);
}

void Downloader::onStallTick()
{
    if (m_arrived == m_bytesAtLastLook) {
        if (m_lastProgress.elapsed() >= timings().transferStall.count())
            giveUp(QStringLiteral("超时"), failReasonText(FailReason::Stalled), FailCode::Stalled);
        return;
    }
    m_bytesAtLastLook = m_arrived;
    m_lastProgress.restart();
}

const TransferRequest* Downloader::failingRequest() const
{
    if (m_fallback && m_fallback->request() && !transferFailureText(*m_fallback->request()).isEmpty())
        return m_fallback->request();
    if (m_read && !transferFailureText(*m_read).isEmpty())
        return m_read.get();
    return nullptr;
}

void Downloader::noteFailure(FailCode fallback)
{
    // The request's own failure is the better word, as for the text.
    const TransferRequest* r = failingRequest();
    const FailCode code = r ? failCodeOf(*r) : FailCode::None;
    m_failCode = code != FailCode::None ? code : fallback;
    m_httpStatus = r ? r->httpStatus() : 0;
    m_retryAfterMs = r ? dh::retryAfterMs(r->getHeader(QStringLiteral("Retry-After"))) : -1;
}

QString Downloader::requestFailureText() const
{
    if (m_fallback && m_fallback->request()) {
        if (QString t = transferFailureText(*m_fallback->request()); !t.isEmpty())
            return t;
    }
    return m_read ? transferFailureText(*m_read) : QString();
}

void Downloader::giveUp(const QString& reason, const QString& text, FailCode code)
{
    if (m_reported)
        return;
    m_reported = true;
    // Before the requests are cancelled, which would be their last word.
    m_failureText = !text.isEmpty() ? text : requestFailureText();
    if (m_failureText.isEmpty())
        m_failureText = reason;
    if (!text.isEmpty() && code != FailCode::None) {
        m_failCode = code;
        m_httpStatus = 0;
    } else {
        noteFailure(code == FailCode::None ? FailCode::Network : code);
    }
    cancelAsyncRead();
    emit downloadError(reason, m_saveFile);
}

} // namespace dh
