#include "cache/CacheViewer.h"

#include "app/Helpers.h"
#include "content/ContentType.h"
#include "ports/Prompter.h"
#include "utilities/CopyFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

// Deeper folders than this are not walked: a cache is a few levels deep, and
// every level holds a descriptor open.
constexpr int kMaxWalkDepth = 64;

enum class Reach { Missing, Readable, Unreadable, Unsafe };

struct OpenedFolder {
    Reach reach = Reach::Missing;
    FileHandle fd;  // open for listing when reach is Readable
    uid_t owner = 0;
};

// Opens the cache folder below home (e.g. "/.cache/DocHarvest/webengine") one
// step at a time, never through a link, so that nobody can point the walk (and
// the deletions after it) at someone else's files: a step that is a link, or a
// cache folder not owned by the home's user, is Unsafe. Every step must be
// searchable and the last one readable; a step that cannot be searched makes
// the rest unknowable, which counts as unreadable, not as missing.
OpenedFolder openCacheFolder(const QString& home, const QString& below, std::optional<uid_t> uid)
{
    OpenedFolder out;
    const QStringList steps = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (steps.isEmpty() || steps.contains(QLatin1String("..")) || steps.contains(QLatin1String(".")))
        return out;
    FileHandle cur(::open(QFile::encodeName(QDir::cleanPath(home)).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!cur) {
        out.reach = errno == EACCES ? Reach::Unreadable : Reach::Missing;
        return out;
    }
    struct stat st {};
    if (!uid) {
        if (::fstat(cur.get(), &st) != 0)
            return out;
        uid = st.st_uid;
    }
    for (int i = 0; i < steps.size(); ++i) {
        const QByteArray name = QFile::encodeName(steps[i]);
        const bool last = i + 1 == steps.size();
        if (::fstatat(cur.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            out.reach = errno == EACCES ? Reach::Unreadable : Reach::Missing;
            return out;
        }
        if (S_ISLNK(st.st_mode)) {
            out.reach = Reach::Unsafe;
            return out;
        }
        if (!S_ISDIR(st.st_mode))
            return out;
        if (last && ::faccessat(cur.get(), name.constData(), R_OK | X_OK, 0) != 0) {
            out.reach = Reach::Unreadable;
            return out;
        }
        FileHandle next(::openat(cur.get(), name.constData(), (last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            out.reach = errno == EACCES ? Reach::Unreadable : errno == ELOOP ? Reach::Unsafe : Reach::Missing;
            return out;
        }
        cur = std::move(next);
    }
    if (::fstat(cur.get(), &st) != 0)
        return out;
    if (st.st_uid != *uid) {
        out.reach = Reach::Unsafe;
        return out;
    }
    out.reach = Reach::Readable;
    out.fd = std::move(cur);
    out.owner = *uid;
    return out;
}

// The names in an open folder, in name order.
QStringList folderNames(int dirFd)
{
    QStringList names;
    const int copy = ::dup(dirFd);
    if (copy < 0)
        return names;
    DIR* d = ::fdopendir(copy);
    if (!d) {
        ::close(copy);
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names << QFile::decodeName(e->d_name);
    }
    ::closedir(d);
    names.sort();
    return names;
}

QDateTime timeOf(const timespec& t)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

// Walks an open cache folder: every folder's children together, then their
// subtrees in child order; the files in the same order. Nothing is reached
// through a link: a link to a file is listed as a file (deleting it removes
// the link), a link to anything else is left out, and so are pipes, sockets
// and devices, which nobody can copy.
void walkFolder(int dirFd, const QString& path, int depth, const QString& user, AllUsersCache& out,
                const std::atomic<bool>* cancel, std::atomic<int>* found)
{
    QStringList children;
    for (const QString& name : folderNames(dirFd)) {
        if (cancel && *cancel)
            return;
        if (name.compare(QLatin1String("pagefile.sys"), Qt::CaseInsensitive) == 0)
            continue;
        const QByteArray n = QFile::encodeName(name);
        struct stat st {};
        if (::fstatat(dirFd, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // gone during the walk: nothing is left to copy or delete
        if (S_ISDIR(st.st_mode)) {
            children << name;
            out.rememberedFolders << path + name;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            struct stat target {};
            if (::fstatat(dirFd, n.constData(), &target, 0) == 0) {
                if (!S_ISREG(target.st_mode))
                    continue;
                st = target;
            }
        } else if (!S_ISREG(st.st_mode)) {
            continue;
        }
        CacheEntry row;
        row.url = kUserPrefix + user;
        row.type = urlFileType(path + name);
        row.size = QString::number(qint64(st.st_size));
        row.filePath = path + name;
        row.modified = timeOf(st.st_mtim);
        row.accessed = timeOf(st.st_atim);
        out.rows.push_back(std::move(row));
        if (found)
            ++*found;
    }
    if (depth >= kMaxWalkDepth)
        return;
    for (const QString& child : children) {
        if (cancel && *cancel)
            return;
        const FileHandle sub(::openat(dirFd, QFile::encodeName(child).constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub)
            walkFolder(sub.get(), path + child + QLatin1Char('/'), depth + 1, user, out, cancel, found);
    }
}

// The listed cache folder that holds path (the longest one), or null.
const CacheUserRow* cacheFolderOf(const std::vector<CacheUserRow>& users, const QString& path)
{
    const CacheUserRow* best = nullptr;
    for (const CacheUserRow& u : users) {
        if (!u.home.isEmpty() && path.startsWith(u.folder) && path.size() > u.folder.size()
            && (!best || u.folder.size() > best->folder.size()))
            best = &u;
    }
    return best;
}

// The folder holding path, below a listed cache folder, opened the way the
// walk went: from the home folder, never through a link, the cache folder
// still its user's. Sets *name to the last part of path.
FileHandle openParentBelowCache(const std::vector<CacheUserRow>& users, const QString& path, QByteArray* name)
{
    const CacheUserRow* u = cacheFolderOf(users, path);
    if (!u)
        return FileHandle();
    OpenedFolder top = openCacheFolder(u->home, u->below, u->owner);
    if (top.reach != Reach::Readable)
        return FileHandle();
    QStringList parts = path.mid(u->folder.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.contains(QLatin1String("..")) || parts.contains(QLatin1String(".")))
        return FileHandle();
    *name = QFile::encodeName(parts.takeLast());
    FileHandle cur = std::move(top.fd);
    for (const QString& p : parts) {
        FileHandle next(::openat(cur.get(), QFile::encodeName(p).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next)
            return FileHandle();
        cur = std::move(next);
    }
    return cur;
}

// Removes a file (or, with folder, an empty folder) found by the all-users
// walk, reaching it again without following any link. A link goes itself,
// never what it points to.
bool removeBelowCache(const std::vector<CacheUserRow>& users, const QString& path, bool folder)
{
    QByteArray name;
    const FileHandle parent = openParentBelowCache(users, path, &name);
    if (!parent)
        return false;
    struct stat st {};
    if (::fstatat(parent.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (folder != S_ISDIR(st.st_mode))
        return false;
    return ::unlinkat(parent.get(), name.constData(), folder ? AT_REMOVEDIR : 0) == 0;
}

// Whether a file of the all-users walk is still a regular file (or a link to
// one) reached without passing through a link: only such a file is copied,
// so that a pipe put in its place cannot hold the copy up.
bool stillRegularBelowCache(const std::vector<CacheUserRow>& users, const QString& path)
{
    QByteArray name;
    const FileHandle parent = openParentBelowCache(users, path, &name);
    struct stat st {};
    return parent && ::fstatat(parent.get(), name.constData(), &st, 0) == 0 && S_ISREG(st.st_mode);
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
        out.push_back(UserHome{QString::fromLocal8Bit(pw->pw_name), home, pw->pw_uid});
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

QString displayAddress(const QString& url)
{
    if (!url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return url;
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isValid() ? parsed.toDisplayString() : url;
}

QString addressCellText(const CacheEntry& row)
{
    const QString address = displayAddress(row.url);
    return row.title.isEmpty() ? address : address + QStringLiteral(" — ") + row.title;
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

void walkCacheFolders(const CacheLocations& locations, AllUsersCache& out, const std::atomic<bool>* cancel,
                      std::atomic<int>* found)
{
    const std::vector<UserHome> homes = locations.userHomes ? locations.userHomes() : std::vector<UserHome>{};
    for (const UserHome& h : homes) {
        if (cancel && *cancel)
            return;
        bool unreadable = false;
        for (const QString& name : locations.cacheFolderNames) {
            OpenedFolder opened = openCacheFolder(h.home, name, h.uid);
            if (opened.reach == Reach::Unreadable)
                unreadable = true;
            if (opened.reach == Reach::Unsafe)
                ++out.skippedFolders;
            if (opened.reach != Reach::Readable)
                continue;
            const QString folder = QDir::cleanPath(h.home) + name + QLatin1Char('/');
            out.users.push_back(CacheUserRow{h.user, folder, h.home, name, opened.owner});
            walkFolder(opened.fd.get(), folder, 0, h.user, out, cancel, found);
        }
        if (unreadable)
            ++out.skippedHomes;
    }
}

} // namespace

AllUsersCache walkAllUsersCache(const CacheLocations& locations, const std::atomic<bool>* cancel,
                                std::atomic<int>* found)
{
    AllUsersCache out;
    walkCacheFolders(locations, out, cancel, found);
    for (const QString& f : out.rememberedFolders) {
        if (!f.isEmpty())
            out.folders << f;
    }
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
    row.title = result.title;
    return *it;
}

bool CacheViewer::materialize(int i)
{
    if (i < 0 || i >= static_cast<int>(rows.size()))
        return false;
    CacheEntry& row = rows[static_cast<std::size_t>(i)];
    if (row.id.isEmpty())  // a file of the all-users walk
        return !row.filePath.isEmpty() && stillRegularBelowCache(users, row.filePath);
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
    skippedFolders = found.skippedFolders;
    m_rowOfId.clear();
    countText = countLine(rows.size());
    if (skippedHomes > 0)
        countText += QStringLiteral("（跳过%1 个无法读取的用户文件夹）").arg(skippedHomes);
    if (skippedFolders > 0)
        countText += QStringLiteral("（跳过%1 个是链接或不属于其用户的缓存文件夹）").arg(skippedFolders);
    viewMode = kAll;
}

void CacheViewer::deleteRow(const CacheEntry& row)
{
    if (row.url.startsWith(kUserPrefix)) {
        if (row.type.toLower() != QLatin1String("txt") && !row.filePath.isEmpty())
            removeBelowCache(users, row.filePath, false);
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
        if (cacheFolderOf(users, *it)) {
            removeBelowCache(users, *it, true);  // refuses a folder that still holds anything
            continue;
        }
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
    // Only the running user's own folders: a program one user runs never
    // deletes what another user keeps.
    CacheLocations own = locations;
    own.userHomes = [all = locations.userHomes] {
        std::vector<UserHome> mine;
        for (UserHome& h : all ? all() : std::vector<UserHome>{}) {
            struct stat st {};
            if (h.uid ? *h.uid == ::geteuid()
                      : ::stat(QFile::encodeName(h.home).constData(), &st) == 0 && st.st_uid == ::geteuid())
                mine.push_back(std::move(h));
        }
        return mine;
    };
    CacheViewer viewer(index, own);
    viewer.listMyCache();
    viewer.deleteAll();
    viewer.listAllUsersCache();
    viewer.deleteAll();
    if (showMessage)
        Prompter::instance().message(QStringLiteral("IE缓存清空完毕！"), MessageIcon::Information);
}

} // namespace dh
