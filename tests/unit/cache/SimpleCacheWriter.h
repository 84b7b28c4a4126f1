#pragma once
// Builds simple-cache entry files the way Chromium lays them out, for tests.
#include "platform/chromiumcache/SimpleCache.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtEndian>
#include <zlib.h>
#include <zstd.h>

namespace dh::test {

inline void putLe32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}
inline void putLe64(QByteArray& b, quint64 v)
{
    char c[8];
    qToLittleEndian(v, c);
    b.append(c, 8);
}

inline quint32 crcOf(const QByteArray& b)
{
    return static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size())));
}

inline QByteArray eofRecord(quint32 flags, quint32 crc, quint32 size)
{
    QByteArray b;
    putLe64(b, simplecache::kFinalMagic);
    putLe32(b, flags);
    putLe32(b, crc);
    putLe32(b, size);
    putLe32(b, 0);
    return b;
}

// An engine time: microseconds since 1601-01-01 UTC.
inline constexpr qint64 kResponseTime = 13300000000100000LL;

// The pickled response info: flags (version 3), request and response times,
// then the raw header lines, NUL-separated, ending with an empty line. The
// newer layout adds a second flags word after the flags and an original
// response time after the response time.
inline QByteArray responseInfo(const QByteArrayList& headerLines, quint32 extraFlags = 0, bool newLayout = false)
{
    QByteArray payload;
    putLe32(payload, 3 | extraFlags | (newLayout ? simplecache::kInfoHasExtraFlags : 0));
    if (newLayout)
        putLe32(payload, simplecache::kExtraHasOriginalResponseTime);
    putLe64(payload, kResponseTime - 100000);
    putLe64(payload, kResponseTime);
    if (newLayout)
        putLe64(payload, kResponseTime - 5000000);
    QByteArray raw = headerLines.join('\0') + QByteArray(2, '\0');
    putLe32(payload, static_cast<quint32>(raw.size()));
    payload += raw;
    while (payload.size() % 4)
        payload.append('\0');
    QByteArray pickle;
    putLe32(pickle, static_cast<quint32>(payload.size()));
    return pickle + payload;
}

inline QByteArray entryBytes(const QByteArray& key, const QByteArray& body, const QByteArrayList& headerLines,
                             quint32 responseFlags = 0, bool newLayout = false)
{
    QByteArray b;
    putLe64(b, simplecache::kInitialMagic);
    putLe32(b, 5);
    putLe32(b, static_cast<quint32>(key.size()));
    putLe32(b, 0);
    putLe32(b, 0);
    b += key;
    b += body;
    b += eofRecord(simplecache::kFlagHasCrc32, crcOf(body), static_cast<quint32>(body.size()));
    const QByteArray s0 = responseInfo(headerLines, responseFlags, newLayout);
    b += s0;
    b += QCryptographicHash::hash(key, QCryptographicHash::Sha256);
    b += eofRecord(simplecache::kFlagHasCrc32 | simplecache::kFlagHasKeySha256, crcOf(s0),
                   static_cast<quint32>(s0.size()));
    return b;
}

// Writes bytes as the entry file of key in folder; returns the path.
inline QString writeEntryBytes(const QString& folder, const QByteArray& key, const QByteArray& bytes)
{
    const QString path = folder + QLatin1Char('/') + simplecache::entryHashOfKey(key) + QStringLiteral("_0");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(bytes);
    return path;
}

// Writes an entry for url into folder under its Chromium file name; returns the path.
inline QString writeEntry(const QString& folder, const QString& url, const QByteArray& body,
                          const QByteArrayList& headerLines, quint32 responseFlags = 0)
{
    const QByteArray key = "1/0/" + url.toUtf8();
    return writeEntryBytes(folder, key, entryBytes(key, body, headerLines, responseFlags));
}

// windowBits as zlib takes them: 15 + 16 gzip, 15 zlib-wrapped, -15 raw deflate.
inline QByteArray gzipped(const QByteArray& data, int windowBits = 15 + 16)
{
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&s, static_cast<uLong>(data.size())) + 32), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(static_cast<qsizetype>(s.total_out));
    deflateEnd(&s);
    return out;
}

inline QByteArray zstdCompressed(const QByteArray& data)
{
    QByteArray out(static_cast<qsizetype>(ZSTD_compressBound(static_cast<size_t>(data.size()))), '\0');
    const size_t n = ZSTD_compress(out.data(), static_cast<size_t>(out.size()), data.constData(),
                                   static_cast<size_t>(data.size()), 3);
    out.resize(ZSTD_isError(n) ? 0 : static_cast<qsizetype>(n));
    return out;
}

} // namespace dh::test
