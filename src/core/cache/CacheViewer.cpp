#include "cache/CacheViewer.h"

#include "app/Helpers.h"
#include "content/ContentType.h"
#include "platform/Prompter.h"
#include "utilities/CopyFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dh {

namespace {

const QString kUserPrefix = QStringLiteral("用户:");
const QString kMine = QStringLiteral("我的缓存");
const QString kAll = QStringLiteral("所有缓存");

QString countLine(std::size_t n, bool failed = false)
{
    return (failed ? QStringLiteral("出错!!!共有") : QStringLiteral("共有")) + QString::number(n)
           + QStringLiteral(" 个文件");
}

// Relative location of folder below home ("/.cache/..."), or the fallback.
QString belowHome(const QString& folder, const QString& home, const QString& fallback)
{
    const QString h = QDir::cleanPath(home);
    const QString f = QDir::cleanPath(folder);
    if (!h.isEmpty() && f.startsWith(h + QLatin1Char('/')))
        return f.mid(h.size());
    return fallback;
}

// The walk shared by listSubFolders and listFiles.
void walk(QString& path, QStringList& list, bool deep, bool wantFolders, const std::atomic<bool>* cancel)
{
    if (cancel && *cancel)
        return;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    QDir dir(path);
    if (!dir.exists())
        return;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList children;
    const bool atRoot = path == QLatin1String("/");
    for (const QFileInfo& fi : entries) {
        const QString name = fi.fileName();
        if (name.compare(QLatin1String("pagefile.sys"), Qt::CaseInsensitive) == 0)
            continue;
        if (atRoot && name.compare(QLatin1String("RECYCLER"), Qt::CaseInsensitive) == 0)
            continue;
        // A link is never walked into, so that it cannot lead the walk in
        // circles or out of the cache; a link to a file is listed as a file.
        // A link to a folder is neither walked nor listed as a file.
        if (fi.isSymLink() && fi.isDir())
            continue;
        const bool isFolder = fi.isDir() && !fi.isSymLink();
        if (isFolder) {
            children << name;
            if (wantFolders)
                list << path + name;
        } else if (!wantFolders) {
            list << path + name;
        }
    }
    if (!deep)
        return;
    for (const QString& child : children) {
        QString sub = path + child;
        walk(sub, list, deep, wantFolders, cancel);
    }
}

enum class Reach { Missing, Readable, Unreadable };

// Whether the folder below home can be listed: every step of the path must
// be searchable, the last one readable too. A step that cannot be searched
// makes the rest unknowable, which counts as unreadable, not as missing.
Reach reach(const QString& home, const QString& below)
{
    QString cur = QDir::cleanPath(home);
    QStringList steps = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    steps.prepend(QString());
    for (int i = 0; i < steps.size(); ++i) {
        if (i > 0)
            cur += QLatin1Char('/') + steps[i];
        const QByteArray p = QFile::encodeName(cur);
        struct stat st {};
        if (::stat(p.constData(), &st) != 0)
            return errno == EACCES ? Reach::Unreadable : Reach::Missing;
        if (!S_ISDIR(st.st_mode))
            return Reach::Missing;
        const int need = i + 1 == steps.size() ? (R_OK | X_OK) : X_OK;
        if (::access(p.constData(), need) != 0)
            return Reach::Unreadable;
    }
    return Reach::Readable;
}

} // namespace

std::vector<UserHome> systemUserHomes()
{
    std::vector<UserHome> out;
    QSet<QString> seen;
    setpwent();
    while (const passwd* pw = getpwent()) {
        if (!pw->pw_dir || !*pw->pw_dir)
            continue;
        const QString home = QDir::cleanPath(QFile::decodeName(pw->pw_dir));
        if (seen.contains(home))
            continue;
        seen.insert(home);
        out.push_back(UserHome{QString::fromLocal8Bit(pw->pw_name), home});
    }
    endpwent();
    return out;
}

QString stateText(const CacheEntry& row)
{
    if (row.id.isEmpty())
        return {};
    switch (row.state) {
    case CacheIndex::State::Intact: return QStringLiteral("完好");
    case CacheIndex::State::Damaged: return QStringLiteral("损坏");
    case CacheIndex::State::Undecodable: return QStringLiteral("无法解码");
    case CacheIndex::State::Unchecked: break;
    }
    return QStringLiteral("校验中");
}

QString dateText(const QDateTime& t)
{
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

std::vector<CacheIndex::Item> CacheIndex::list()
{
    std::vector<Item> out;
    list([&](Item&& i) { out.push_back(std::move(i)); }, nullptr);
    return out;
}

CacheLocations defaultCacheLocations(const QString& httpCacheFolder, const QString& sidecarFolder,
                                     const QString& homeFolder)
{
    CacheLocations loc;
    loc.currentCachePath = httpCacheFolder;
    loc.userHomes = systemUserHomes;
    // The browser's cache root (the folder above Cache/Cache_Data) and the
    // extracted files, each relative to the home folder.
    QString browserRoot = QDir::cleanPath(httpCacheFolder);
    for (const QString& tail : {QStringLiteral("/Cache/Cache_Data"), QStringLiteral("/Cache")}) {
        if (browserRoot.endsWith(tail)) {
            browserRoot.chop(tail.size());
            break;
        }
    }
    loc.cacheFolderNames << belowHome(browserRoot, homeFolder, QStringLiteral("/.cache/DocHarvest/webengine"))
                         << belowHome(sidecarFolder, homeFolder, QStringLiteral("/.cache/DocHarvest/cache-files"));
    return loc;
}

QString urlFileType(const QString& urlOrPath)
{
    QString s = urlOrPath;
    const int first = s.indexOf(QLatin1String("://"), 0, Qt::CaseInsensitive);
    if (first >= 0) {
        const int second = s.indexOf(QLatin1String("://"), first + 3, Qt::CaseInsensitive);
        s = second >= 0 ? s.mid(first + 3, second - first - 3) : s.mid(first + 3);
    }
    s.replace(QLatin1Char('/'), QLatin1Char('\\'));
    s = s.mid(s.lastIndexOf(QLatin1Char('\\')) + 1);
    static const QChar cuts[] = {QLatin1Char('#'), QChar(8), QChar(9), QChar(10), QChar(13),
                                 QLatin1Char(':'), QLatin1Char('*'), QLatin1Char('<'), QLatin1Char('>'),
                                 QLatin1Char('|'), QLatin1Char('"'), QLatin1Char('\''), QLatin1Char('='),
                                 QLatin1Char('?')};
    for (QChar c : cuts) {
        const int at = s.indexOf(c);
        if (at >= 0)
            s.truncate(at);
    }
    const int dot = s.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString ext = trimSpaces(s.mid(dot + 1));
    return ext.size() <= 6 ? ext : QString();
}

void listSubFolders(QString& path, QStringList& list, bool deep, const std::atomic<bool>* cancel)
{
    if (!path.startsWith(QLatin1Char('/')))
        return;
    walk(path, list, deep, true, cancel);
}

void listFiles(QString& path, QStringList& list, bool deep, const std::atomic<bool>* cancel)
{
    if (path.isEmpty())
        return;
    walk(path, list, deep, false, cancel);
}

void forceDelete(const QString& path)
{
    if (path.isEmpty())
        return;
    const QFileInfo fi(path);
    // Only the file's own bits; a link is removed, never its target.
    if (!fi.isSymLink())
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ReadOwner);
    QFile::remove(path);
}

namespace {

void listCacheUsers(const CacheLocations& locations, AllUsersCache& out, const std::atomic<bool>* cancel)
{
    const std::vector<UserHome> homes = locations.userHomes ? locations.userHomes() : std::vector<UserHome>{};
    for (const UserHome& h : homes) {
        if (cancel && *cancel)
            return;
        bool skipped = false;
        for (const QString& name : locations.cacheFolderNames) {
            const Reach r = reach(h.home, name);
            if (r == Reach::Unreadable)
                skipped = true;
            if (r != Reach::Readable)
                continue;
            QString folder = QDir::cleanPath(h.home) + name;
            listSubFolders(folder, out.rememberedFolders, true, cancel);
            out.users.push_back(CacheUserRow{h.user, folder});
        }
        if (skipped)
            ++out.skippedHomes;
    }
    for (const QString& f : out.rememberedFolders) {
        if (!f.isEmpty())
            out.folders << f;
    }
}

void listUserCacheFiles(const QString& folder, const QString& user, std::vector<CacheEntry>& rows,
                        const std::atomic<bool>* cancel, std::atomic<int>* found)
{
    QStringList files;
    QString p = folder;
    listFiles(p, files, true, cancel);
    for (const QString& f : files) {
        if (cancel && *cancel)
            return;
        const QFileInfo fi(f);
        // A file gone during the walk is not listed: nothing is left to copy or delete.
        if (!fi.exists() && !fi.isSymLink())
            continue;
        CacheEntry row;
        row.url = kUserPrefix + user;
        row.type = urlFileType(f);
        row.size = QString::number(fi.size());
        row.filePath = f;
        row.modified = fi.lastModified();
        row.accessed = fi.lastRead();
        rows.push_back(std::move(row));
        if (found)
            ++*found;
    }
}

} // namespace

AllUsersCache walkAllUsersCache(const CacheLocations& locations, const std::atomic<bool>* cancel,
                                std::atomic<int>* found)
{
    AllUsersCache out;
    listCacheUsers(locations, out, cancel);
    for (const CacheUserRow& u : out.users)
        listUserCacheFiles(u.folder, u.user, out.rows, cancel, found);
    return out;
}

CacheViewer::CacheViewer(CacheIndex* index, CacheLocations locations)
    : m_index(index), m_locations(std::move(locations))
{
}

void CacheViewer::listMyCache()
{
    cacheUrlList();
    viewMode = kMine;
}

void CacheViewer::cacheUrlList()
{
    beginListing();
    if (!m_index) {
        finishListing(false);
        return;
    }
    bool failed = false;
    try {
        m_index->list([this](CacheIndex::Item&& item) { addItem(item); }, nullptr);
    } catch (const std::exception&) {
        failed = true;
    }
    finishListing(failed);
}

void CacheViewer::beginListing()
{
    rows.clear();
    m_rowOfId.clear();
    viewMode = kMine;
    countText = listingText();
}

QString CacheViewer::listingText() const
{
    return listingText(rows.size());
}

QString CacheViewer::listingText(std::size_t listed)
{
    return QStringLiteral("正在读取缓存……已列出") + QString::number(listed) + QStringLiteral(" 个文件");
}

int CacheViewer::addItem(const CacheIndex::Item& item)
{
    // Damaged entries are shown whatever their status, so that the user sees them.
    if (!item.normal && item.state != CacheIndex::State::Damaged)
        return -1;
    CacheEntry row;
    row.url = item.url;
    row.type = urlFileType(item.url);
    if (row.type.isEmpty() && !item.contentType.isEmpty()) {
        const QString t = fileTypeFromContentTypeHeader(item.contentType, QString());
        if (!t.contains(QLatin1Char('/')) && t.size() <= 6)
            row.type = t;
    }
    row.id = item.id;
    row.site = item.site;
    row.state = item.state;
    row.reason = item.reason;
    row.modified = item.modified;
    row.accessed = item.accessed;
    if (!item.localFile.isEmpty() && isNormalFile(item.localFile)) {
        row.filePath = item.localFile;
        row.size = QString::number(QFileInfo(item.localFile).size());
    } else if (item.size >= 0) {
        row.size = QString::number(item.size);
    }
    rows.push_back(std::move(row));
    const int at = static_cast<int>(rows.size()) - 1;
    m_rowOfId.insert(item.id, at);
    return at;
}

void CacheViewer::finishListing(bool failed)
{
    countText = countLine(rows.size(), failed);
}

int CacheViewer::applyCheck(const QString& id, const CacheIndex::CheckResult& result)
{
    const auto it = m_rowOfId.constFind(id);
    if (it == m_rowOfId.constEnd() || *it >= static_cast<int>(rows.size()))
        return -1;
    CacheEntry& row = rows[static_cast<std::size_t>(*it)];
    row.state = result.state;
    row.reason = result.reason;
    return *it;
}

bool CacheViewer::materialize(int i)
{
    if (i < 0 || i >= static_cast<int>(rows.size()))
        return false;
    CacheEntry& row = rows[static_cast<std::size_t>(i)];
    if (row.id.isEmpty())
        return !row.filePath.isEmpty();  // a file of the all-users walk
    if (row.state == CacheIndex::State::Damaged || row.state == CacheIndex::State::Undecodable)
        return false;
    if (!row.filePath.isEmpty() && isNormalFile(row.filePath))
        return true;
    if (!m_index)
        return false;
    CacheIndex::LocalFile f;
    try {
        f = m_index->entryFile(row.id);
    } catch (const std::exception&) {
        return false;
    }
    applyLocalFile(row.id, f);
    return !row.filePath.isEmpty();
}

QStringList CacheViewer::idsNeedingFiles(const std::vector<int>& selectedRows) const
{
    QStringList out;
    for (int i : selectedRows) {
        if (i < 0 || i >= static_cast<int>(rows.size()))
            continue;
        const CacheEntry& row = rows[static_cast<std::size_t>(i)];
        if (row.id.isEmpty() || row.state == CacheIndex::State::Damaged
            || row.state == CacheIndex::State::Undecodable)
            continue;
        if ((row.filePath.isEmpty() || !isNormalFile(row.filePath)) && !out.contains(row.id))
            out << row.id;
    }
    return out;
}

void CacheViewer::applyLocalFile(const QString& id, const CacheIndex::LocalFile& f)
{
    const auto it = m_rowOfId.constFind(id);
    if (it == m_rowOfId.constEnd() || *it >= static_cast<int>(rows.size()))
        return;
    CacheEntry& row = rows[static_cast<std::size_t>(*it)];
    if (f.state != CacheIndex::State::Unchecked || !f.reason.isEmpty()) {
        row.state = f.state;
        row.reason = f.reason;
    }
    if (f.path.isEmpty() || !isNormalFile(f.path))
        return;
    row.filePath = f.path;
    row.size = QString::number(QFileInfo(f.path).size());
}

void CacheViewer::listAllUsersCache()
{
    applyAllUsersCache(walkAllUsersCache(m_locations));
}

void CacheViewer::beginAllUsersListing()
{
    applyAllUsersCache({});
    countText = listingText(0);
}

void CacheViewer::applyAllUsersCache(AllUsersCache&& found)
{
    rows = std::move(found.rows);
    users = std::move(found.users);
    folders = std::move(found.folders);
    rememberedFolders = std::move(found.rememberedFolders);
    skippedHomes = found.skippedHomes;
    m_rowOfId.clear();
    countText = countLine(rows.size());
    if (skippedHomes > 0)
        countText += QStringLiteral("（跳过%1 个无法读取的用户文件夹）").arg(skippedHomes);
    viewMode = kAll;
}

void CacheViewer::deleteRow(const CacheEntry& row)
{
    if (row.url.startsWith(kUserPrefix)) {
        if (row.type.toLower() != QLatin1String("txt") && !row.filePath.isEmpty())
            forceDelete(row.filePath);
        return;
    }
    if (row.url.isEmpty() || row.url.contains(QLatin1String("Cookie"), Qt::CaseInsensitive))
        return;
    if (m_index && !row.id.isEmpty()) {
        try {
            m_index->deleteEntry(row.id);
        } catch (const std::exception&) {
        }
    }
    if (!row.filePath.isEmpty())
        forceDelete(row.filePath);
}

void CacheViewer::rebuild()
{
    if ((viewMode == kMine || viewMode == kAll) && relist)
        relist();
    else if (viewMode == kMine)
        listMyCache();
    else if (viewMode == kAll)
        listAllUsersCache();
}

void CacheViewer::deleteSelected(const std::vector<int>& selectedRows)
{
    if (rows.empty())
        return;
    std::vector<int> sel = selectedRows;
    std::sort(sel.begin(), sel.end());
    sel.erase(std::unique(sel.begin(), sel.end()), sel.end());
    for (int i : sel) {
        if (i >= 0 && i < static_cast<int>(rows.size()))
            deleteRow(rows[static_cast<std::size_t>(i)]);
    }
    removeEmptyFolders();
    rebuild();
}

void CacheViewer::deleteAll()
{
    const std::vector<CacheEntry> all = rows;
    for (const CacheEntry& row : all)
        deleteRow(row);
    removeEmptyFolders();
    rebuild();
}

void CacheViewer::removeEmptyFolders()
{
    for (auto it = rememberedFolders.crbegin(); it != rememberedFolders.crend(); ++it) {
        if (it->isEmpty())
            continue;
        const QFileInfo fi(*it);
        if (!fi.isDir() || fi.isSymLink())
            continue;
        // Removing an empty folder needs no rights on the folder itself, so
        // no folder's permissions are touched: a kept one, or one of another
        // user, stays exactly as it was.
        QDir().rmdir(*it);  // refuses a folder that still holds anything
    }
}

void CacheViewer::sortBy(int column)
{
    if (column < 1 || column > 8)
        return;
    sortColumn = column;
    descending = !descending;
    auto cell = [column](const CacheEntry& e) -> QString {
        switch (column) {
        case 1: return e.url;
        case 2: return e.type;
        case 3: return e.size;
        case 4: return e.filePath;
        case 5: return stateText(e);
        case 6: return e.site;
        case 7: return e.modified.toUTC().toString(Qt::ISODateWithMs);
        default: return e.accessed.toUTC().toString(Qt::ISODateWithMs);
        }
    };
    if (column == 3) {
        for (CacheEntry& e : rows) {
            if (!e.size.isEmpty())
                e.size = e.size.rightJustified(12, QLatin1Char('0'));
        }
    }
    const bool desc = descending;
    std::stable_sort(rows.begin(), rows.end(), [&](const CacheEntry& a, const CacheEntry& b) {
        const int c = QString::compare(cell(a), cell(b), Qt::CaseInsensitive);
        return desc ? c > 0 : c < 0;
    });
    if (column == 3) {
        for (CacheEntry& e : rows) {
            if (e.size.isEmpty())
                continue;
            int i = 0;
            while (i < e.size.size() - 1 && e.size[i] == QLatin1Char('0'))
                ++i;
            e.size = e.size.mid(i);
        }
    }
    reindex();
}

void CacheViewer::reindex()
{
    m_rowOfId.clear();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].id.isEmpty())
            m_rowOfId.insert(rows[i].id, static_cast<int>(i));
    }
}

QStringList CacheViewer::selectedFilePaths(const std::vector<int>& selectedRows, int* refused)
{
    std::vector<int> sel = selectedRows;
    std::sort(sel.begin(), sel.end());
    sel.erase(std::unique(sel.begin(), sel.end()), sel.end());
    QStringList out;
    int notCopied = 0;
    for (int i : sel) {
        if (i < 0 || i >= static_cast<int>(rows.size()))
            continue;
        if (materialize(i))
            out << rows[static_cast<std::size_t>(i)].filePath;
        else if (!rows[static_cast<std::size_t>(i)].id.isEmpty())
            ++notCopied;
    }
    if (refused)
        *refused = notCopied;
    return out;
}

void clearBrowserCache(CacheIndex* index, const CacheLocations& locations, bool showMessage)
{
    CacheViewer viewer(index, locations);
    viewer.listMyCache();
    viewer.deleteAll();
    viewer.listAllUsersCache();
    viewer.deleteAll();
    if (showMessage)
        Prompter::instance().message(QStringLiteral("IE缓存清空完毕！"), MessageIcon::Information);
}

} // namespace dh
