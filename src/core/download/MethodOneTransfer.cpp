#include "download/MethodOneTransfer.h"

#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "content/ContentType.h"
#include "content/FileTypeDetection.h"
#include "download/TypeCorrection.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"
#include "download/RetryPolicy.h"
#include "download/TransferEnd.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <memory>

namespace dh {

namespace {

// A header value from page data: line breaks would start a header of their
// own, and a header line carries ASCII only.
QByteArray headerValue(QString value)
{
    value.remove(QLatin1Char('\r'));
    value.remove(QLatin1Char('\n'));
    return QUrl::toPercentEncoding(value, QByteArrayLiteral(":/?#[]@!$&'()*+,;=%~ "));
}

} // namespace

MethodOneTransfer::MethodOneTransfer(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host,
                                     QObject* parent)
    : QObject(parent), m_list(list), m_state(state), m_host(host)
{
}

MethodOneTransfer::~MethodOneTransfer()
{
    // A running transfer ends silently: its coroutine sees this object gone.
    if (m_current) {
        m_current->disconnect(this);
        cancel();
    }
}

void MethodOneTransfer::loadSettings(const SettingsStore& store)
{
    setProxy(store.getFlag(keys::proxyEnabled),  // any non-zero number, as the options dialog reads it
             store.get(keys::proxyHost), store.get(keys::proxyPort));
}

void MethodOneTransfer::setProxy(bool enabled, const QString& host, const QString& port)
{
    m_proxyEnabled = enabled;
    m_proxyHost = host;
    m_proxyPort = port;
}

bool MethodOneTransfer::stillExecuting() const
{
    return m_current && m_current->stillExecuting();
}

void MethodOneTransfer::cancel()
{
    if (m_current && m_current->stillExecuting())
        m_current->cancel();
}

QString MethodOneTransfer::urlHostPart(const QString& address)
{
    const qsizetype sep = address.indexOf(QLatin1String("://"));
    if (sep >= 0) {
        const qsizetype slash = address.indexOf(QLatin1Char('/'), sep + 3);
        if (slash < 0 || slash == sep + 3)
            return address;
        return address.left(slash);
    }
    const qsizetype slash = address.indexOf(QLatin1Char('/'));
    return slash >= 3 ? address.left(slash) : address;
}

void MethodOneTransfer::watch(TransferRequest* request)
{
    m_current = request;
    connect(request, &TransferRequest::stateChanged, this, [this, request](int state) {
        m_host.connectionStateChanged(transferStateText(state, transferFailureText(*request)));
    });
}

QCoro::Task<> MethodOneTransfer::downloadCurrentFile(int row)
{
    if (row < 0 || row >= m_list.size())
        co_return;
    if (stillExecuting() || m_state.transferBusy()) {
        DownloadItem it = m_list.item(row);
        it.state = DownloadState::Waiting;
        it.note = RowNote::WaitingAgain;
        m_list.setItem(row, it);
        co_return;
    }
    QPointer<MethodOneTransfer> self(this);
    m_state.beginTransfer();
    // The busy flag is this transfer's only while the generation is its own: a
    // stop and a new start during the end hook hand it to the next transfer.
    const quint64 generation = ++m_generation;
    const RowRef ref{row, m_list.item(row).url};
    const bool ok = co_await downloadFile(ref, generation);
    if (!self)
        co_return;
    // The transfer is not over until the end hook (the automatic login) has
    // returned: the busy flag keeps the scheduler from starting the next row,
    // which would otherwise meet the same login page.
    const int ended = ref.resolve(m_list);
    if (ended >= 0 && m_endHook) {
        TransferEndHook hook = m_endHook;  // may be replaced while it runs
        QCoro::Task<> ending = hook(ended);
        co_await ending;
        if (!self)
            co_return;
    }
    if (m_generation == generation)
        m_state.endTransfer();
    emit transferEnded(ref.resolve(m_list), ok);
}

QString MethodOneTransfer::fileTypeFromContentType(const QString& contentType)
{
    const QString label = contentTypeToFileType(contentType);
    if (label.isEmpty())
        return QString();
    // A label from the table (it differs from the header) is known good; a
    // header the table passed back untouched becomes an extension only when
    // it is a short plain token, never "script.sh" or a path.
    static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9]{1,5}$"));
    if (label != contentType && !label.contains(QLatin1Char('/')) && !label.contains(QLatin1String(".."))
        && !label.startsWith(QLatin1Char('.')))
        return label;
    return token.match(label).hasMatch() ? label : QString();
}

// One run of downloadFile: what its steps learn and hand on.
struct MethodOneTransfer::Run {
    RowRef ref;
    quint64 generation = 0;
    TransferOptions options;
    std::unique_ptr<TransferRequest> request;
    int pos = -1;
    DownloadItem row;
    qint64 size = 0;     // announced length, 0 when none
    bool page = false;   // a login or refusal page, kept as a web page
    SameNamePolicy policy = SameNamePolicy::Rename;
    QString target;
    // The body goes to a hidden temporary file beside the target; only a
    // complete body is moved into place. Whatever else happens, it goes,
    // unless it is kept for the row's next attempt.
    QString temp;
    FileHandle tempHandle;  // temp, open, when this run made it
    // A body kept from the row's last attempt: asked to go on from. Once
    // the answer continues it, its file is temp (path empty here; the
    // validator and lengths stay).
    PartialBody resume;
    bool appending = false;  // the answer is the rest of the kept body
    bool restart = false;    // the answer does not fit the kept body: ask again for the whole
};

bool MethodOneTransfer::stopped(const Run& run) const
{
    return !m_state.transferBusy() || m_generation != run.generation;
}

QCoro::Task<bool> MethodOneTransfer::downloadFile(RowRef ref, quint64 generation)
{
    QPointer<MethodOneTransfer> self(this);
    Run run;
    run.ref = ref;
    run.generation = generation;
    run.pos = ref.resolve(m_list);
    if (run.pos < 0)
        co_return false;
    run.row = m_list.item(run.pos);
    if (!isDownloadableAddress(run.row.url)) {
        // A local file (file:, qrc:) or inline data is never copied into the folder.
        TransferResult r = TransferResult::failed(QString(), FailCode::Unsupported);
        r.note = RowNote::Unsupported;
        endStep(ref, r);
        co_return false;
    }
    m_host.fileStarted(run.row.name);
    run.resume = m_list.takePartial(run.pos);
    if (!run.resume.usable())
        discardPartial(run.resume);
    std::optional<TransferResult> result;
    for (;;) {
        sendRequest(run);
        co_await run.request->waitForHeaders(timings().inetHeaderWait);
        if (!self) {
            discardPartial(run.resume);
            co_return false;
        }
        result = readHeaders(run);
        if (!result && !run.restart)
            result = chooseTarget(run);
        if (result || !run.restart)
            break;
        // The kept body cannot go on: the whole document, asked for again.
        run.request->cancel();
        discardPartial(run.resume);
        run.restart = false;
    }
    if (!result) {
        if (run.size <= 0 && !run.page) {
            // No size: the body is fetched again in one piece.
            run.request->cancel();
            result = co_await fetchWholeBody(run.ref, run.target, run.options, run.policy);
        } else {
            result = co_await receiveBody(run);
        }
        if (!self) {
            discardPartial(run.resume);
            co_return false;
        }
    }
    if (run.request->stillExecuting())
        run.request->cancel();
    keepForResume(run, *result);
    if (!run.temp.isEmpty())
        QFile::remove(run.temp);
    endStep(ref, *result);
    co_return result->outcome != RowOutcome::Failed && result->outcome != RowOutcome::Cancelled;
}

void MethodOneTransfer::keepForResume(Run& run, const TransferResult& result)
{
    PartialBody kept;
    const bool early = result.outcome == RowOutcome::Cancelled
        || (result.outcome == RowOutcome::Failed
            && (result.code == FailCode::CutShort || result.code == FailCode::NoResponse
                || result.code == FailCode::Stalled || result.code == FailCode::TooSlow
                || result.code == FailCode::Network || result.code == FailCode::Http));
    if (early && run.resume.isSet()) {
        kept = std::exchange(run.resume, {});  // nothing of this answer went into it
        kept.gained = 0;
    } else if (early && !run.temp.isEmpty() && run.request) {
        const qint64 total = run.appending ? run.resume.total : run.size;
        kept = resumableBody(*run.request, run.temp, total);
        const qint64 have = fileLength(run.temp);
        if (!kept.isSet() && run.appending && have > 0 && have < total)
            kept = PartialBody{run.temp, run.resume.validator, have, total};  // a 206 need not repeat it
        if (kept.isSet() && run.appending)
            kept.gained = kept.bytes - run.resume.bytes;
    }
    discardPartial(run.resume);
    if (kept.isSet() && kept.path == run.temp)
        run.temp.clear();
    const int pos = run.ref.resolve(m_list);
    if (pos < 0) {
        discardPartial(kept);
        return;
    }
    if (run.appending)
        m_list.markResumed(pos);
    m_list.setPartial(pos, kept);
}

void MethodOneTransfer::sendRequest(Run& run)
{
    const TransferConnection connection =
        transferConnectionFor(run.row.url, m_proxyEnabled, m_proxyHost, m_proxyPort);
    run.options.accessType = connection.accessType;
    run.options.proxy = connection.proxy;
    const QString referer = run.row.referer.isEmpty() ? urlHostPart(run.row.url) : run.row.referer;
    run.options.headerLines = QByteArrayLiteral("Referer: ") + headerValue(referer) + QByteArrayLiteral("\r\n");
    if (run.resume.isSet())
        run.options.headerLines += resumeHeaderLines(run.resume);
    run.request = transferEngine().execute(run.row.url, run.options);
    watch(run.request.get());
}

std::optional<TransferResult> MethodOneTransfer::readHeaders(Run& run)
{
    TransferRequest& request = *run.request;
    run.pos = run.ref.resolve(m_list);
    if (run.pos < 0)
        return TransferResult{};  // the row is gone: nothing to write
    run.row = m_list.item(run.pos);
    if (request.failure() == TransferRequest::Failure::Cancelled || stopped(run))
        return TransferResult::of(RowOutcome::Cancelled);  // stopped while waiting: no file is touched
    if (request.getHeader().isEmpty()) {
        // No response at all, including a request that ran out of time.
        TransferResult r = TransferResult::failedRequest(request, FailReason::NoResponse);
        request.cancel();
        return r;
    }
    const HttpAnswer answer = httpAnswerOf(request);
    if (run.resume.isSet()) {
        if (answerContinues(request, run.resume)) {
            run.appending = true;
        } else if (request.httpStatus() == 200) {
            discardPartial(run.resume);  // the whole body after all (the file changed, or ranges are off)
        } else if (answer != HttpAnswer::Error || request.httpStatus() == 416) {
            // 416, a range that is not the rest of the kept body, a page.
            run.restart = true;
            return std::nullopt;
        }
        // An error answer fails as ever: the kept body stays as it was.
    }
    if (answer == HttpAnswer::Error || request.failure() == TransferRequest::Failure::Encoded) {
        // Neither an error answer's body nor a coded one is the row's file.
        TransferResult r = TransferResult::failedRequest(request, FailReason::NoResponse);
        r.retryAfterMs = retryAfterMs(request.getHeader(QStringLiteral("Retry-After")));
        request.cancel();
        return r;
    }
    // A login or refusal page is kept for the user to see, as a web page
    // under a name of its own: never over a file that is there.
    run.page = answer == HttpAnswer::Page;
    bool isNumber = false;
    run.size = request.getHeader(QStringLiteral("content-length")).trimmed().toLongLong(&isNumber);
    if (!isNumber || run.size < 0)
        run.size = 0;
    if (run.appending)
        run.size = run.resume.total;  // the answer's length is the rest only
    if (run.size > 0)
        run.row.size = run.size;
    if (aboveSizeLimit(run.size)) {
        request.cancel();
        return TransferResult::of(RowOutcome::SkippedTooLarge).cells(run.size, run.row.received, run.row.percent);
    }
    return std::nullopt;
}

std::optional<TransferResult> MethodOneTransfer::chooseTarget(Run& run)
{
    TransferRequest& request = *run.request;
    DownloadItem& row = run.row;
    QString contentType = request.getHeader(QStringLiteral("Content-Type")).trimmed();
    if (contentType.contains(QLatin1Char(';')))
        contentType = contentType.section(QLatin1Char(';'), 0, 0).trimmed();
    const QString label = run.page ? QStringLiteral("htm") : fileTypeFromContentType(contentType);

    const QString folder = runFolderPath(m_state, row.folder);
    if (folder.isEmpty()) {
        // Without a folder the file would land in the root folder.
        request.cancel();
        m_list.setItem(run.pos, row);
        return TransferResult::failed(folderFailText(row.folder), FailCode::Folder);
    }
    row.folder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    // A row downloading its own file again keeps its name: the new body
    // replaces that file once whole (the type check follows).
    if (!label.isEmpty() && !ownsItemFile(row))
        row.fileType = label;
    row.name = fitNameForType(row.name, row.fileType);

    run.policy = run.page ? SameNamePolicy::Rename : savePolicyFor(row, m_host.options().sameNamePolicy);
    if (run.policy == SameNamePolicy::Rename) {
        QString name;
        run.target = renameForSavePath(row.folder, row.name, row.fileType, run.policy, &name);
        row.name = name;
    } else {
        run.target = itemFilePath(row);
    }
    m_list.setItem(run.pos, row);
    if (run.policy == SameNamePolicy::Skip) {
        if (const std::optional<qint64> length = lengthInTheWay(run.target)) {
            // The type the server gave leads to a file that is already there:
            // under the skip policy it is never touched.
            request.cancel();
            return TransferResult::of(RowOutcome::SkippedExisting).cells(*length, *length, -1);
        }
    }
    if (run.appending && QFileInfo(run.resume.path).absolutePath() != QFileInfo(run.target).absolutePath()) {
        // The row's folder changed since: its kept body is not beside the target.
        run.appending = false;
        run.restart = true;
        return std::nullopt;
    }
    if (run.appending)
        run.temp = std::exchange(run.resume.path, {});
    else
        run.temp = createTempBeside(run.target, &run.tempHandle);
    if (run.temp.isEmpty()) {
        request.cancel();
        return TransferResult::failed(failReasonText(FailReason::NoTempFile), FailCode::Local);
    }
    return std::nullopt;
}

QCoro::Task<TransferResult> MethodOneTransfer::receiveBody(Run& run)
{
    QPointer<MethodOneTransfer> self(this);
    TransferRequest& request = *run.request;
    // Chunk transfer: the body goes to the temporary file as it arrives.
    const qint64 sizeCell = run.size > 0 ? run.size : kUnknownSize;
    m_list.setProgress(run.pos, sizeCell, 0, -1);
    const qint64 offset = run.appending ? fileLength(run.temp) : 0;
    const bool sinking = run.tempHandle.isOpen() && !run.appending
        ? request.saveBodyToDescriptor(run.tempHandle.get(), run.temp)
        : request.saveBodyTo(run.temp, run.appending ? SaveMode::Append : SaveMode::Direct);
    if (!sinking) {
        request.cancel();
        co_return TransferResult::failed(failReasonText(FailReason::NoTempFile), FailCode::Local);
    }
    QElapsedTimer lastProgress;
    lastProgress.start();
    qint64 seen = 0;
    for (;;) {
        const bool ended = co_await request.waitForFinished(timings().transferPoll);
        if (!self)
            co_return TransferResult{};
        run.pos = run.ref.resolve(m_list);
        if (run.pos < 0) {
            request.cancel();
            co_return TransferResult{};
        }
        const qint64 got = request.bytesRead() + offset;
        if (got > seen) {
            seen = got;
            lastProgress.restart();
            m_list.setProgress(run.pos, sizeCell, got, percentOfSingle(got, run.size));
        } else if (lastProgress.elapsed() > timings().transferStall.count()) {
            // Stalled: the part is not passed off as the file.
            request.cancel();
            co_return TransferResult::failed(failReasonText(FailReason::Stalled), FailCode::Stalled);
        }
        if (ended && request.succeeded()) {
            // The body's length, taken before the move: the same file after
            // it. A resumed body must add up to the whole exactly.
            // Through the open file when there is one: its length and, for
            // the type check after the move, what its bytes are.
            KnownType known;
            qint64 length = 0;
            if (run.tempHandle.isOpen() && !run.appending) {
                DetectionStats stats;
                known.type = identifyOpenFile(run.tempHandle.get(), &stats);
                length = std::max<qint64>(stats.fileSize, 0);
            } else {
                length = fileLength(run.temp);
            }
            if (length >= run.size && (!run.appending || length == run.size))
                co_return placeFile(run, sizeCell, length, known);
        }
        if (stopped(run) || request.failure() == TransferRequest::Failure::Cancelled) {
            // The stop command: cancel and leave no partial file behind.
            request.cancel();
            co_return TransferResult::of(RowOutcome::Cancelled);
        }
        if (ended) {
            // Cut, stalled or unwritable before the announced length: the
            // cells keep their last values, the part goes.
            co_return TransferResult::failedRequest(request, FailReason::CutShort);
        }
    }
}

TransferResult MethodOneTransfer::placeFile(Run& run, qint64 sizeCell, qint64 length, KnownType known)
{
    const PlaceResult placed = placeBody(run.temp, run.target, run.policy, run.pos);
    if (placed == PlaceResult::Taken)
        return skippedResult(run.target);
    if (placed != PlaceResult::Placed)
        return TransferResult::failed(placeFailText(placed), placed == PlaceResult::PageRefused ? FailCode::PageOverFile
                                                                                                : FailCode::Local);
    run.temp.clear();
    TransferResult r = TransferResult::of(RowOutcome::Done);
    if (run.size > 0)
        r.cells(sizeCell, length, percentOfSingle(length, run.size));
    else
        r.cells(length, length, 100);
    r.checkType = !run.page;
    // The file is the row's own, just moved there.
    if (r.checkType && run.tempHandle.isOpen()) {
        known.path = m_list.item(run.pos).owned.path;
        r.knownType = known;
    }
    return r;
}

PlaceResult MethodOneTransfer::placeBody(const QString& temp, QString target, SameNamePolicy policy, int pos)
{
    // Overwrite replaces what is there (a link itself, never its target);
    // skip and rename never replace anything. A name taken meanwhile under
    // rename moves on to the next free number.
    if (policy == SameNamePolicy::Overwrite)
        return placeAndOwn(temp, target, true, pos);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const PlaceResult r = placeAndOwn(temp, target, false, pos);
        if (r != PlaceResult::Taken || policy != SameNamePolicy::Rename)
            return r;
        target = takeNextFreeName(pos, policy);
    }
    return PlaceResult::Failed;
}

QString MethodOneTransfer::takeNextFreeName(int pos, SameNamePolicy policy)
{
    // The numbered name was taken by someone else meanwhile: the row moves on
    // to the next free one.
    DownloadItem row = m_list.item(pos);
    QString name;
    const QString target = renameForSavePath(row.folder, row.name, row.fileType, policy, &name);
    row.name = name;
    m_list.setItem(pos, row);
    return target;
}

PlaceResult MethodOneTransfer::placeAndOwn(const QString& temp, const QString& target, bool replace, int pos)
{
    OwnedFile placed;
    const PlaceResult r = placeDownloadedBody(temp, target, replace, nullptr, &placed);
    if (r == PlaceResult::Placed)
        m_list.setOwnedFile(pos, placed);
    return r;
}

QCoro::Task<TransferResult> MethodOneTransfer::fetchWholeBody(RowRef ref, QString target, TransferOptions options,
                                                              SameNamePolicy policy)
{
    QPointer<MethodOneTransfer> self(this);
    int pos = ref.resolve(m_list);
    if (pos < 0)
        co_return TransferResult{};
    {
        const DownloadItem& row = m_list.item(pos);
        m_list.setProgress(pos, kUnknownSize, row.received, row.percent);
    }
    // The second request carries no referring page.
    options.headerLines.clear();
    auto fetch = std::make_unique<WholeBodyFetch>();
    qint64 bytes = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!fetch->start(ref.url, options, target))
            break;
        fetch->watchSizeLimit();
        watch(fetch->request());
        co_await fetch->request()->waitForFinished();
        if (!self)
            co_return TransferResult{};
        if (fetch->overSizeLimit())
            break;
        bytes = fetch->finish(policy == SameNamePolicy::Overwrite);
        if (bytes > 0 || !fetch->targetTaken() || policy != SameNamePolicy::Rename)
            break;
        // The numbered name was taken meanwhile: the next free one, fetched again.
        pos = ref.resolve(m_list);
        if (pos < 0)
            co_return TransferResult{};
        target = takeNextFreeName(pos, policy);
        fetch = std::make_unique<WholeBodyFetch>();
    }
    pos = ref.resolve(m_list);
    if (pos < 0)
        co_return TransferResult{};
    if (fetch->overSizeLimit()) {
        // A body without a size is held to the limit as it arrives.
        co_return TransferResult::of(RowOutcome::SkippedTooLarge).cells(kNoBytes, kNoBytes, -1);
    }
    if (bytes <= 0 && fetch->targetTaken() && policy == SameNamePolicy::Skip)
        co_return skippedResult(target);
    if (bytes <= 0 && fetch->request() && fetch->request()->failure() == TransferRequest::Failure::Cancelled)
        co_return TransferResult::of(RowOutcome::Cancelled).cells(kNoBytes, kNoBytes, -1);
    if (bytes > 0) {
        m_list.setOwnedFile(pos, fetch->placedFile());
        TransferResult r = TransferResult::of(RowOutcome::Done).cells(bytes, bytes, 100);
        r.checkType = true;
        co_return r;
    }
    TransferResult r = fetch->pageRefused()
        ? TransferResult::failed(failReasonText(FailReason::PageOverFile), FailCode::PageOverFile)
        : fetch->request() ? TransferResult::failedRequest(*fetch->request(), FailReason::EmptyBody)
                           : TransferResult::failed(failReasonText(FailReason::NoTempFile), FailCode::Local);
    co_return r.cells(kNoBytes, kNoBytes, -1);
}

TransferResult MethodOneTransfer::skippedResult(const QString& existing)
{
    const qint64 length = QFileInfo(existing).size();
    return TransferResult::of(RowOutcome::SkippedExisting).cells(length, length, -1);
}

void MethodOneTransfer::endStep(const RowRef& ref, const TransferResult& result)
{
    endRowTransfer(m_list, m_state, m_host, ref, result, m_retryHook);
}

} // namespace dh
