#pragma once
// Chromium's "simple cache" entry file (<16 hex>_0): header with the key, the
// body (stream 1) with its end record, the response headers (stream 0), an
// optional SHA-256 of the key, and the end record of stream 0.
#include "platform/chromiumcache/SimpleCacheDecoding.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QFileInfo>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace dh::simplecache {

inline constexpr quint64 kInitialMagic = 0xfcfb6d1ba7725c30ULL;
inline constexpr quint64 kFinalMagic = 0xf4fa6f45970d41d8ULL;
inline constexpr int kHeaderSize = 24;  // magic, version, key length, key hash, padding
inline constexpr int kEofSize = 24;     // magic, flags, crc32, stream size, padding
inline constexpr quint32 kFlagHasCrc32 = 1;
inline constexpr quint32 kFlagHasKeySha256 = 2;
// Response-info flag announcing a second flags word (newer engines).
inline constexpr quint32 kInfoHasExtraFlags = 1u << 31;
// Extra flag: an original response time follows the response time.
inline constexpr quint32 kExtraHasOriginalResponseTime = 1u << 2;

struct EntryFile {
    QString path;          // the <hash>_0 file
    QString hash;          // the 16 hex digits of its name
    QByteArray key;
    QString url;           // from the key
    QString site;          // the isolation site of the key, empty without one
    qint64 bodyOffset = 0;
    qint64 bodySize = 0;
    bool bodyHasCrc = false;
    quint32 bodyCrc = 0;
    int httpStatus = 0;    // 0 when the headers could not be read
    bool truncated = false;  // the response was cut off while being cached
    QByteArrayList headerLines;  // status line first
    QString contentType;
    QString contentEncoding;
    QDateTime requestTime;   // as stored in the response info; invalid when absent
    QDateTime responseTime;
    QDateTime modified;      // the response time, else the file's modification time
    QDateTime accessed;      // the file's last access, else modified
    QDateTime fileModified;  // the entry file's own modification time
    // Why the entry cannot be trusted; empty when every check read so far held.
    // Set by readEntryFile for the header checks, by checkBody for the body.
    QString damage;
};

// Reads an entry file without its body and checks what can be checked from
// the header side: sizes, end records, the key's SHA-256, the stream-0 CRC32
// and that the file name is the hash of the key. nullopt only when the file
// is not an entry at all (no magic, no readable key); a damaged entry comes
// back with damage set. Only a regular file is opened, never through a link
// and never a pipe (which would block the read for ever): anything else under
// an entry's name comes back damaged, its file name standing for the url.
std::optional<EntryFile> readEntryFile(const QString& path, QString* error = nullptr);

// Reads the stored body once, streaming, and checks it against the CRC32 of
// its end record (when it carries one). Sets e.damage and returns false on a
// mismatch or a read error; returns false with no damage when cancelled.
bool checkBody(EntryFile& e, const std::atomic<bool>* cancel = nullptr);
// The same read, handing each piece to sink as well; stops, returning false
// with no damage, when sink returns false.
bool streamBody(EntryFile& e, const std::function<bool(const char*, size_t)>& sink,
                const std::atomic<bool>* cancel = nullptr);

// The address in a cache key: the text after the last space, or after the
// "N/N/" prefix.
QString urlFromKey(const QByteArray& key);
// The isolation site of a key ("1/0/_dk_https://a.test https://a.test URL"
// gives "https://a.test"); empty for keys without one.
QString siteFromKey(const QByteArray& key);

// The entry file name of a key: the first 8 bytes of SHA-1(key), read
// little-endian, as 16 hex digits.
QString entryHashOfKey(const QByteArray& key);

// The body as stored (still content-encoded); nullopt when unreadable.
std::optional<QByteArray> readRawBody(const EntryFile& e);

// The body decoded according to Content-Encoding; refuses a damaged entry.
Decoded readBody(EntryFile& e);

// Converts the engine's stored time (microseconds since 1601-01-01 UTC).
QDateTime fromEngineTime(qint64 value);

// A regular file of its own, not a link to one.
bool isPlainFile(const QFileInfo& fi);

} // namespace dh::simplecache
