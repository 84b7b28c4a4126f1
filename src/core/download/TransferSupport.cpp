#include "download/TransferSupport.h"

#include "app/AppGlobals.h"
#include "app/Helpers.h"
#include "content/FileTypeDetection.h"
#include "net/NetworkErrorText.h"
#include "download/DownloadWindowState.h"
#include "download/Naming.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace dh {

int RowRef::resolve(const DownloadListModel& list) const
{
    if (position >= 0 && position < list.size() && list.item(position).url == url)
        return position;
    return list.findUrl(url);
}

int percentOf(qint64 read, qint64 total)
{
    if (total <= 0)
        return -1;
    return int(std::floor(double(read) / double(total) * 100.0));
}

int percentOfSingle(qint64 read, qint64 total)
{
    if (total <= 0)
        return -1;
    return int(std::floor(float(read) / float(total) * 100.0f));
}

bool aboveSizeLimit(qint64 bytes)
{
    return double(bytes) / 1024.0 / 1024.0 > double(globals().maxFileSizeMB);
}

qint64 fileLength(const QString& path)
{
    const QFileInfo fi(path);
    return fi.isFile() ? fi.size() : 0;
}

namespace {
const char kPlaceholder[2] = {0x01, 0x00};
} // namespace

bool writePlaceholder(const QString& path, OwnedFile* identity)
{
    // O_EXCL with O_NOFOLLOW: never through a link, never over anything.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, kPlaceholder, 2) == 2;
    struct stat st {};
    if (ok && identity)
        ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(QFile::encodeName(path).constData());
        return false;
    }
    if (identity)
        *identity = identifyFile(path, st);
    return true;
}

namespace {

// Whether the entry lstat described at path holds exactly the placeholder's bytes.
bool holdsPlaceholder(const QString& path, const struct stat& st)
{
    if (!S_ISREG(st.st_mode) || st.st_size != 2)
        return false;
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(3) == QByteArray(kPlaceholder, 2);
}

} // namespace

bool isPlaceholder(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && holdsPlaceholder(path, st);
}

bool removePlaceholder(const QString& path)
{
    return isPlaceholder(path) && QFile::remove(path);
}

namespace {

// Wall-clock time when the program started; anything of ours is newer. A
// margin allows for file systems whose time stamps lag the clock.
const qint64 kProgramStartNs = [] {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}();
constexpr qint64 kStampMarginNs = qint64(2) * 1000000000;

bool olderThanProgram(const struct stat& st)
{
    const qint64 mtime = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return mtime < kProgramStartNs - kStampMarginNs;
}

} // namespace

bool SparePlaceholders::stillOurs(const Spare& spare)
{
    // The name is ours and hidden, but a file is only moved or removed when
    // it is the very placeholder that was left there.
    struct stat st {};
    return ::lstat(QFile::encodeName(spare.path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 2
        && quint64(st.st_dev) == spare.device && quint64(st.st_ino) == spare.inode;
}

SparePlaceholders::Take SparePlaceholders::take(const QString& target, OwnedFile* identity)
{
    const QString folder = QFileInfo(target).absolutePath();
    const auto it = std::find_if(m_spares.begin(), m_spares.end(), [&](const Spare& s) { return s.folder == folder; });
    if (it == m_spares.end())
        return Take::NoSpare;
    const Spare spare = *it;
    m_spares.erase(it);
    if (!stillOurs(spare))
        return Take::NoSpare;  // not ours any more: left alone
    if (::renameat2(AT_FDCWD, QFile::encodeName(spare.path).constData(), AT_FDCWD,
                    QFile::encodeName(target).constData(), RENAME_NOREPLACE)
        != 0) {
        if (errno == EEXIST) {
            m_spares.push_back(spare);
            return Take::NameTaken;
        }
        ::unlink(QFile::encodeName(spare.path).constData());
        return Take::NoSpare;
    }
    // The move changed its status time, part of its identity.
    const OwnedFile now = identifyFile(target);
    if (identity)
        *identity = now;
    return now.isSet() ? Take::Taken : Take::NoSpare;
}

void SparePlaceholders::give(const QString& path, const OwnedFile& file)
{
    Spare spare{path, QFileInfo(path).absolutePath(), file.device, file.inode};
    // One per transfer that may run at once is all that is ever taken.
    if (m_spares.size() >= 16) {
        if (stillOurs(spare))
            ::unlink(QFile::encodeName(path).constData());
        return;
    }
    m_spares.push_back(std::move(spare));
}

void SparePlaceholders::clear()
{
    for (const Spare& spare : m_spares) {
        if (stillOurs(spare))
            ::unlink(QFile::encodeName(spare.path).constData());
    }
    m_spares.clear();
}

bool isStalePlaceholder(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && isStalePlaceholder(path, st);
}

bool isStalePlaceholder(const QString& path, const struct ::stat& st)
{
    return olderThanProgram(st) && holdsPlaceholder(path, st);
}

QString runFolderPath(DownloadWindowState& state, const QString& folder)
{
    if (const auto made = state.madeFolders.constFind(folder); made != state.madeFolders.cend())
        return *made;
    const QString path = makeFolderPath(folder);
    if (!path.isEmpty())
        state.madeFolders.insert(folder, path);
    return path;
}

int removeStaleTemporaries(const DownloadListModel& list)
{
    static QSet<QString> looked;
    QSet<QString> folders;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& row = list.item(i);
        if (row.state == DownloadState::Waiting && !row.folder.isEmpty() && !looked.contains(row.folder))
            folders.insert(row.folder);
    }
    int removed = 0;
    for (const QString& folder : std::as_const(folders)) {
        looked.insert(folder);
        // A typed folder may start with "~" for the home folder.
        const bool home = folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/"));
        const QDir dir(home ? QDir::homePath() + folder.mid(1) : folder);
        const QStringList parts =
            dir.entryList({QStringLiteral(".dh-*.part")}, QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : parts) {
            const QByteArray path = QFile::encodeName(dir.filePath(name));
            struct stat st {};
            if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && olderThanProgram(st)
                && ::unlink(path.constData()) == 0)
                ++removed;
        }
    }
    return removed;
}

PlaceResult placeDownloadedBody(const QString& temp, const QString& target, bool replace, const OwnedFile* ours,
                                OwnedFile* placed, bool* swapped)
{
    PlaceResult result = PlaceResult::Failed;
    if (swapped)
        *swapped = false;
    if (replace) {
        // One look at the target decides both whether a page may replace it
        // and which permissions the new file keeps.
        unsigned mode = newFileMode();
        bool oursThere = false;
        struct stat st {};
        if (::lstat(QFile::encodeName(target).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            mode = st.st_mode & 07777;
            oursThere = ours && isSameFile(*ours, st);
            const bool completeFile = !oursThere && !holdsPlaceholder(target, st);
            const auto page = [](const QString& path) { return identifyFileType(path) == QLatin1String("htm"); };
            if (completeFile && page(temp) && !page(target))
                return PlaceResult::PageRefused;
        }
        if (swapped && oursThere) {
            const QByteArray from = QFile::encodeName(temp);
            if (mode != newFileMode())
                ::chmod(from.constData(), mode_t(mode));
            const QByteArray to = QFile::encodeName(target);
            if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
                // What came out must be the placeholder looked at a moment
                // ago; a file put there since goes back where it was.
                struct stat out {};
                if (::lstat(from.constData(), &out) == 0 && S_ISREG(out.st_mode)
                    && quint64(out.st_dev) == ours->device && quint64(out.st_ino) == ours->inode) {
                    *swapped = true;
                    result = PlaceResult::Placed;
                } else if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
                    return PlaceResult::Failed;
                } else {
                    // It could not go back: the body stays placed, and that
                    // file stays untouched under the temporary name.
                    result = PlaceResult::Placed;
                }
            }
            // A file system without the exchange: the plain move below.
        }
        if (result != PlaceResult::Placed)
            result = moveIntoPlace(temp, target, true, mode);
    } else {
        result = moveIntoPlace(temp, target, false);
    }
    if (result == PlaceResult::Placed && placed)
        *placed = identifyFile(target);
    return result;
}

bool isDownloadableAddress(const QString& address)
{
    const QString scheme = QUrl(trimSpaces(address)).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QString unsupportedAddressText()
{
    return QStringLiteral("不支持的网址");
}

QString failReasonText(FailReason reason)
{
    switch (reason) {
    case FailReason::NoResponse: return QStringLiteral("服务器没有响应");
    case FailReason::Stalled: return QStringLiteral("传输停顿超时");
    case FailReason::NoTempFile: return QStringLiteral("无法在保存文件夹中创建临时文件");
    case FailReason::NotPlaced: return QStringLiteral("无法把文件放到保存位置");
    case FailReason::EmptyBody: return QStringLiteral("服务器没有给出文件内容");
    case FailReason::CutShort: return QStringLiteral("连接在文件完整之前中断");
    case FailReason::TooSlow: return QStringLiteral("传输过慢");
    case FailReason::Encoded: return QStringLiteral("不支持的内容编码");
    case FailReason::PageOverFile: return QStringLiteral("得到的是网页，不替换已有的完整文件");
    }
    return {};
}

FailCode failCodeOf(FailReason reason)
{
    switch (reason) {
    case FailReason::NoResponse: return FailCode::NoResponse;
    case FailReason::Stalled: return FailCode::Stalled;
    case FailReason::NoTempFile:
    case FailReason::NotPlaced: return FailCode::Local;
    case FailReason::EmptyBody: return FailCode::EmptyBody;
    case FailReason::CutShort: return FailCode::CutShort;
    case FailReason::TooSlow: return FailCode::TooSlow;
    case FailReason::Encoded: return FailCode::Encoded;
    case FailReason::PageOverFile: return FailCode::PageOverFile;
    }
    return FailCode::Local;
}

FailCode failCodeOf(const TransferRequest& request)
{
    if (request.failure() != TransferRequest::Failure::Cancelled && request.httpStatus() >= 400)
        return FailCode::Http;
    switch (request.failure()) {
    case TransferRequest::Failure::None: return FailCode::None;
    case TransferRequest::Failure::Cancelled: return FailCode::Cancelled;
    case TransferRequest::Failure::NoResponse: return FailCode::NoResponse;
    case TransferRequest::Failure::Stalled: return FailCode::Stalled;
    case TransferRequest::Failure::Network: return FailCode::Network;
    case TransferRequest::Failure::DiskWrite: return FailCode::DiskWrite;
    case TransferRequest::Failure::TooSlow: return FailCode::TooSlow;
    case TransferRequest::Failure::Encoded: return FailCode::Encoded;
    case TransferRequest::Failure::Tls: return FailCode::Tls;
    }
    return FailCode::Network;
}

QString placeFailText(PlaceResult result)
{
    return failReasonText(result == PlaceResult::PageRefused ? FailReason::PageOverFile : FailReason::NotPlaced);
}

QString folderFailText(const QString& folder)
{
    return QStringLiteral("无法创建文件夹：") + folder;
}

QString transferFailureText(const TransferRequest& request)
{
    // The detail after the last ": " (a file's path before it is that of the
    // hidden temporary file, no use to the user).
    const QString info = request.responseInfo();
    const QString detail = info.section(QStringLiteral(": "), -1).trimmed();
    // The server's own word on an error answer says more than whatever
    // happened to its body afterwards; a cancel is still a cancel.
    if (request.failure() != TransferRequest::Failure::Cancelled && request.httpStatus() >= 400)
        return httpErrorText(request.httpStatus());
    switch (request.failure()) {
    case TransferRequest::Failure::None: return {};
    case TransferRequest::Failure::Cancelled: return QStringLiteral("下载取消");
    case TransferRequest::Failure::TooSlow: return failReasonText(FailReason::TooSlow);
    case TransferRequest::Failure::Encoded:
        return failReasonText(FailReason::Encoded) + QStringLiteral("：") + info;
    case TransferRequest::Failure::NoResponse: return failReasonText(FailReason::NoResponse);
    case TransferRequest::Failure::Stalled: return failReasonText(FailReason::Stalled);
    case TransferRequest::Failure::DiskWrite:
        return detail.isEmpty() ? QStringLiteral("无法写入文件") : QStringLiteral("无法写入文件：") + detail;
    case TransferRequest::Failure::Tls:
        return info.isEmpty() ? QStringLiteral("安全连接被拒绝") : QStringLiteral("安全连接被拒绝：") + info;
    case TransferRequest::Failure::Network: return describeNetworkError(info).text();
    }
    return {};
}

HttpAnswer httpAnswerOf(const TransferRequest& request)
{
    const int status = request.httpStatus();
    if (status < 400)
        return HttpAnswer::Document;
    if (status == 401 || status == 403) {
        const QString type =
            request.getHeader(QStringLiteral("Content-Type")).section(QLatin1Char(';'), 0, 0).trimmed().toLower();
        if (type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml"))
            return HttpAnswer::Page;
    }
    return HttpAnswer::Error;
}

QString httpErrorText(int status)
{
    return QStringLiteral("服务器错误：HTTP %1").arg(status);
}

QString placePageBody(const QString& temp, const QString& folder, const QString& name, QString* outName)
{
    const QString type = QStringLiteral("htm");
    // A name taken between the choice and the move: the next number.
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString chosen;
        const QString target = renameForSavePath(folder, fitNameForType(name, type), type, SameNamePolicy::Rename,
                                                 &chosen);
        const PlaceResult r = moveIntoPlace(temp, target, false);
        if (r == PlaceResult::Placed) {
            *outName = chosen;
            return target;
        }
        if (r == PlaceResult::Failed)
            break;
    }
    return {};
}

void markPageRow(DownloadListModel& list, int pos, const QString& path, const QString& name)
{
    DownloadItem row = list.item(pos);
    row.name = name;
    row.fileType = QStringLiteral("htm");
    list.setItem(pos, row);
    list.setOwnedFile(pos, path);
    const qint64 length = fileLength(path);
    list.setProgress(pos, length, length, 100);
    list.setState(pos, DownloadState::Done);
}

WholeBodyFetch::~WholeBodyFetch()
{
    // The request goes first: it may still hold the temporary file open.
    m_request.reset();
    discardTemp();
}

bool WholeBodyFetch::start(const QString& url, const TransferOptions& options, const QString& target)
{
    m_temp = createTempBeside(target);
    if (m_temp.isEmpty())
        return false;
    m_target = QFileInfo(target).absoluteFilePath();
    m_request = transferEngine().execute(url, options);
    if (!m_request->saveBodyTo(m_temp, SaveMode::Direct)) {
        m_request.reset();
        discardTemp();
        return false;
    }
    return true;
}

void WholeBodyFetch::watchSizeLimit()
{
    if (!m_request)
        return;
    QObject::connect(m_request.get(), &TransferRequest::progress, m_request.get(), [this](qint64 read, qint64) {
        if (!m_overLimit && receivedAboveSizeLimit(read) && m_request->stillExecuting()) {
            m_overLimit = true;
            m_request->cancel();
        }
    });
}

qint64 WholeBodyFetch::finish(bool replace)
{
    m_taken = false;
    // The request stays: the caller may be inside one of its signals.
    if (!m_request || m_request->stillExecuting() || !m_request->succeeded() || m_temp.isEmpty()
        || httpAnswerOf(*m_request) != HttpAnswer::Document) {
        if (m_request && m_request->stillExecuting())
            m_request->cancel();
        discardTemp();
        return -1;
    }
    const qint64 bytes = fileLength(m_temp);
    if (bytes <= 0) {
        discardTemp();
        return -1;
    }
    const PlaceResult placed = placeDownloadedBody(m_temp, m_target, replace, nullptr, &m_placed);
    if (placed != PlaceResult::Placed) {
        m_taken = placed == PlaceResult::Taken;
        m_pageRefused = placed == PlaceResult::PageRefused;
        discardTemp();
        return -1;
    }
    m_temp.clear();
    return bytes;
}

void WholeBodyFetch::discardTemp()
{
    if (!m_temp.isEmpty())
        QFile::remove(m_temp);
    m_temp.clear();
}

QByteArray resumeHeaderLines(const PartialBody& partial)
{
    return QByteArrayLiteral("Range: bytes=") + QByteArray::number(partial.bytes) + QByteArrayLiteral("-\r\nIf-Range: ")
        + partial.validator.toLatin1() + QByteArrayLiteral("\r\n");
}

bool answerContinues(const TransferRequest& request, const PartialBody& partial)
{
    if (request.httpStatus() != 206)
        return false;
    // "bytes 600-999/1000": from the first byte not kept to the last of the same whole.
    static const QRegularExpression range(QStringLiteral("^bytes\\s+(\\d+)-(\\d+)/(\\d+)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const auto m = range.match(request.getHeader(QStringLiteral("Content-Range")).trimmed());
    return m.hasMatch() && m.captured(1).toLongLong() == partial.bytes && m.captured(3).toLongLong() == partial.total
        && m.captured(2).toLongLong() == partial.total - 1;
}

PartialBody resumableBody(const TransferRequest& request, const QString& temp, qint64 total)
{
    const int status = request.httpStatus();
    if (temp.isEmpty() || (status != 200 && status != 206) || total <= 0)
        return {};
    const bool ranges = status == 206
        || request.getHeader(QStringLiteral("Accept-Ranges")).trimmed().compare(QLatin1String("bytes"),
                                                                                Qt::CaseInsensitive) == 0;
    // If-Range compares strongly: a weak ETag cannot name the bytes.
    QString validator = request.getHeader(QStringLiteral("ETag")).trimmed();
    if (validator.startsWith(QLatin1String("W/")))
        validator.clear();
    if (validator.isEmpty())
        validator = request.getHeader(QStringLiteral("Last-Modified")).trimmed();
    // Sent back as a header line: printable ASCII only.
    const bool printable = std::all_of(validator.cbegin(), validator.cend(),
                                       [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
    const qint64 have = fileLength(temp);
    if (!ranges || validator.isEmpty() || !printable || have <= 0 || have >= total)
        return {};
    return PartialBody{temp, validator, have, total, have};
}

} // namespace dh
