#include "platform/chromiumcache/SimpleCache.h"

#include "app/Helpers.h"
#include "content/ContentType.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>
#include <QtEndian>

#include <brotli/decode.h>
#include <zlib.h>

namespace dh {
namespace simplecache {

namespace {

// Decoded bodies larger than this are refused: a cache entry that inflates
// beyond it is not a document worth extracting.
constexpr qint64 kMaxDecoded = qint64(1) << 30;
constexpr quint32 kMaxKeyLength = 1 << 20;
// Bit of the pickled response info marking a response cut off while cached.
constexpr quint32 kResponseTruncated = 1u << 12;

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

// The raw header block inside the pickled response info: NUL-separated lines
// from the status line to an empty line. Found by its "HTTP/" start so that
// changes in the fields before it do not matter.
void parseHeaders(const QByteArray& stream0, EntryFile& e)
{
    if (stream0.size() >= 8) {
        const quint32 flags = qFromLittleEndian<quint32>(stream0.constData() + 4);
        const quint32 version = flags & 0xff;
        if (version >= 1 && version <= 3)
            e.truncated = (flags & kResponseTruncated) != 0;
    }
    int at = stream0.indexOf("HTTP/");
    if (at < 0)
        return;
    while (at < stream0.size()) {
        const int end = stream0.indexOf('\0', at);
        if (end < 0)
            break;
        const QByteArray line = stream0.mid(at, end - at);
        if (line.isEmpty())
            break;
        e.headerLines << line;
        at = end + 1;
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

std::optional<QByteArray> zlibInflate(const QByteArray& data, int windowBits)
{
    z_stream s{};
    if (inflateInit2(&s, windowBits) != Z_OK)
        return std::nullopt;
    QByteArray out;
    char buf[64 * 1024];
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = static_cast<uInt>(data.size());
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        s.next_out = reinterpret_cast<Bytef*>(buf);
        s.avail_out = sizeof buf;
        rc = inflate(&s, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            inflateEnd(&s);
            return std::nullopt;
        }
        out.append(buf, static_cast<qsizetype>(sizeof buf - s.avail_out));
        if (out.size() > kMaxDecoded || (rc == Z_OK && s.avail_in == 0 && s.avail_out != 0)) {
            // Too large, or the input ended before the stream did.
            inflateEnd(&s);
            return std::nullopt;
        }
    }
    inflateEnd(&s);
    return out;
}

} // namespace

std::optional<QByteArray> gunzip(const QByteArray& data)
{
    return zlibInflate(data, 15 + 32);
}

std::optional<QByteArray> inflateRaw(const QByteArray& data)
{
    return zlibInflate(data, -15);
}

std::optional<QByteArray> brotliDecode(const QByteArray& data)
{
    BrotliDecoderState* st = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    if (!st)
        return std::nullopt;
    QByteArray out;
    size_t availIn = static_cast<size_t>(data.size());
    const uint8_t* nextIn = reinterpret_cast<const uint8_t*>(data.constData());
    uint8_t buf[64 * 1024];
    BrotliDecoderResult r = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (r == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) {
        size_t availOut = sizeof buf;
        uint8_t* nextOut = buf;
        r = BrotliDecoderDecompressStream(st, &availIn, &nextIn, &availOut, &nextOut, nullptr);
        out.append(reinterpret_cast<const char*>(buf), static_cast<qsizetype>(sizeof buf - availOut));
        if (out.size() > kMaxDecoded)
            break;
    }
    BrotliDecoderDestroyInstance(st);
    if (r != BROTLI_DECODER_RESULT_SUCCESS)
        return std::nullopt;
    return out;
}

QString urlFromKey(const QByteArray& key)
{
    const QString k = QString::fromUtf8(key);
    const int space = k.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        return k.mid(space + 1);
    static const QRegularExpression prefix(QStringLiteral("^\\d+/\\d+/"));
    const QRegularExpressionMatch m = prefix.match(k);
    return m.hasMatch() ? k.mid(m.capturedLength()) : k;
}

QString entryHashOfKey(const QByteArray& key)
{
    const QByteArray sha = QCryptographicHash::hash(key, QCryptographicHash::Sha1);
    const quint64 v = qFromLittleEndian<quint64>(sha.constData());
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

std::optional<EntryFile> readEntryFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("cannot open"));
        return std::nullopt;
    }
    const qint64 size = f.size();
    const auto header = readAt(f, 0, kHeaderSize);
    if (!header || qFromLittleEndian<quint64>(header->constData()) != kInitialMagic) {
        fail(error, QStringLiteral("no entry header"));
        return std::nullopt;
    }
    const quint32 keyLength = qFromLittleEndian<quint32>(header->constData() + 12);
    if (keyLength == 0 || keyLength > kMaxKeyLength || kHeaderSize + qint64(keyLength) + 2 * kEofSize > size) {
        fail(error, QStringLiteral("bad key length"));
        return std::nullopt;
    }
    const auto key = readAt(f, kHeaderSize, keyLength);
    const auto eof0Bytes = readAt(f, size - kEofSize, kEofSize);
    const auto eof0 = eof0Bytes ? parseEof(*eof0Bytes) : std::nullopt;
    if (!key || !eof0) {
        fail(error, QStringLiteral("no end record of the headers"));
        return std::nullopt;
    }
    const qint64 shaSize = (eof0->flags & kFlagHasKeySha256) ? 32 : 0;
    const qint64 stream0End = size - kEofSize - shaSize;
    const qint64 stream0Start = stream0End - eof0->streamSize;
    const qint64 bodyOffset = kHeaderSize + keyLength;
    const qint64 eof1Pos = stream0Start - kEofSize;
    if (eof1Pos < bodyOffset) {
        fail(error, QStringLiteral("stream sizes do not fit the file"));
        return std::nullopt;
    }
    const auto eof1Bytes = readAt(f, eof1Pos, kEofSize);
    const auto eof1 = eof1Bytes ? parseEof(*eof1Bytes) : std::nullopt;
    if (!eof1) {
        fail(error, QStringLiteral("no end record of the body"));
        return std::nullopt;
    }
    const auto stream0 = readAt(f, stream0Start, eof0->streamSize);
    if (!stream0) {
        fail(error, QStringLiteral("unreadable headers"));
        return std::nullopt;
    }
    EntryFile e;
    e.path = path;
    e.hash = QFileInfo(path).fileName().left(16);
    e.key = *key;
    e.url = urlFromKey(*key);
    e.bodyOffset = bodyOffset;
    e.bodySize = eof1Pos - bodyOffset;
    e.modified = QFileInfo(path).lastModified();
    parseHeaders(*stream0, e);
    return e;
}

std::optional<QByteArray> readRawBody(const EntryFile& e)
{
    QFile f(e.path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readAt(f, e.bodyOffset, e.bodySize);
}

std::optional<QByteArray> readBody(const EntryFile& e)
{
    auto raw = readRawBody(e);
    if (!raw)
        return std::nullopt;
    const QString enc = e.contentEncoding.trimmed();
    if (enc.isEmpty() || enc == QLatin1String("identity"))
        return raw;
    if (enc == QLatin1String("gzip") || enc == QLatin1String("x-gzip"))
        return gunzip(*raw);
    if (enc == QLatin1String("deflate")) {
        // Officially zlib-wrapped; some servers send it raw.
        if (auto z = gunzip(*raw))
            return z;
        return inflateRaw(*raw);
    }
    if (enc == QLatin1String("br"))
        return brotliDecode(*raw);
    return std::nullopt;
}

} // namespace simplecache

using simplecache::EntryFile;

SimpleCacheIndex::SimpleCacheIndex(QString cacheFolder, QString sidecarFolder)
    : m_cacheFolder(std::move(cacheFolder)), m_sidecarFolder(std::move(sidecarFolder))
{
}

std::vector<EntryFile> SimpleCacheIndex::scan() const
{
    static const QRegularExpression name(QStringLiteral("^[0-9a-f]{16}_0$"));
    std::vector<EntryFile> out;
    const QStringList files = QDir(m_cacheFolder).entryList({QStringLiteral("*_0")}, QDir::Files | QDir::Hidden,
                                                            QDir::Name);
    for (const QString& f : files) {
        if (!name.match(f).hasMatch())
            continue;
        if (auto e = simplecache::readEntryFile(m_cacheFolder + QLatin1Char('/') + f))
            out.push_back(std::move(*e));
    }
    // Oldest first, as the index lists them.
    std::stable_sort(out.begin(), out.end(),
                     [](const EntryFile& a, const EntryFile& b) { return a.modified < b.modified; });
    return out;
}

namespace {
bool isNormal(const EntryFile& e)
{
    return e.httpStatus >= 200 && e.httpStatus < 300 && e.httpStatus != 206 && !e.truncated;
}
} // namespace

std::vector<CacheIndex::Item> SimpleCacheIndex::list()
{
    m_byUrl.clear();
    std::vector<Item> items;
    for (EntryFile& e : scan()) {
        items.push_back(Item{e.url, isNormal(e)});
        m_byUrl[e.url].append(std::move(e));
    }
    return items;
}

QString SimpleCacheIndex::sidecarName(const EntryFile& e)
{
    const QUrl u(e.url);
    QString path = u.path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name = SanitizeFileName(name);
    if (name.isEmpty())
        name = QStringLiteral("index");
    if (!name.contains(QLatin1Char('.'))) {
        const QString type = FileTypeFromContentTypeHeader(e.contentType, QString());
        if (!type.isEmpty() && !type.contains(QLatin1Char('/')))
            name += QLatin1Char('.') + type;
    }
    return name;
}

std::optional<QString> SimpleCacheIndex::writeSidecar(const EntryFile& e)
{
    const QString folder = m_sidecarFolder + QLatin1Char('/') + e.hash;
    const QString target = folder + QLatin1Char('/') + sidecarName(e);
    const QFileInfo existing(target);
    // Written once: kept as long as the entry has not been replaced since.
    if (existing.isFile() && existing.lastModified() >= e.modified)
        return target;
    const auto body = simplecache::readBody(e);
    if (!body || !QDir().mkpath(folder))
        return std::nullopt;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(*body) != body->size() || !out.commit())
        return std::nullopt;
    return target;
}

std::optional<QString> SimpleCacheIndex::entryFile(const QString& url)
{
    if (!m_byUrl.contains(url))
        list();
    const auto it = m_byUrl.constFind(url);
    if (it == m_byUrl.constEnd())
        return std::nullopt;
    for (const EntryFile& e : *it) {
        if (!isNormal(e) || !QFileInfo::exists(e.path))
            continue;
        if (auto p = writeSidecar(e))
            return p;
        return QString();  // an entry without a usable body
    }
    return std::nullopt;
}

bool SimpleCacheIndex::deleteEntry(const QString& url)
{
    bool removed = false;
    for (const EntryFile& e : scan()) {
        if (e.url != url)
            continue;
        const QString stem = m_cacheFolder + QLatin1Char('/') + e.hash;
        for (const char* suffix : {"_0", "_1", "_s"}) {
            if (QFile::remove(stem + QLatin1String(suffix)))
                removed = true;
        }
        QDir(m_sidecarFolder + QLatin1Char('/') + e.hash).removeRecursively();
    }
    m_byUrl.remove(url);
    return removed;
}

} // namespace dh
