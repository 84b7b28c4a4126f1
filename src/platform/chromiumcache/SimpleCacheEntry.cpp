#include "platform/chromiumcache/SimpleCacheEntry.h"

#include "app/Helpers.h"
#include "content/ContentType.h"
#include "html/Document.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

namespace dh::simplecache {

namespace {

constexpr quint32 kMaxKeyLength = 1 << 20;
// Bit of the pickled response info marking a response cut off while cached.
constexpr quint32 kResponseTruncated = 1u << 12;
// Microseconds between 1601-01-01 and 1970-01-01.
constexpr qint64 kEngineEpochOffset = 11644473600LL * 1000000LL;

// Opens path for reading only when it is a regular file, not a link: a pipe
// would block the first read for ever, a link could lead anywhere. Without
// blocking, a pipe opens at once and is then told apart by its type.
// *notRegular says why a thing that is there was refused.
bool openRegular(QFile& f, const QString& path, bool* notRegular = nullptr)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        if (notRegular)
            *notRegular = ::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QDateTime utcTime(const timespec& t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000, Qt::UTC);
}

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

std::optional<QByteArray> readAt(QFile& f, qint64 pos, qint64 len)
{
    if (pos < 0 || len < 0 || pos + len > f.size() || !f.seek(pos))
        return std::nullopt;
    QByteArray b = f.read(len);
    if (b.size() != len)
        return std::nullopt;
    return b;
}

// Reads pieces of an entry file, serving them from one read of its start and
// one of its end where they fall there: listing then costs two reads a file.
class PieceReader {
public:
    explicit PieceReader(QFile& f) : m_f(f), m_size(f.size())
    {
        constexpr qint64 kHead = 4096, kTail = 16384;
        if (m_size <= kTail) {
            m_head = m_tail = readAt(f, 0, m_size).value_or(QByteArray());
        } else {
            m_head = readAt(f, 0, kHead).value_or(QByteArray());
            m_tailAt = m_size - kTail;
            m_tail = readAt(f, m_tailAt, kTail).value_or(QByteArray());
        }
    }
    std::optional<QByteArray> operator()(qint64 pos, qint64 len) const
    {
        if (pos < 0 || len < 0 || pos + len > m_size)
            return std::nullopt;
        if (pos + len <= m_head.size())
            return m_head.mid(pos, len);
        if (pos >= m_tailAt && pos + len <= m_tailAt + m_tail.size())
            return m_tail.mid(pos - m_tailAt, len);
        return readAt(m_f, pos, len);
    }

private:
    QFile& m_f;
    qint64 m_size;
    QByteArray m_head;
    qint64 m_tailAt = 0;
    QByteArray m_tail;
};

struct Eof {
    quint32 flags = 0;
    quint32 crc = 0;
    quint32 streamSize = 0;
};

std::optional<Eof> parseEof(const QByteArray& b)
{
    if (b.size() < kEofSize || qFromLittleEndian<quint64>(b.constData()) != kFinalMagic)
        return std::nullopt;
    Eof e;
    e.flags = qFromLittleEndian<quint32>(b.constData() + 8);
    e.crc = qFromLittleEndian<quint32>(b.constData() + 12);
    e.streamSize = qFromLittleEndian<quint32>(b.constData() + 16);
    return e;
}

quint32 crcOf(const QByteArray& b)
{
    return static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size())));
}

void splitHeaderBlock(const QByteArray& block, int at, EntryFile& e)
{
    while (at < block.size()) {
        int end = block.indexOf('\0', at);
        if (end < 0)
            end = block.size();
        const QByteArray line = block.mid(at, end - at);
        if (line.isEmpty())
            break;
        e.headerLines << line;
        at = end + 1;
    }
}

// The pickled response info: payload size, flags (with a second flags word
// on newer engines), request and response times (and an original response
// time when the second word says so), then the raw header block as a
// length-prefixed string of NUL-separated lines. When the fields do not line
// up (a layout not known here) the header block is found by its "HTTP/" start.
void parseResponseInfo(const QByteArray& s0, EntryFile& e)
{
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(s0.constData() + at); };
    auto i64 = [&](qsizetype at) { return qFromLittleEndian<qint64>(s0.constData() + at); };
    bool parsed = false;
    if (s0.size() >= 8) {
        const quint32 flags = u32(4);
        const quint32 version = flags & 0xff;
        if (version >= 1 && version <= 3)
            e.truncated = (flags & kResponseTruncated) != 0;
        qsizetype at = 8;
        quint32 extra = 0;
        if ((flags & kInfoHasExtraFlags) && s0.size() >= at + 4) {
            extra = u32(at);
            at += 4;
        }
        if (s0.size() >= at + 16) {
            e.requestTime = fromEngineTime(i64(at));
            e.responseTime = fromEngineTime(i64(at + 8));
            at += 16;
            if (extra & kExtraHasOriginalResponseTime)
                at += 8;
            if (s0.size() >= at + 4) {
                const quint32 len = u32(at);
                if (len > 0 && at + 4 + qsizetype(len) <= s0.size() && s0.mid(at + 4, 5) == "HTTP/") {
                    splitHeaderBlock(s0.left(at + 4 + len), int(at + 4), e);
                    parsed = true;
                }
            }
        }
    }
    if (!parsed) {
        const int at = s0.indexOf("HTTP/");
        if (at >= 0)
            splitHeaderBlock(s0, at, e);
    }
    if (e.headerLines.isEmpty())
        return;
    const QList<QByteArray> status = e.headerLines.first().split(' ');
    if (status.size() >= 2) {
        bool ok = false;
        const int code = status.at(1).toInt(&ok);
        if (ok)
            e.httpStatus = code;
    }
    for (int i = 1; i < e.headerLines.size(); ++i) {
        const QByteArray& l = e.headerLines.at(i);
        const int colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = l.left(colon).trimmed().toLower();
        const QString value = QString::fromLatin1(l.mid(colon + 1).trimmed());
        if (name == "content-type")
            e.contentType = value;
        else if (name == "content-encoding")
            e.contentEncoding = value.toLower();
    }
}

} // namespace

// A regular file of its own, not a link to one.
bool isPlainFile(const QFileInfo& fi)
{
    return fi.isFile() && !fi.isSymLink();
}

QDateTime fromEngineTime(qint64 value)
{
    // Only plausible times: 1990 to 2200.
    const qint64 unixUs = value - kEngineEpochOffset;
    if (unixUs < 631152000LL * 1000000LL || unixUs > 7258118400LL * 1000000LL)
        return {};
    return QDateTime::fromMSecsSinceEpoch(unixUs / 1000, Qt::UTC);
}

namespace {
// The length of a key's "N/N/" prefix, 0 without one (read for every entry
// listed, so by hand rather than by pattern).
qsizetype keyPrefixLength(const QString& k)
{
    qsizetype at = 0;
    for (int part = 0; part < 2; ++part) {
        const qsizetype digits = at;
        while (at < k.size() && k[at].isDigit() && k[at].unicode() < 128)
            ++at;
        if (at == digits || at >= k.size() || k[at] != QLatin1Char('/'))
            return 0;
        ++at;
    }
    return at;
}
} // namespace

QString urlFromKey(const QByteArray& key)
{
    const QString k = QString::fromUtf8(key);
    const int space = k.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        return k.mid(space + 1);
    return k.mid(keyPrefixLength(k));
}

QString siteFromKey(const QByteArray& key)
{
    // "1/0/_dk_<top-frame site> <frame site> <url>", with variants such as
    // "_dk_s_" or "_cn_" markers before the first site.
    QString k = QString::fromUtf8(key);
    k = k.mid(keyPrefixLength(k));
    const int space = k.indexOf(QLatin1Char(' '));
    if (space < 0)
        return {};
    QString first = k.left(space);
    static const QRegularExpression marker(QStringLiteral("^(_[a-z]+_)+"));
    const QRegularExpressionMatch mk = marker.match(first);
    if (!mk.hasMatch())
        return {};
    return first.mid(mk.capturedLength());
}

QString entryHashOfKey(const QByteArray& key)
{
    const QByteArray sha = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const quint64 v = qFromLittleEndian<quint64>(sha.constData());
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

std::optional<EntryFile> readEntryFile(const QString& path, QString* error)
{
    QFile f;
    bool notRegular = false;
    if (!openRegular(f, path, &notRegular)) {
        if (!notRegular) {
            fail(error, QStringLiteral("cannot open"));
            return std::nullopt;
        }
        // Shown, so that the user sees it and can delete it, but never read.
        EntryFile e;
        e.path = path;
        e.url = QFileInfo(path).fileName();
        e.hash = e.url.left(16);
        e.damage = QStringLiteral("不是普通文件（链接、管道或设备），不读取");
        fail(error, e.damage);
        return e;
    }
    const qint64 size = f.size();
    const PieceReader piece(f);
    const auto header = piece(0, kHeaderSize);
    if (!header || qFromLittleEndian<quint64>(header->constData()) != kInitialMagic) {
        fail(error, QStringLiteral("no entry header"));
        return std::nullopt;
    }
    const quint32 keyLength = qFromLittleEndian<quint32>(header->constData() + 12);
    const auto key = keyLength == 0 || keyLength > kMaxKeyLength ? std::nullopt : piece(kHeaderSize, keyLength);
    if (!key) {
        fail(error, QStringLiteral("bad key length"));
        return std::nullopt;
    }
    // The times from the open file, in UTC: local times would consult the
    // time zone files for every entry.
    struct stat st {};
    ::fstat(f.handle(), &st);
    EntryFile e;
    e.path = path;
    e.hash = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).left(16);
    e.key = *key;
    e.url = urlFromKey(*key);
    e.site = siteFromKey(*key);
    e.fileModified = utcTime(st.st_mtim);
    e.modified = e.fileModified;
    e.accessed = st.st_atim.tv_sec > 0 ? utcTime(st.st_atim) : e.modified;
    // The first failed check is the reason shown.
    auto damaged = [&](const QString& why) {
        if (e.damage.isEmpty())
            e.damage = why;
        fail(error, why);
        return e;
    };

    if (entryHashOfKey(*key) != e.hash)
        damaged(QStringLiteral("文件名不是键的散列（键或文件名已损坏）"));
    const qint64 bodyOffset = kHeaderSize + keyLength;
    if (bodyOffset + 2 * kEofSize > size)
        return damaged(QStringLiteral("文件不完整：缺少结束记录"));
    const auto eof0Bytes = piece(size - kEofSize, kEofSize);
    const auto eof0 = eof0Bytes ? parseEof(*eof0Bytes) : std::nullopt;
    if (!eof0)
        return damaged(QStringLiteral("文件不完整：缺少响应信息的结束记录"));
    const qint64 shaSize = (eof0->flags & kFlagHasKeySha256) ? 32 : 0;
    const qint64 stream0End = size - kEofSize - shaSize;
    const qint64 stream0Start = stream0End - eof0->streamSize;
    const qint64 eof1Pos = stream0Start - kEofSize;
    if (eof1Pos < bodyOffset)
        return damaged(QStringLiteral("流长度与文件大小不符"));
    const auto eof1Bytes = piece(eof1Pos, kEofSize);
    const auto eof1 = eof1Bytes ? parseEof(*eof1Bytes) : std::nullopt;
    if (!eof1)
        return damaged(QStringLiteral("正文的结束记录已损坏"));
    const auto stream0 = piece(stream0Start, eof0->streamSize);
    if (!stream0)
        return damaged(QStringLiteral("无法读取响应信息"));
    e.bodyOffset = bodyOffset;
    e.bodySize = eof1Pos - bodyOffset;
    e.bodyHasCrc = (eof1->flags & kFlagHasCrc32) != 0;
    e.bodyCrc = eof1->crc;
    parseResponseInfo(*stream0, e);
    if (e.responseTime.isValid())
        e.modified = e.responseTime;

    if (e.damage.isEmpty() && shaSize) {
        const auto sha = piece(stream0End, 32);
        if (!sha || *sha != QCryptographicHash::hash(*key, QCryptographicHash::Sha256))
            damaged(QStringLiteral("键的SHA-256不符"));
    }
    if (e.damage.isEmpty() && (eof0->flags & kFlagHasCrc32) && crcOf(*stream0) != eof0->crc)
        damaged(QStringLiteral("响应信息的校验和(CRC32)不符"));
    // The engine records each stream's length in its end record; a body
    // whose place in the file says otherwise was cut or shifted.
    if (e.damage.isEmpty() && eof1->streamSize != 0 && qint64(eof1->streamSize) != e.bodySize)
        damaged(QStringLiteral("正文长度与结束记录不符"));
    return e;
}

bool streamBody(EntryFile& e, const std::function<bool(const char*, size_t)>& sink, const std::atomic<bool>* cancel)
{
    if (!e.damage.isEmpty())
        return false;
    QFile f;
    if (!openRegular(f, e.path) || f.size() < e.bodyOffset + e.bodySize || !f.seek(e.bodyOffset)) {
        e.damage = QStringLiteral("无法读取正文");
        return false;
    }
    uLong crc = crc32(0, nullptr, 0);
    qint64 left = e.bodySize;
    QByteArray buf;
    while (left > 0) {
        if (cancel && *cancel)
            return false;
        buf = f.read(std::min<qint64>(left, 1 << 20));
        if (buf.isEmpty()) {
            e.damage = QStringLiteral("无法读取正文");
            return false;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buf.constData()), static_cast<uInt>(buf.size()));
        left -= buf.size();
        if (sink && !sink(buf.constData(), size_t(buf.size())))
            return false;
    }
    if (e.bodyHasCrc && static_cast<quint32>(crc) != e.bodyCrc) {
        e.damage = QStringLiteral("正文的校验和(CRC32)不符");
        return false;
    }
    return true;
}

bool checkBody(EntryFile& e, const std::atomic<bool>* cancel)
{
    return streamBody(e, {}, cancel);
}

std::optional<QByteArray> readRawBody(const EntryFile& e)
{
    QFile f;
    if (!openRegular(f, e.path))
        return std::nullopt;
    return readAt(f, e.bodyOffset, e.bodySize);
}

Decoded readBody(EntryFile& e)
{
    if (!e.damage.isEmpty())
        return {std::nullopt, e.damage};
    auto raw = readRawBody(e);
    if (!raw) {
        e.damage = QStringLiteral("无法读取正文");
        return {std::nullopt, e.damage};
    }
    if (e.bodyHasCrc && crcOf(*raw) != e.bodyCrc) {
        e.damage = QStringLiteral("正文的校验和(CRC32)不符");
        return {std::nullopt, e.damage};
    }
    return decodeBody(*raw, e.contentEncoding);
}

} // namespace dh::simplecache
