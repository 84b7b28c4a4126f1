#pragma once
#include "cache/CacheViewer.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

namespace dh {

// Chromium's "simple cache" entry file (<16 hex>_0): header with the key, the
// body (stream 1) with its end record, the response headers (stream 0), an
// optional SHA-256 of the key, and the end record of stream 0.
namespace simplecache {

inline constexpr quint64 kInitialMagic = 0xfcfb6d1ba7725c30ULL;
inline constexpr quint64 kFinalMagic = 0xf4fa6f45970d41d8ULL;
inline constexpr int kHeaderSize = 24;  // magic, version, key length, key hash, padding
inline constexpr int kEofSize = 24;     // magic, flags, crc32, stream size, padding
inline constexpr quint32 kFlagHasCrc32 = 1;
inline constexpr quint32 kFlagHasKeySha256 = 2;

struct EntryFile {
    QString path;          // the <hash>_0 file
    QString hash;          // the 16 hex digits of its name
    QByteArray key;
    QString url;           // from the key
    qint64 bodyOffset = 0;
    qint64 bodySize = 0;
    int httpStatus = 0;    // 0 when the headers could not be read
    bool truncated = false;  // the response was cut off while being cached
    QByteArrayList headerLines;  // status line first
    QString contentType;
    QString contentEncoding;
    QDateTime modified;
};

// Reads and checks an entry file; nullopt when it is not one (wrong magic,
// truncated, sizes that do not fit the file). Never reads the body.
std::optional<EntryFile> readEntryFile(const QString& path, QString* error = nullptr);

// The address in a cache key: the text after the last space, or after the
// "N/N/" prefix.
QString urlFromKey(const QByteArray& key);

// The entry file name of a key: the first 8 bytes of SHA-1(key), read
// little-endian, as 16 hex digits.
QString entryHashOfKey(const QByteArray& key);

// The body as stored (still content-encoded).
std::optional<QByteArray> readRawBody(const EntryFile& e);

// The body decoded according to Content-Encoding (gzip, deflate, br,
// identity); nullopt when it cannot be decoded.
std::optional<QByteArray> readBody(const EntryFile& e);

// Decoders, exposed for tests.
std::optional<QByteArray> gunzip(const QByteArray& data);    // gzip or zlib
std::optional<QByteArray> inflateRaw(const QByteArray& data);  // raw deflate
std::optional<QByteArray> brotliDecode(const QByteArray& data);

} // namespace simplecache

// The current user's cache index over a simple-cache folder. An entry's local
// file is its decoded body, written once into sidecarFolder/<hash>/<name>,
// named after the address's last segment. Deleting an address removes its
// entry files (_0, _1, _s) and its extracted file.
class SimpleCacheIndex : public CacheIndex {
public:
    SimpleCacheIndex(QString cacheFolder, QString sidecarFolder);

    std::vector<Item> list() override;
    std::optional<QString> entryFile(const QString& url) override;
    bool deleteEntry(const QString& url) override;

    const QString& cacheFolder() const { return m_cacheFolder; }
    const QString& sidecarFolder() const { return m_sidecarFolder; }

    // The local file name for an entry (exposed for tests).
    static QString sidecarName(const simplecache::EntryFile& e);

    // Reads every entry file of the folder (skipping what is not one).
    std::vector<simplecache::EntryFile> scan() const;

private:
    std::optional<QString> writeSidecar(const simplecache::EntryFile& e);

    QString m_cacheFolder;
    QString m_sidecarFolder;
    QHash<QString, QList<simplecache::EntryFile>> m_byUrl;  // from the last list()
};

} // namespace dh
