#pragma once
#include "cache/CacheViewer.h"
#include "platform/chromiumcache/SimpleCacheEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>

namespace dh {

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
