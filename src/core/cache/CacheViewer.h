#pragma once
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace dh {

// One row of the cache viewer's main list. "URL" holds "用户:" + user name for
// rows of the all-users walk.
struct CacheEntry {
    QString url;       // "URL"
    QString type;      // "TYPE"
    QString size;      // "SIZE(Byte)"
    QString filePath;  // "FilePath"
};

// One row of the users list.
struct CacheUserRow {
    QString user;    // "用户名"
    QString folder;  // "文件夹", ending with "/"
};

// The current user's browser cache index, as the viewer needs it: per entry its
// address and whether it is a normal (complete, successful) entry; per address
// the local file holding its body; removal of an address's entries.
class CacheIndex {
public:
    struct Item {
        QString url;
        bool normal = false;
    };
    virtual ~CacheIndex() = default;
    virtual std::vector<Item> list() = 0;
    // The local file for the address, or nullopt when the index has no entry.
    virtual std::optional<QString> entryFile(const QString& url) = 0;
    // Removes every entry of the address; true when one was removed.
    virtual bool deleteEntry(const QString& url) = 0;
};

// Where the cache folders lie: the current user's cache folder, the folder
// holding every user's home folder, and the cache folder names below a home
// folder (each beginning with "/").
struct CacheLocations {
    QString currentCachePath;
    QString profileRoot;
    QStringList cacheFolderNames;
};

// The locations of DocHarvest's own caches: the browser's HTTP cache folder and
// the folder of extracted files. The profile root is the current cache path up
// to and including "/home/" (empty when it is not below /home/); the folder
// names are both folders relative to the home folder (the XDG default below
// ".cache" when they lie elsewhere).
CacheLocations defaultCacheLocations(const QString& httpCacheFolder, const QString& sidecarFolder,
                                     const QString& homeFolder);

// The type column for an address or a path: the extension of the last segment
// (at most six characters), after cutting at "#", control characters, the
// characters not allowed in names, "=" and "?". Keeps the input's case.
QString GetUrlFileType(const QString& urlOrPath);

// Appends the subfolders of path to list (at every depth with deep): every
// folder's children together, then their subtrees in child order. Hidden
// entries included; symbolic links to folders are not followed. path gains a
// trailing "/". A path that is not absolute adds nothing.
void ListSubFolders(QString& path, QStringList& list, bool deep);
// The same walk, appending every file instead of the folders.
void ListFiles(QString& path, QStringList& list, bool deep);

// Makes the file writable and deletes it; failures are ignored.
void 强制删除(const QString& path);

// The viewer's lists and operations, free of widgets. The window shows these
// lists; ClearBrowserCache drives one without a window.
class CacheViewer {
public:
    CacheViewer(CacheIndex* index, CacheLocations locations);

    std::vector<CacheEntry> rows;          // ListView1
    std::vector<CacheUserRow> users;       // ListView2
    QStringList folders;                   // ListView3
    QStringList rememberedFolders;         // every folder of the last all-users walk
    QString viewMode;                      // "我的缓存", "所有缓存" or empty
    QString countText = QStringLiteral("000");  // Label1

    // Sort state of the main list: column 1..4 (0 = never sorted).
    int sortColumn = 0;
    bool descending = false;

    // "查看我的缓存"
    void Command1_Click();
    void GetCacheURLList();
    void 判断文件在缓存中文件路径();
    // "查看所有用户缓存"
    void Command7_Click();
    void ListCacheUsers();
    void ListUserCacheFiles(const QString& folder, const QString& user);

    // "删除所选文件": the rows at the given positions (any order).
    void deleteSelected(const std::vector<int>& selectedRows);
    // "全部删除"
    void Command3_Click();
    void 删除空文件夹();
    // A click on header k (1..4).
    void sortBy(int column);
    // The file paths of the selected rows that have one, in list order.
    QStringList selectedFilePaths(const std::vector<int>& selectedRows) const;

    const CacheLocations& locations() const { return m_locations; }

private:
    void deleteRow(const CacheEntry& row);
    void rebuild();

    CacheIndex* m_index;
    CacheLocations m_locations;
};

// Empties the browser cache: lists and deletes the current user's index, then
// the files of all users; shows "IE缓存清空完毕！" when asked to.
void ClearBrowserCache(CacheIndex* index, const CacheLocations& locations, bool showMessage);

} // namespace dh
