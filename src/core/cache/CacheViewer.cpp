#include "cache/CacheViewer.h"

#include "app/Helpers.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

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

// A regular file that is not hidden: what the viewer treats as a usable file.
bool isNormalFile(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() && fi.isFile() && !fi.isHidden();
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

// The walk shared by ListSubFolders and ListFiles.
void walk(QString& path, QStringList& list, bool deep, bool wantFolders)
{
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
        // A link is listed as an entry of its own and never walked into, so
        // that a link cannot lead the walk in circles or out of the cache.
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
        walk(sub, list, deep, wantFolders);
    }
}

} // namespace

CacheLocations defaultCacheLocations(const QString& httpCacheFolder, const QString& sidecarFolder,
                                     const QString& homeFolder)
{
    CacheLocations loc;
    loc.currentCachePath = httpCacheFolder;
    const int at = httpCacheFolder.indexOf(QLatin1String("/home/"));
    if (at >= 0)
        loc.profileRoot = httpCacheFolder.left(at + 6);
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

QString GetUrlFileType(const QString& urlOrPath)
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
    const QString ext = TrimSpaces(s.mid(dot + 1));
    return ext.size() <= 6 ? ext : QString();
}

void ListSubFolders(QString& path, QStringList& list, bool deep)
{
    if (!path.startsWith(QLatin1Char('/')))
        return;
    walk(path, list, deep, true);
}

void ListFiles(QString& path, QStringList& list, bool deep)
{
    if (path.isEmpty())
        return;
    walk(path, list, deep, false);
}

void 强制删除(const QString& path)
{
    if (path.isEmpty())
        return;
    const QFileInfo fi(path);
    // Only the file's own bits; a link is removed, never its target.
    if (!fi.isSymLink())
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ReadOwner);
    QFile::remove(path);
}

CacheViewer::CacheViewer(CacheIndex* index, CacheLocations locations)
    : m_index(index), m_locations(std::move(locations))
{
}

void CacheViewer::Command1_Click()
{
    GetCacheURLList();
    viewMode = kMine;
}

void CacheViewer::GetCacheURLList()
{
    rows.clear();
    if (!m_index) {
        countText = countLine(0);
        return;
    }
    bool failed = false;
    try {
        for (const CacheIndex::Item& item : m_index->list()) {
            if (!item.normal)
                continue;
            rows.push_back(CacheEntry{item.url, GetUrlFileType(item.url), {}, {}});
        }
    } catch (const std::exception&) {
        failed = true;
    }
    countText = countLine(rows.size(), failed);
    if (!failed)
        判断文件在缓存中文件路径();
}

void CacheViewer::判断文件在缓存中文件路径()
{
    if (!m_index)
        return;
    for (CacheEntry& row : rows) {
        std::optional<QString> file;
        try {
            file = m_index->entryFile(row.url);
        } catch (const std::exception&) {
            continue;
        }
        if (!file || file->isEmpty() || !isNormalFile(*file))
            continue;
        row.filePath = *file;
        row.size = QString::number(QFileInfo(*file).size());
    }
}

void CacheViewer::Command7_Click()
{
    rows.clear();
    ListCacheUsers();
    for (const CacheUserRow& u : users)
        ListUserCacheFiles(u.folder, u.user);
    countText = countLine(rows.size());
    viewMode = kAll;
}

void CacheViewer::ListCacheUsers()
{
    rememberedFolders.clear();
    users.clear();
    folders.clear();
    QStringList profiles;
    QString root = m_locations.profileRoot;
    if (!root.isEmpty())
        ListSubFolders(root, profiles, false);
    for (const QString& profile : profiles) {
        QString u = profile;
        while (u.endsWith(QLatin1Char('/')))
            u.chop(1);
        const QString user = u.mid(u.lastIndexOf(QLatin1Char('/')) + 1);
        for (const QString& name : m_locations.cacheFolderNames) {
            QString folder = u + name;
            if (!FolderExists(folder))
                continue;
            ListSubFolders(folder, rememberedFolders, true);
            users.push_back(CacheUserRow{user, folder});
        }
    }
    for (const QString& f : rememberedFolders) {
        if (!f.isEmpty())
            folders << f;
    }
}

void CacheViewer::ListUserCacheFiles(const QString& folder, const QString& user)
{
    QStringList files;
    QString p = folder;
    ListFiles(p, files, true);
    for (const QString& f : files) {
        const QFileInfo fi(f);
        // A file gone during the walk is not listed: nothing is left to copy or delete.
        if (!fi.exists() && !fi.isSymLink())
            continue;
        rows.push_back(CacheEntry{kUserPrefix + user, GetUrlFileType(f), QString::number(fi.size()), f});
    }
}

void CacheViewer::deleteRow(const CacheEntry& row)
{
    if (row.url.startsWith(kUserPrefix)) {
        if (row.type.toLower() != QLatin1String("txt") && !row.filePath.isEmpty())
            强制删除(row.filePath);
        return;
    }
    if (row.url.isEmpty() || row.url.contains(QLatin1String("Cookie"), Qt::CaseInsensitive))
        return;
    if (m_index) {
        try {
            m_index->deleteEntry(row.url);
        } catch (const std::exception&) {
        }
    }
    if (!row.filePath.isEmpty())
        强制删除(row.filePath);
}

void CacheViewer::rebuild()
{
    if (viewMode == kMine)
        Command1_Click();
    else if (viewMode == kAll)
        Command7_Click();
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
    删除空文件夹();
    rebuild();
}

void CacheViewer::Command3_Click()
{
    const std::vector<CacheEntry> all = rows;
    for (const CacheEntry& row : all)
        deleteRow(row);
    删除空文件夹();
    rebuild();
}

void CacheViewer::删除空文件夹()
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
    if (column < 1 || column > 4)
        return;
    sortColumn = column;
    descending = !descending;
    auto cell = [column](const CacheEntry& e) -> const QString& {
        switch (column) {
        case 1: return e.url;
        case 2: return e.type;
        case 3: return e.size;
        default: return e.filePath;
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
}

QStringList CacheViewer::selectedFilePaths(const std::vector<int>& selectedRows) const
{
    std::vector<int> sel = selectedRows;
    std::sort(sel.begin(), sel.end());
    sel.erase(std::unique(sel.begin(), sel.end()), sel.end());
    QStringList out;
    for (int i : sel) {
        if (i >= 0 && i < static_cast<int>(rows.size()) && !rows[static_cast<std::size_t>(i)].filePath.isEmpty())
            out << rows[static_cast<std::size_t>(i)].filePath;
    }
    return out;
}

void ClearBrowserCache(CacheIndex* index, const CacheLocations& locations, bool showMessage)
{
    CacheViewer viewer(index, locations);
    viewer.Command1_Click();
    viewer.Command3_Click();
    viewer.Command7_Click();
    viewer.Command3_Click();
    if (showMessage)
        Prompter::instance().message(QStringLiteral("IE缓存清空完毕！"), MessageIcon::Information);
}

} // namespace dh
