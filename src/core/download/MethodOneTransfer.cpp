#include "download/MethodOneTransfer.h"

#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "content/ContentType.h"
#include "content/TypeCorrection.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"
#include "platform/Sound.h"

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

bool isWebPage(const QString& type)
{
    const QString t = type.toLower();
    return t == QLatin1String("htm") || t == QLatin1String("html");
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
        m_host.setStatusText(3, transferStateText(state, request->responseCode(), request->responseInfo()));
    });
}

QCoro::Task<> MethodOneTransfer::downloadCurrentFile(int row)
{
    if (row < 0 || row >= m_list.size())
        co_return;
    if (stillExecuting() || m_state.transferBusy) {
        DownloadItem it = m_list.item(row);
        it.state = DownloadState::Waiting;
        it.sizeText = QStringLiteral("等待重新下载");
        m_list.setItem(row, it);
        co_return;
    }
    QPointer<MethodOneTransfer> self(this);
    m_state.transferBusy = true;
    // transferBusy is this transfer's only while the generation is its own: a
    // stop and a new start during the end hook hand it to the next transfer.
    const quint64 generation = ++m_generation;
    const RowRef ref{row, m_list.item(row).url};
    const bool ok = co_await downloadFile(ref, generation);
    if (!self)
        co_return;
    // The transfer is not over until the end hook (the automatic login) has
    // returned: transferBusy keeps the scheduler from starting the next row,
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
        m_state.transferBusy = false;
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

QCoro::Task<bool> MethodOneTransfer::downloadFile(RowRef ref, quint64 generation)
{
    QPointer<MethodOneTransfer> self(this);
    int pos = ref.resolve(m_list);
    if (pos < 0)
        co_return false;
    DownloadItem row = m_list.item(pos);
    auto stopped = [this, generation] { return !m_state.transferBusy || m_generation != generation; };

    if (!isDownloadableAddress(row.url)) {
        // A local file (file:, qrc:) or inline data is never copied into the folder.
        row.state = DownloadState::Failed;
        row.progressText = unsupportedAddressText();
        m_list.setItem(pos, row);
        endStep(ref, false);
        co_return false;
    }

    QElapsedTimer lastProgress;
    lastProgress.start();
    const TransferConnection connection = transferConnectionFor(row.url, m_proxyEnabled, m_proxyHost, m_proxyPort);
    m_state.transferBusy = true;
    m_host.setStatusText(2, QStringLiteral("正在下载:") + row.name);

    TransferOptions options;
    options.accessType = connection.accessType;
    options.proxy = connection.proxy;
    const QString referer = row.referer.isEmpty() ? urlHostPart(row.url) : row.referer;
    options.headerLines = QByteArrayLiteral("Referer: ") + headerValue(referer) + QByteArrayLiteral("\r\n");

    std::unique_ptr<TransferRequest> request = transferEngine().execute(row.url, options);
    watch(request.get());
    co_await request->waitForHeaders(timings().inetHeaderWait);
    if (!self)
        co_return false;

    bool result = false;
    // The body goes to a hidden temporary file beside the target; only a
    // complete body is moved into place. Whatever else happens, it goes.
    QString temp;
    // Every path ends in the end step below; "break" goes there.
    do {
        pos = ref.resolve(m_list);
        if (pos < 0)
            break;
        row = m_list.item(pos);
        if (request->failure() == TransferRequest::Failure::Cancelled || stopped()) {
            // Stopped while waiting for the answer: no file is touched.
            markCancelled(pos);
            break;
        }

        if (request->getHeader().isEmpty()) {
            // No response at all, including a request that ran out of time.
            row.failReason = transferFailureText(*request);
            if (row.failReason.isEmpty())
                row.failReason = failReasonText(FailReason::NoResponse);
            request->cancel();
            row.state = DownloadState::Failed;
            m_list.setItem(pos, row);
            break;
        }

        const HttpAnswer answer = httpAnswerOf(*request);
        if (answer == HttpAnswer::Error || request->failure() == TransferRequest::Failure::Encoded) {
            // Neither an error answer's body nor a coded one is the row's file.
            row.failReason = transferFailureText(*request);
            request->cancel();
            row.state = DownloadState::Failed;
            m_list.setItem(pos, row);
            break;
        }
        // A login or refusal page is kept for the user to see, as a web page
        // under a name of its own: never over a file that is there.
        const bool page = answer == HttpAnswer::Page;

        bool isNumber = false;
        qint64 size = request->getHeader(QStringLiteral("content-length")).trimmed().toLongLong(&isNumber);
        if (!isNumber || size < 0)
            size = 0;
        if (size > 0)
            row.sizeText = QString::number(size);

        if (aboveSizeLimit(size)) {
            request->cancel();
            row.state = DownloadState::Done;
            row.progressText = QStringLiteral("大文件，跳过");
            m_list.setItem(pos, row);
            result = true;
            break;
        }

        QString contentType = request->getHeader(QStringLiteral("Content-Type")).trimmed();
        if (contentType.contains(QLatin1Char(';')))
            contentType = contentType.section(QLatin1Char(';'), 0, 0).trimmed();
        const QString label = page ? QStringLiteral("htm") : fileTypeFromContentType(contentType);

        const QString folder = makeFolderPath(row.folder);
        if (folder.isEmpty()) {
            // Without a folder the file would land in the root folder.
            request->cancel();
            row.state = DownloadState::Failed;
            row.failReason = folderFailText(row.folder);
            m_list.setItem(pos, row);
            break;
        }
        row.folder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
        // A row downloading its own file again keeps its name: the new body
        // replaces that file once whole (the type check follows).
        if (!label.isEmpty() && !ownsItemFile(row))
            row.fileType = label;
        row.name = fitNameForType(row.name, row.fileType);

        const SameNamePolicy policy = page ? SameNamePolicy::Rename : savePolicyFor(row, m_host.sameNamePolicy());
        QString target;
        if (policy == SameNamePolicy::Rename) {
            QString name;
            target = renameForSavePath(row.folder, row.name, row.fileType, policy, &name);
            row.name = name;
        } else {
            target = itemFilePath(row);
        }

        if (policy == SameNamePolicy::Skip && nameInUse(target) && !QFileInfo(target).isDir()) {
            // The type the server gave leads to a file that is already
            // there: under the skip policy it is never touched.
            request->cancel();
            markSkipped(row, target);
            m_list.setItem(pos, row);
            result = true;
            break;
        }
        m_list.setItem(pos, row);

        temp = createTempBeside(target);
        if (temp.isEmpty()) {
            request->cancel();
            m_list.setFailed(pos, failReasonText(FailReason::NoTempFile));
            break;
        }

        if (size <= 0 && !page) {
            // No size: the body is fetched again in one piece.
            request->cancel();
            QFile::remove(temp);
            temp.clear();
            result = co_await fetchWholeBody(ref, target, options, policy);
            if (!self)
                co_return false;
            pos = ref.resolve(m_list);
            if (pos >= 0 && result && m_list.item(pos).state == DownloadState::Done
                && m_list.item(pos).progressText == QLatin1String("100%"))
                correctItemFileType(m_list, pos, m_host.sameNamePolicy());
            break;
        }

        // Chunk transfer: the body goes to the temporary file as it arrives.
        const QString sizeCell = size > 0 ? QString::number(size) : QStringLiteral("未知");
        m_list.setCells(pos, sizeCell, QStringLiteral("0"), row.progressText);
        if (!request->saveBodyTo(temp, SaveMode::Direct)) {
            request->cancel();
            m_list.setFailed(pos, failReasonText(FailReason::NoTempFile));
            break;
        }
        qint64 seen = 0;
        for (;;) {
            const bool ended = co_await request->waitForFinished(timings().transferPoll);
            if (!self)
                co_return false;
            pos = ref.resolve(m_list);
            if (pos < 0) {
                request->cancel();
                break;
            }
            const qint64 got = request->bytesRead();
            if (got > seen) {
                seen = got;
                lastProgress.restart();
                m_list.setCells(pos, sizeCell, QString::number(got), percentTextSingle(got, size));
            } else if (lastProgress.elapsed() > timings().transferStall.count()) {
                // Stalled: the part is not passed off as the file.
                request->cancel();
                m_list.setFailed(pos, failReasonText(FailReason::Stalled));
                break;
            }
            if (ended && request->succeeded() && fileLength(temp) >= size) {
                const PlaceResult placed = placeBody(temp, target, policy, pos);
                if (placed == PlaceResult::Taken) {
                    row = m_list.item(pos);
                    markSkipped(row, target);
                    m_list.setItem(pos, row);
                    result = true;
                    break;
                }
                if (placed != PlaceResult::Placed) {
                    m_list.setFailed(pos, placeFailText(placed));
                    break;
                }
                temp.clear();
                const qint64 length = fileLength(itemFilePath(m_list.item(pos)));
                if (size > 0)
                    m_list.setCells(pos, sizeCell, QString::number(length), percentTextSingle(length, size));
                else
                    m_list.setCells(pos, QString::number(length), QString::number(length), QStringLiteral("100%"));
                m_list.setState(pos, DownloadState::Done);
                result = true;
                if (!page)
                    correctItemFileType(m_list, pos, m_host.sameNamePolicy());
                break;
            }
            if (stopped() || request->failure() == TransferRequest::Failure::Cancelled) {
                // The stop command: cancel and leave no partial file behind.
                request->cancel();
                markCancelled(pos);
                break;
            }
            if (ended) {
                // Cut, stalled or unwritable before the announced length: the
                // cells keep their last values, the part goes.
                const QString why = transferFailureText(*request);
                m_list.setFailed(pos, why.isEmpty() ? failReasonText(FailReason::CutShort) : why);
                break;
            }
        }
    } while (false);

    if (request->stillExecuting())
        request->cancel();
    if (!temp.isEmpty())
        QFile::remove(temp);
    endStep(ref, result);
    co_return result;
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
    const PlaceResult r = placeDownloadedBody(temp, target, replace);
    if (r == PlaceResult::Placed)
        m_list.setOwnedFile(pos, target);
    return r;
}

void MethodOneTransfer::markSkipped(DownloadItem& row, const QString& existing)
{
    const QString length = QString::number(QFileInfo(existing).size());
    row.state = DownloadState::Done;
    row.sizeText = length;
    row.receivedText = length;
    row.progressText = QStringLiteral("已存在，跳过");
}

QCoro::Task<bool> MethodOneTransfer::fetchWholeBody(RowRef ref, QString target, TransferOptions options,
                                                    SameNamePolicy policy)
{
    QPointer<MethodOneTransfer> self(this);
    int pos = ref.resolve(m_list);
    if (pos < 0)
        co_return false;
    {
        const DownloadItem& row = m_list.item(pos);
        m_list.setCells(pos, QStringLiteral("未知"), row.receivedText, row.progressText);
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
            co_return false;
        if (fetch->overSizeLimit())
            break;
        bytes = fetch->finish(policy == SameNamePolicy::Overwrite);
        if (bytes > 0 || !fetch->targetTaken() || policy != SameNamePolicy::Rename)
            break;
        // The numbered name was taken meanwhile: the next free one, fetched again.
        pos = ref.resolve(m_list);
        if (pos < 0)
            co_return false;
        target = takeNextFreeName(pos, policy);
        fetch = std::make_unique<WholeBodyFetch>();
    }
    pos = ref.resolve(m_list);
    if (pos < 0)
        co_return false;
    if (fetch->overSizeLimit()) {
        // A body without a size is held to the limit as it arrives.
        m_list.setCells(pos, QString(), QString(), QStringLiteral("大文件，跳过"));
        m_list.setState(pos, DownloadState::Done);
        co_return true;
    }
    if (bytes <= 0 && fetch->targetTaken() && policy == SameNamePolicy::Skip) {
        DownloadItem row = m_list.item(pos);
        markSkipped(row, target);
        m_list.setItem(pos, row);
        co_return true;
    }
    if (bytes <= 0 && fetch->request() && fetch->request()->failure() == TransferRequest::Failure::Cancelled) {
        m_list.setCells(pos, QString(), QString(), QString());
        markCancelled(pos);
        co_return false;
    }
    if (bytes > 0) {
        m_list.setOwnedFile(pos, target);
        m_list.setCells(pos, QString::number(fileLength(target)), QString::number(bytes), QStringLiteral("100%"));
        m_list.setState(pos, DownloadState::Done);
        co_return true;
    }
    m_list.setCells(pos, QString(), QString(), QString());
    const QString why = fetch->pageRefused() ? failReasonText(FailReason::PageOverFile)
                        : fetch->request()   ? transferFailureText(*fetch->request())
                                             : failReasonText(FailReason::NoTempFile);
    m_list.setFailed(pos, why.isEmpty() ? failReasonText(FailReason::EmptyBody) : why);
    co_return false;
}

void MethodOneTransfer::markCancelled(int pos)
{
    const DownloadItem& now = m_list.item(pos);
    m_list.setCells(pos, now.sizeText, now.receivedText, QStringLiteral("下载取消"));
    m_list.setState(pos, DownloadState::Failed);
}

void MethodOneTransfer::endStep(const RowRef& ref, bool /*result*/)
{
    m_state.markTransferEvent();
    const int pos = ref.resolve(m_list);
    if (pos < 0)
        return;
    const DownloadItem& row = m_list.item(pos);
    m_host.setStatusText(2, QStringLiteral("完成下载:") + row.name);
    if (isWebPage(row.fileType))
        m_host.cue(CueWebPage);
    if (m_list.item(pos).state == DownloadState::Failed)
        m_host.cue(CueTransferFailed);
    m_host.transferEnded(pos);
}

} // namespace dh
