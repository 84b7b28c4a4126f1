#pragma once
#include <QString>
#include <QStringList>
#include <QDateTime>
#include <QHash>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace dh {

// The current user's browser cache index, as the viewer needs it. Every entry
// is its own item with a stable id, so one address cached under two sites is
// two items. Listing reads the entries' headers only; a body is read when it
// is checked, and decoded when its local file is asked for.
class CacheIndex {
public:
    enum class State {
        Unchecked,    // headers fine, body not checked yet
        Intact,       // every check held
        Damaged,      // a check failed: never extracted, copied or opened
        Undecodable,  // intact, but its content coding cannot be undone
    };
    struct Item {
        QString id;
        QString url;
        QString site;          // the isolation site, empty without one
        bool normal = false;   // a complete, successful response
        qint64 size = -1;      // the stored body's length; -1 unknown
        QString contentType;
        QDateTime modified;
        QDateTime accessed;
        State state = State::Unchecked;
        QString reason;        // why it is damaged or undecodable
        QString localFile;     // its local file when already written
    };
    struct CheckResult {
        State state = State::Unchecked;
        QString reason;
        QString title;  // an intact web page's <title>, empty for anything else
    };
    struct LocalFile {
        QString path;  // empty when there is none
        State state = State::Unchecked;
        QString reason;
    };
    using ItemSink = std::function<void(Item&&)>;

    virtual ~CacheIndex() = default;
    // Hands every entry to sink in index order; may run on a worker thread.
    // Stops early when *cancel turns true.
    virtual void list(const ItemSink& sink, const std::atomic<bool>* cancel) = 0;
    std::vector<Item> list();
    // Checks the entry's body; may run on a worker thread. Gives up (as
    // unchecked) when *cancel turns true.
    virtual CheckResult check(const QString& id, const std::atomic<bool>* cancel = nullptr) = 0;
    // The entry's local file, written once on first request. A damaged or
    // undecodable entry has none and says why.
    virtual LocalFile entryFile(const QString& id) = 0;
    // Removes the entry and its local file; true when one was removed.
    virtual bool deleteEntry(const QString& id) = 0;
    // A new run of writing local files begins (a copy, an extraction): the
    // run's allowance of decoded bytes is whole again.
    virtual void beginWriteRun() {}
};

// One row of the cache viewer's main list. "URL" holds "用户:" + user name for
// rows of the all-users walk.
struct CacheEntry {
    QString url;       // "URL"
    QString type;      // "TYPE"
    QString size;      // "SIZE(Byte)"
    QString filePath;  // "FilePath"
    QString id;        // the index entry; empty for rows of the all-users walk
    QString site;      // "站点"
    CacheIndex::State state = CacheIndex::State::Unchecked;
    QString reason;    // shown as the row's tooltip
    QString title;     // a web page's title, known once its body is checked
    QDateTime modified;
    QDateTime accessed;
};

// The viewer's state column: "完好", "损坏", "无法解码", "校验中", empty for
// rows of the all-users walk.
QString stateText(const CacheEntry& row);
// "yyyy-MM-dd HH:mm:ss" in local time, empty when invalid.
QString dateText(const QDateTime& t);

// One row of the users list.
struct CacheUserRow {
    QString user;    // "用户名"
    QString folder;  // "文件夹", ending with "/"
    // How the folder was reached, so that deleting and copying reach it the
    // same way again: the home folder, the cache folder's name below it and
    // the user who must own it.
    QString home;
    QString below;
    uid_t owner = 0;
};

struct UserHome {
    UserHome(QString u, QString h, std::optional<uid_t> id = std::nullopt)
        : user(std::move(u)), home(std::move(h)), uid(id)
    {
    }
    QString user;
    QString home;
    std::optional<uid_t> uid;  // unknown: whoever owns the home folder
};
// Every user's home folder from the password database, each folder once.
std::vector<UserHome> systemUserHomes();

// Where the cache folders lie: the current user's cache folder, the users and
// their home folders, and the cache folder names below a home folder (each
// beginning with "/").
struct CacheLocations {
    QString currentCachePath;
    std::function<std::vector<UserHome>()> userHomes;
    QStringList cacheFolderNames;
};

// The locations of DocHarvest's own caches: the browser's HTTP cache folder and
// the folder of extracted files. The users come from the password database;
// the folder names are both folders relative to the home folder (the XDG
// default below ".cache" when they lie elsewhere).
CacheLocations defaultCacheLocations(const QString& httpCacheFolder, const QString& sidecarFolder,
                                     const QString& homeFolder);

// The type column for an address or a path: the extension of the last segment
// (at most six characters), after cutting at "#", control characters, the
// characters not allowed in names, "=" and "?". Keeps the input's case.
QString urlFileType(const QString& urlOrPath);
// A web address as people read it: percent-encoded keywords and names
// decoded ("?q=%E6%95%99%E7%A8%8B" shows "?q=教程"). Anything that is not an
// http or https address is returned as it is.
QString displayAddress(const QString& url);
// The "URL" cell: the decoded address, then a web page's title when known.
QString addressCellText(const CacheEntry& row);

// What a walk over every user's cache folders found: plain data, so that the
// walk can run on a worker thread and the viewer take it over afterwards.
struct AllUsersCache {
    std::vector<CacheUserRow> users;
    QStringList rememberedFolders;  // every folder below the cache folders
    QStringList folders;            // the same, without empty names
    std::vector<CacheEntry> rows;   // one "用户:" row per file, in walk order
    int skippedHomes = 0;           // homes with a cache folder that cannot be read
    int skippedFolders = 0;         // cache folders that are links or not their user's
};
// Walks the cache folders of every user of locations: their folders, then
// their files, each file stat'ed once. Below a home folder no link is ever
// followed: a cache folder reached through a link, or not owned by the home's
// user, is counted in skippedFolders and never entered; inside, links to
// folders are left out, pipes and devices too. Touches nothing but the file
// system and locations.userHomes, so it may run on any thread. Stops early,
// with what it found so far, when *cancel turns true; counts the rows found in
// *found.
AllUsersCache walkAllUsersCache(const CacheLocations& locations, const std::atomic<bool>* cancel = nullptr,
                                std::atomic<int>* found = nullptr);

// Makes the file writable and deletes it; failures are ignored.
void forceDelete(const QString& path);

// The viewer's lists and operations, free of widgets. The window shows these
// lists; clearBrowserCache drives one without a window.
class CacheViewer {
public:
    CacheViewer(CacheIndex* index, CacheLocations locations);

    std::vector<CacheEntry> rows;          // the viewer's m_entriesView
    std::vector<CacheUserRow> users;       // m_usersView
    QStringList folders;                   // m_foldersView
    QStringList rememberedFolders;         // every folder of the last all-users walk
    QString viewMode;                      // "我的缓存", "所有缓存" or empty
    QString countText = QStringLiteral("000");  // the count label's text
    int skippedHomes = 0;                  // unreadable folders of the last all-users walk
    int skippedFolders = 0;                // linked or foreign cache folders of that walk
    // When set, the rebuild after a deletion calls it instead of listing at
    // once (the window lists on a worker thread, after viewMode).
    std::function<void()> relist;

    // Sort state of the main list: column 1..8 (0 = never sorted).
    int sortColumn = 0;
    bool descending = false;

    // "查看我的缓存", all at once (the clearing routine and the command line).
    void listMyCache();
    void cacheUrlList();
    // The same listing in steps, for a listing that runs on a worker thread:
    // begin, add every item, finish.
    void beginListing();
    // Adds the item as a row when the viewer shows it (a normal entry, or a
    // damaged one); returns its row or -1.
    int addItem(const CacheIndex::Item& item);
    void finishListing(bool failed);
    // Records the result of a body check; returns the row or -1.
    int applyCheck(const QString& id, const CacheIndex::CheckResult& result);
    // The text of the count label while a listing runs.
    QString listingText() const;
    static QString listingText(std::size_t listed);

    // Writes the row's local file when it has none yet (decoding its body
    // once); false when it cannot have one (the row then says why).
    bool materialize(int row);
    // The entries among the rows whose local file is still to be written
    // (not damaged, not undecodable), for writing them on a worker thread.
    QStringList idsNeedingFiles(const std::vector<int>& selectedRows) const;
    // Records what the index answered for an entry's local file.
    void applyLocalFile(const QString& id, const CacheIndex::LocalFile& file);

    // "查看所有用户缓存", all at once (the clearing routine and the command line).
    void listAllUsersCache();
    // The same listing with the walk run elsewhere: begin (empties the lists),
    // then hand over what walkAllUsersCache found.
    void beginAllUsersListing();
    void applyAllUsersCache(AllUsersCache&& found);

    // "删除所选文件": the rows at the given positions (any order).
    void deleteSelected(const std::vector<int>& selectedRows);
    // "全部删除"
    void deleteAll();
    void removeEmptyFolders();
    // A click on header k (1..8).
    void sortBy(int column);
    // The local files of the selected rows, in list order, written out first
    // when needed. Damaged and undecodable rows are left out and counted in
    // *refused; a file of the all-users walk is left out unless it is still
    // a regular file reached without passing through a link.
    QStringList selectedFilePaths(const std::vector<int>& selectedRows, int* refused = nullptr);

    const CacheLocations& locations() const { return m_locations; }
    CacheIndex* index() const { return m_index; }

private:
    void deleteRow(const CacheEntry& row);
    void rebuild();
    void reindex();

    CacheIndex* m_index;
    CacheLocations m_locations;
    QHash<QString, int> m_rowOfId;
};

// Empties the browser cache: lists and deletes the current user's index, then
// the files of the current user's own cache folders (never another user's);
// shows "IE缓存清空完毕！" when asked to.
void clearBrowserCache(CacheIndex* index, const CacheLocations& locations, bool showMessage);

} // namespace dh
