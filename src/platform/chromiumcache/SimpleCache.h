#pragma once
#include "cache/CacheViewer.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

namespace dh {

// Chromium's "simple cache" entry file (<16 hex>_0): header with the key, the
// body (stream 1) with its end record, the response headers (stream 0), an
// optional SHA-256 of the key, and the end record of stream 0.
namespace simplecache {

// Limits on what decoding a stored body may write out, so that a small
// hostile cache cannot fill the disk: an entry decoded beyond kMaxDecodedBytes,
// or beyond kRatioFreeBytes and more than kMaxDecodeRatio times its stored
// size, is refused; one run of writing local files (an extraction, a copy out
// of the viewer) decodes at most kDecodeBudgetPerRun bytes in all.
inline constexpr qint64 kMaxDecodedBytes = qint64(1) << 30;
inline constexpr qint64 kRatioFreeBytes = qint64(10) << 20;
inline constexpr qint64 kMaxDecodeRatio = 1000;
inline constexpr qint64 kDecodeBudgetPerRun = qint64(2) << 30;

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

struct Decoded {
    std::optional<QByteArray> data;
    QString error;  // why data is missing
};

// Undoes a Content-Encoding list ("gzip, br") in reverse order: gzip,
// x-gzip, deflate, br, zstd, identity. Unknown codings are refused by name.
Decoded decodeBody(const QByteArray& raw, const QString& contentEncoding);
// The reason an encoding cannot be undone, found from the header alone;
// empty when every coding of the list is known.
QString unsupportedCoding(const QString& contentEncoding);

// The body decoded according to Content-Encoding; refuses a damaged entry.
Decoded readBody(EntryFile& e);

// Converts the engine's stored time (microseconds since 1601-01-01 UTC).
QDateTime fromEngineTime(qint64 value);

} // namespace simplecache

// A simple-cache folder as the viewer's index. Every entry file is its own
// item (id = its hash), so the same address cached under two sites gives two
// items. An item's local file is its decoded body, written once into
// sidecarFolder/<hash>/<name>, named after the address's last segment.
// Stateless apart from the folders: list() may run on a worker thread while
// the other calls run on the caller's.
class SimpleCacheIndex : public CacheIndex {
public:
    SimpleCacheIndex(QString cacheFolder, QString sidecarFolder);

    void list(const ItemSink& sink, const std::atomic<bool>* cancel) override;
    using CacheIndex::list;
    CheckResult check(const QString& id, const std::atomic<bool>* cancel = nullptr) override;
    LocalFile entryFile(const QString& id) override;
    bool deleteEntry(const QString& id) override;
    void beginWriteRun() override { m_decodedThisRun = 0; }
    // Writes the entry's decoded body to out (open for writing), under the
    // same checks and limits as a local file; reason empty when all went.
    LocalFile writeBody(simplecache::EntryFile& e, QIODevice& out);
    // The entry of an id, read afresh; nullopt when there is none.
    std::optional<simplecache::EntryFile> entry(const QString& id) const { return entryOf(id); }
    // The decoded bytes one run may write (kDecodeBudgetPerRun unless set).
    void setDecodeBudget(qint64 bytes) { m_decodeBudget = bytes; }

    const QString& cacheFolder() const { return m_cacheFolder; }
    const QString& sidecarFolder() const { return m_sidecarFolder; }

    // The local file name for an entry (exposed for tests): a web page with a
    // title is named after it, anything else after the address.
    static QString sidecarName(const simplecache::EntryFile& e, const QString& title = {});
    // Where an entry's local file lies once written.
    QString sidecarPath(const simplecache::EntryFile& e, const QString& title = {}) const;
    // A web page entry's <title>, from the first decoded bytes of its body;
    // empty for other entries, pages without one and bodies that cannot be read.
    static QString pageTitle(simplecache::EntryFile& e);

    // Reads every entry file of the folder (skipping what is not one).
    std::vector<simplecache::EntryFile> scan() const;

private:
    std::optional<simplecache::EntryFile> entryOf(const QString& id) const;
    CacheIndex::Item itemOf(const simplecache::EntryFile& e, const QSet<QString>* sidecars) const;
    LocalFile decodeTo(simplecache::EntryFile& e, QIODevice& out);

    QString m_cacheFolder;
    QString m_sidecarFolder;
    qint64 m_decodeBudget = simplecache::kDecodeBudgetPerRun;
    std::atomic<qint64> m_decodedThisRun{0};
};

} // namespace dh
