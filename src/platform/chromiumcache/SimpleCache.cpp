#include "platform/chromiumcache/SimpleCache.h"

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

namespace dh {

using simplecache::EntryFile;

namespace {

bool isNormal(const EntryFile& e)
{
    return e.httpStatus >= 200 && e.httpStatus < 300 && e.httpStatus != 206 && !e.truncated;
}

bool isEntryId(QStringView id)
{
    if (id.size() != 16)
        return false;
    for (QChar c : id) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

QStringList entryFiles(const QString& folder)
{
    // Whatever else bears an entry's name (a link, a pipe) is listed too, to
    // be shown damaged rather than skipped in silence.
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*_0")}, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::NoSort);
    std::vector<std::pair<qint64, QString>> byTime;
    for (const QString& n : names) {
        if (n.size() != 18 || !n.endsWith(QLatin1String("_0")) || !isEntryId(QStringView(n).left(16)))
            continue;
        const QString path = folder + QLatin1Char('/') + n;
        struct stat st {};
        const bool ok = ::stat(QFile::encodeName(path).constData(), &st) == 0;
        byTime.emplace_back(ok ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0, path);
    }
    // Oldest file first, as the engine's index lists them (one stat per
    // file: sorting on local times would read the time zone at every step);
    // the same time in descending name order, as a reversed listing gives it.
    std::sort(byTime.begin(), byTime.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    QStringList out;
    for (auto& [t, path] : byTime)
        out << std::move(path);
    return out;
}

} // namespace

SimpleCacheIndex::SimpleCacheIndex(QString cacheFolder, QString sidecarFolder)
    : m_cacheFolder(std::move(cacheFolder)), m_sidecarFolder(std::move(sidecarFolder))
{
}

std::vector<EntryFile> SimpleCacheIndex::scan() const
{
    std::vector<EntryFile> out;
    for (const QString& f : entryFiles(m_cacheFolder)) {
        if (auto e = simplecache::readEntryFile(f))
            out.push_back(std::move(*e));
    }
    return out;
}

QString SimpleCacheIndex::sidecarPath(const EntryFile& e, const QString& title) const
{
    return m_sidecarFolder + QLatin1Char('/') + e.hash + QLatin1Char('/') + sidecarName(e, title);
}

QString SimpleCacheIndex::pageTitle(EntryFile& e)
{
    const QString type = e.contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if ((type != QLatin1String("text/html") && type != QLatin1String("application/xhtml+xml"))
        || !simplecache::unsupportedCoding(e.contentEncoding).isEmpty() || !e.damage.isEmpty())
        return {};
    // The title sits in the head: the first decoded bytes are enough.
    constexpr qsizetype kHead = 64 * 1024;
    QByteArray head;
    simplecache::DecodeChain chain(simplecache::codingsOf(e.contentEncoding), [&](const char* d, size_t n) {
        head.append(d, std::min<qsizetype>(qsizetype(n), kHead - head.size()));
        return head.size() < kHead;
    });
    bool decoding = true;
    simplecache::streamBody(e, [&](const char* d, size_t n) { return decoding = decoding && chain.feed(d, n); });
    if (decoding)
        chain.finish();
    e.damage.clear();  // a read stopped early says nothing about the entry
    const auto doc = Document::parse(head, QUrl(e.url), e.contentType);
    return doc ? doc->title().simplified() : QString();
}

CacheIndex::Item SimpleCacheIndex::itemOf(const EntryFile& e, const QSet<QString>* sidecars) const
{
    Item item;
    item.id = e.hash;
    item.url = e.url;
    item.site = e.site;
    item.normal = isNormal(e);
    item.size = e.damage.isEmpty() ? e.bodySize : -1;
    item.contentType = e.contentType;
    item.modified = e.modified;
    item.accessed = e.accessed;
    if (!e.damage.isEmpty()) {
        item.state = State::Damaged;
        item.reason = e.damage;
        return item;
    }
    item.reason = simplecache::unsupportedCoding(e.contentEncoding);
    if (m_sidecarFolder.isEmpty() || (sidecars && !sidecars->contains(e.hash)))
        return item;
    // Its one file, whatever name it got (a page is named after its title,
    // which the listing does not read).
    const QDir folder(m_sidecarFolder + QLatin1Char('/') + e.hash);
    const QStringList files = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    if (files.size() != 1)
        return item;
    const QFileInfo fi(folder.filePath(files.first()));
    // Written once: kept as long as the entry has not been replaced since.
    if (simplecache::isPlainFile(fi) && fi.lastModified() >= e.fileModified)
        item.localFile = fi.filePath();
    return item;
}

void SimpleCacheIndex::list(const ItemSink& sink, const std::atomic<bool>* cancel)
{
    // The entries that have a local file, from one read of the folder.
    QSet<QString> sidecars;
    if (!m_sidecarFolder.isEmpty()) {
        for (const QString& d : QDir(m_sidecarFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            sidecars.insert(d);
    }
    for (const QString& f : entryFiles(m_cacheFolder)) {
        if (cancel && *cancel)
            return;
        if (auto e = simplecache::readEntryFile(f))
            sink(itemOf(*e, &sidecars));
    }
}

std::optional<EntryFile> SimpleCacheIndex::entryOf(const QString& id) const
{
    if (!isEntryId(id))
        return std::nullopt;
    return simplecache::readEntryFile(m_cacheFolder + QLatin1Char('/') + id + QStringLiteral("_0"));
}

CacheIndex::CheckResult SimpleCacheIndex::check(const QString& id, const std::atomic<bool>* cancel)
{
    auto e = entryOf(id);
    if (!e)
        return {State::Damaged, QStringLiteral("缓存中已没有这个条目")};
    if (!simplecache::checkBody(*e, cancel))
        return {e->damage.isEmpty() ? State::Unchecked : State::Damaged, e->damage};
    if (const QString why = simplecache::unsupportedCoding(e->contentEncoding); !why.isEmpty())
        return {State::Undecodable, why};
    return {State::Intact, {}, pageTitle(*e)};
}

QString SimpleCacheIndex::sidecarName(const EntryFile& e, const QString& title)
{
    if (QString named = sanitizeFileName(title.left(80)).trimmed(); !named.isEmpty())
        return named + QStringLiteral(".html");
    const QUrl u(e.url);
    QString path = u.path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    name = sanitizeFileName(name);
    if (name.isEmpty())
        name = QStringLiteral("index");
    if (!name.contains(QLatin1Char('.'))) {
        const QString type = fileTypeFromContentTypeHeader(e.contentType, QString());
        if (!type.isEmpty() && !type.contains(QLatin1Char('/')))
            name += QLatin1Char('.') + type;
    }
    return name;
}

CacheIndex::LocalFile SimpleCacheIndex::entryFile(const QString& id)
{
    if (m_sidecarFolder.isEmpty())
        return {{}, State::Unchecked, QStringLiteral("没有存放解码文件的文件夹")};
    auto e = entryOf(id);
    if (!e)
        return {{}, State::Damaged, QStringLiteral("缓存中已没有这个条目")};
    if (!e->damage.isEmpty())
        return {{}, State::Damaged, e->damage};
    const QString target = sidecarPath(*e, pageTitle(*e));
    const QFileInfo existing(target);
    if (simplecache::isPlainFile(existing) && existing.lastModified() >= e->fileModified)
        return {target, State::Intact, {}};
    if (const QString why = simplecache::unsupportedCoding(e->contentEncoding); !why.isEmpty())
        return {{}, State::Undecodable, why};
    const QString folder = QFileInfo(target).path();
    const bool folderMade = !QFileInfo::exists(folder);
    if (!QDir().mkpath(folder))
        return {{}, State::Intact, QStringLiteral("无法创建文件夹")};
    // The file appears only once the whole body has been read, its checksum
    // matched and every coding undone.
    QSaveFile out(target);
    LocalFile f = out.open(QIODevice::WriteOnly) ? decodeTo(*e, out)
                                                 : LocalFile{{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
    if (f.reason.isEmpty() && !out.commit())
        f = {{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
    if (!f.reason.isEmpty()) {
        out.cancelWriting();
        if (folderMade)
            QDir().rmdir(folder);
        return f;
    }
    return {target, State::Intact, {}};
}

CacheIndex::LocalFile SimpleCacheIndex::writeBody(EntryFile& e, QIODevice& out)
{
    if (!e.damage.isEmpty())
        return {{}, State::Damaged, e.damage};
    if (const QString why = simplecache::unsupportedCoding(e.contentEncoding); !why.isEmpty())
        return {{}, State::Undecodable, why};
    return decodeTo(e, out);
}

CacheIndex::LocalFile SimpleCacheIndex::decodeTo(EntryFile& e, QIODevice& out)
{
    // The body goes through the decoders to out piece by piece. A coded body
    // may expand without end: its decoded bytes are held to the limits as
    // they come, so a refusal costs no more than the limit.
    const QStringList codings = simplecache::codingsOf(e.contentEncoding);
    enum class Limit { None, Size, Ratio, Run } hit = Limit::None;
    const qint64 runLeft = m_decodeBudget - m_decodedThisRun;
    qint64 written = 0;
    simplecache::DecodeChain chain(codings, [&](const char* d, size_t n) {
        written += qint64(n);
        if (!codings.isEmpty()) {
            if (written > simplecache::kMaxDecodedBytes)
                hit = Limit::Size;
            else if (written > simplecache::kRatioFreeBytes && written > e.bodySize * simplecache::kMaxDecodeRatio)
                hit = Limit::Ratio;
            else if (written > runLeft)
                hit = Limit::Run;
        }
        return hit == Limit::None && out.write(d, qint64(n)) == qint64(n);
    });
    bool decoding = true;
    // A stream that breaks is read on for the checksum: a damaged entry is
    // told apart from one that cannot be decoded.
    const bool read = simplecache::streamBody(e, [&](const char* d, size_t n) {
        if (decoding)
            decoding = chain.feed(d, n);
        return decoding || !chain.sinkRefused();
    });
    if (read && decoding && chain.finish()) {
        if (!codings.isEmpty())
            m_decodedThisRun += written;
        return {{}, State::Intact, {}};
    }
    if (!e.damage.isEmpty())
        return {{}, State::Damaged, e.damage};
    constexpr qint64 mb = 1 << 20;
    switch (hit) {
    case Limit::Size:
        return {{}, State::Undecodable, QStringLiteral("解码后超过%1 MB，不写出").arg(simplecache::kMaxDecodedBytes / mb)};
    case Limit::Ratio:
        return {{}, State::Undecodable,
                QStringLiteral("解码后超过%1 MB且超过存储大小的%2倍，不写出")
                    .arg(simplecache::kRatioFreeBytes / mb)
                    .arg(simplecache::kMaxDecodeRatio)};
    case Limit::Run:
        // The entry itself is fine: a later run may write it.
        return {{}, State::Intact, QStringLiteral("本次解码总量已达上限%1 MB，未写出").arg(m_decodeBudget / mb)};
    case Limit::None:
        break;
    }
    if (!chain.broken().isEmpty())
        return {{}, State::Undecodable, QStringLiteral("按%1解码失败：数据流已损坏").arg(chain.broken())};
    return {{}, State::Intact, QStringLiteral("无法写出文件：%1").arg(out.errorString())};
}

bool SimpleCacheIndex::deleteEntry(const QString& id)
{
    if (!isEntryId(id))
        return false;
    bool removed = false;
    const QString stem = m_cacheFolder + QLatin1Char('/') + id;
    for (const char* suffix : {"_0", "_1", "_s"}) {
        if (QFile::remove(stem + QLatin1String(suffix)))
            removed = true;
    }
    // Only the folder this program wrote for the entry; a link in it goes,
    // never what it points to, and so does a link in its place.
    const QString side = m_sidecarFolder + QLatin1Char('/') + id;
    if (QFileInfo(side).isSymLink())
        QFile::remove(side);
    else
        QDir(side).removeRecursively();
    return removed;
}

} // namespace dh
