// The cache viewer's lists and operations over a fake index and real folders.
#include "cache/CacheListing.h"
#include "cache/CacheViewer.h"
#include "ports/Prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace dh;

namespace {

void touch(const QString& path, int bytes = 1)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(bytes, 'a'));
}

CacheIndex::Item item(const QString& url, bool normal, const QString& localFile = {})
{
    CacheIndex::Item i;
    i.id = url;  // the fake's ids are the addresses
    i.url = url;
    i.normal = normal;
    i.localFile = localFile;
    return i;
}

struct FakeIndex : CacheIndex {
    std::vector<Item> items;
    std::map<QString, QString> files;      // what entryFile writes out, by id
    std::map<QString, CheckResult> checks;  // body check results, by id (default intact)
    QStringList deleted;
    QStringList asked;  // ids whose local file was asked for
    using CacheIndex::list;
    void list(const ItemSink& sink, const std::atomic<bool>*) override
    {
        for (Item i : items)
            sink(std::move(i));
    }
    CheckResult check(const QString& id, const std::atomic<bool>* = nullptr) override
    {
        auto it = checks.find(id);
        return it == checks.end() ? CheckResult{State::Intact, {}} : it->second;
    }
    LocalFile entryFile(const QString& id) override
    {
        asked << id;
        auto it = files.find(id);
        if (it == files.end())
            return {{}, State::Undecodable, QStringLiteral("no body")};
        return {it->second, State::Intact, {}};
    }
    bool deleteEntry(const QString& id) override
    {
        deleted << id;
        std::erase_if(items, [&](const Item& i) { return i.id == id; });
        return true;
    }
};

// A list of user homes below root: name -> root/name.
std::function<std::vector<UserHome>()> homesBelow(const QString& root, const QStringList& names)
{
    return [=] {
        std::vector<UserHome> out;
        for (const QString& n : names)
            out.push_back(UserHome{n, root + n});
        return out;
    };
}

} // namespace

TEST(GetUrlFileType, Table)
{
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/dir/report.pdf?id=1", "pdf"},
        {"http://h/get.asp?file=a.pdf", "asp"},
        {"http://h/dir/", ""},
        {"http://h/dir/readme", ""},
        {"http://h/a/archive.backup", "backup"},  // six characters still count
        {"http://h/a/archive.backups", ""},
        {"http://h/a/b.PDF", "PDF"},
        {"http://h/page.html#top", "html"},
        {"http://h/r?u=http://x/y.pdf", ""},
        {"/home/u/.cache/AB12CD34/file[1].pdf", "pdf"},
        {"C:\\x\\AB12CD34\\file[1].doc", "doc"},
        {"", ""},
        {"http://h/a.tar.gz", "gz"},
        {"http://h/a. xls ", "xls"},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(urlFileType(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(CacheViewerTest, AddressesAreShownDecoded)
{
    const std::pair<const char*, const char*> cases[] = {
        {"https://s.test/search?q=%E6%9C%BA%E6%A2%B0%E8%AE%BE%E8%AE%A1+filetype%3Apdf",
         "https://s.test/search?q=机械设计+filetype%3Apdf"},
        {"http://h.test/%E6%95%99%E7%A8%8B.pdf", "http://h.test/教程.pdf"},
        {"http://h.test/a%20b.doc", "http://h.test/a b.doc"},
        {"用户:second", "用户:second"},  // the all-users rows are not addresses
        {"http://h.test/bad%zz", "http://h.test/bad%zz"},  // not an address QUrl accepts: as it is
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(displayAddress(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(CacheViewerTest, MyCacheListsNormalEntriesWithTheirFiles)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.pdf"));
    touch(file, 1234);
    const QString hidden = dir.filePath(QStringLiteral(".h.pdf"));
    touch(hidden, 5);
    FakeIndex idx;
    idx.items = {item(QStringLiteral("http://h/a.pdf"), true, file), item(QStringLiteral("http://h/skip.pdf"), false),
                 item(QStringLiteral("http://h/gone.doc"), true, dir.filePath(QStringLiteral("gone.doc"))),
                 item(QStringLiteral("http://h/hidden.pdf"), true, hidden)};
    CacheViewer v(&idx, {});
    EXPECT_EQ(v.countText, QStringLiteral("000"));
    v.listMyCache();
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.countText, QStringLiteral("共有3 个文件"));
    EXPECT_EQ(v.viewMode, QStringLiteral("我的缓存"));
    EXPECT_EQ(v.rows[0].type, QStringLiteral("pdf"));
    EXPECT_EQ(v.rows[0].size, QStringLiteral("1234"));
    EXPECT_EQ(v.rows[0].filePath, file);
    EXPECT_EQ(v.rows[1].type, QStringLiteral("doc"));
    EXPECT_TRUE(v.rows[1].size.isEmpty());
    EXPECT_TRUE(v.rows[1].filePath.isEmpty());
    EXPECT_TRUE(v.rows[2].filePath.isEmpty());  // hidden files are not offered
    EXPECT_TRUE(idx.asked.isEmpty());           // listing writes no local file
}

TEST(CacheViewerTest, DamagedRowsAreShownButNeverCopied)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.pdf"));
    touch(good, 7);
    FakeIndex idx;
    CacheIndex::Item damaged = item(QStringLiteral("http://h/bad.pdf"), false);
    damaged.state = CacheIndex::State::Damaged;
    damaged.reason = QStringLiteral("键的SHA-256不符");
    idx.items = {item(QStringLiteral("http://h/good.pdf"), true), damaged, item(QStringLiteral("http://h/late.pdf"), true),
                 item(QStringLiteral("http://h/br.pdf"), true)};
    idx.files[QStringLiteral("http://h/good.pdf")] = good;
    idx.files[QStringLiteral("http://h/late.pdf")] = good;
    CacheViewer v(&idx, {});
    v.listMyCache();
    ASSERT_EQ(v.rows.size(), 4u);  // the damaged one is shown although not normal
    EXPECT_EQ(stateText(v.rows[1]), QStringLiteral("损坏"));
    EXPECT_EQ(v.rows[1].reason, QStringLiteral("键的SHA-256不符"));
    // A body check that fails later turns its row damaged.
    EXPECT_EQ(v.applyCheck(QStringLiteral("http://h/late.pdf"), {CacheIndex::State::Damaged, QStringLiteral("crc")}), 2);
    int refused = 0;
    const QStringList files = v.selectedFilePaths({0, 1, 2, 3}, &refused);
    EXPECT_EQ(files, QStringList{good});
    EXPECT_EQ(refused, 3);
    // Damaged rows never reach the index's body; the undecodable one says why.
    EXPECT_EQ(idx.asked, (QStringList{QStringLiteral("http://h/good.pdf"), QStringLiteral("http://h/br.pdf")}));
    EXPECT_EQ(v.rows[3].state, CacheIndex::State::Undecodable);
    EXPECT_EQ(v.rows[3].reason, QStringLiteral("no body"));
    EXPECT_EQ(v.rows[0].size, QStringLiteral("7"));
    // Asked again, the local file is not written again.
    v.selectedFilePaths({0});
    EXPECT_EQ(idx.asked.size(), 2);
}

TEST(CacheViewerTest, ListingOnAWorkerFillsRowsAndStates)
{
    FakeIndex idx;
    for (int i = 0; i < 2500; ++i)
        idx.items.push_back(item(QStringLiteral("http://h/%1.pdf").arg(i), true));
    idx.checks[QStringLiteral("http://h/7.pdf")] = {CacheIndex::State::Damaged, QStringLiteral("crc")};
    CacheViewer v(&idx, {});
    CacheListing listing(&v);
    int added = 0, batches = 0;
    bool done = false;
    QObject::connect(&listing, &CacheListing::rowsAdded, [&](int first, int count) {
        EXPECT_EQ(first, added);
        added += count;
        ++batches;
    });
    QObject::connect(&listing, &CacheListing::finished, [&] { done = true; });
    listing.start();
    EXPECT_TRUE(v.rows.empty());  // nothing on the caller's thread yet
    QElapsedTimer t;
    t.start();
    while (!done && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_TRUE(done);
    EXPECT_EQ(added, 2500);
    EXPECT_GE(batches, 3);  // filled in steps
    EXPECT_EQ(v.countText, QStringLiteral("共有2500 个文件"));
    EXPECT_EQ(v.rows[7].state, CacheIndex::State::Damaged);
    EXPECT_EQ(v.rows[8].state, CacheIndex::State::Intact);
    EXPECT_FALSE(listing.running());
}

TEST(CacheViewerTest, DeleteRulesAndRebuild)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.pdf")), c = dir.filePath(QStringLiteral("c.pdf"));
    touch(a);
    touch(c);
    QFile::setPermissions(a, QFile::ReadOwner);  // read-only goes as well
    FakeIndex idx;
    idx.items = {item(QStringLiteral("http://h/a.pdf"), true, a), item(QStringLiteral("http://h/Cookie/c.pdf"), true, c),
                 item(QStringLiteral("http://h/b.pdf"), true)};
    CacheViewer v(&idx, {});
    v.deleteSelected({0});  // an empty list: nothing at all
    EXPECT_TRUE(idx.deleted.isEmpty());
    v.listMyCache();
    v.deleteSelected({1, 0});
    EXPECT_EQ(idx.deleted, QStringList{QStringLiteral("http://h/a.pdf")});
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(c));  // cookie rows are never touched
    ASSERT_EQ(v.rows.size(), 2u);       // rebuilt from the index
    v.deleteAll();
    EXPECT_EQ(idx.deleted.size(), 2);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_TRUE(v.rows[0].url.contains(QStringLiteral("Cookie")));
}

TEST(CacheViewerTest, NoRebuildBeforeAnyListing)
{
    FakeIndex idx;
    idx.items = {item(QStringLiteral("http://h/a.pdf"), true)};
    CacheViewer v(&idx, {});
    v.deleteAll();
    EXPECT_TRUE(v.rows.empty());
    EXPECT_TRUE(v.viewMode.isEmpty());
}

TEST(CacheViewerTest, AllUsersWalkOrderDeleteAndEmptyFolders)
{
    QTemporaryDir root;
    const QString r = root.path() + QLatin1Char('/');
    // alice has both cache folders, bob one, carol none.
    const QString ac = r + QStringLiteral("alice/.cache/DH/web");
    const QString as = r + QStringLiteral("alice/.cache/DH/files");
    touch(ac + QStringLiteral("/A/A1/deep.pdf"), 10);
    touch(ac + QStringLiteral("/A/x.doc"), 9);
    touch(ac + QStringLiteral("/B/keep.txt"), 3);
    touch(ac + QStringLiteral("/B/.hidden.pdf"), 100);
    touch(ac + QStringLiteral("/PageFile.SYS"), 1);
    touch(as + QStringLiteral("/s/one.xls"), 2);
    touch(r + QStringLiteral("bob/.cache/DH/web/b.ppt"), 4);
    QDir().mkpath(r + QStringLiteral("carol/other"));
    // A link to a folder is not a file; a link to a file outside is listed and,
    // when deleted, only the link goes.
    QTemporaryDir outside;
    touch(outside.filePath(QStringLiteral("sub/x.pdf")), 5);
    touch(outside.filePath(QStringLiteral("target.pdf")), 6);
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("sub")), r + QStringLiteral("bob/.cache/DH/web/dirlink")));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("target.pdf")), r + QStringLiteral("bob/.cache/DH/web/l.pdf")));
    CacheLocations loc{QString(), homesBelow(r, {QStringLiteral("alice"), QStringLiteral("bob"), QStringLiteral("carol"),
                                                 QStringLiteral("nobody")}),
                       {QStringLiteral("/.cache/DH/web"), QStringLiteral("/.cache/DH/files")}};
    CacheViewer v(nullptr, loc);
    v.listAllUsersCache();
    ASSERT_EQ(v.users.size(), 3u);
    EXPECT_EQ(v.users[0].user, QStringLiteral("alice"));
    EXPECT_EQ(v.users[0].folder, ac + QLatin1Char('/'));
    EXPECT_EQ(v.users[1].folder, as + QLatin1Char('/'));
    EXPECT_EQ(v.users[2].user, QStringLiteral("bob"));
    // Children of a folder before any grandchild.
    EXPECT_EQ(v.folders, (QStringList{ac + QStringLiteral("/A"), ac + QStringLiteral("/B"),
                                      ac + QStringLiteral("/A/A1"), as + QStringLiteral("/s")}));
    QStringList files;
    for (const auto& row : v.rows) {
        files << row.filePath;
        EXPECT_TRUE(row.url.startsWith(QStringLiteral("用户:")));
    }
    EXPECT_EQ(v.rows.size(), 7u) << files.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(files.join(QLatin1Char(' ')).contains(QStringLiteral("PageFile"), Qt::CaseInsensitive));
    EXPECT_FALSE(files.join(QLatin1Char(' ')).contains(QStringLiteral("dirlink")));
    EXPECT_TRUE(files.contains(ac + QStringLiteral("/B/.hidden.pdf")));
    EXPECT_EQ(v.countText, QStringLiteral("共有7 个文件"));

    // A second listing gives the same lists.
    const QStringList remembered = v.rememberedFolders;
    v.listAllUsersCache();
    EXPECT_EQ(v.rememberedFolders, remembered);

    v.deleteAll();
    // Only the txt file is left; emptied folders are gone deepest first.
    EXPECT_TRUE(QFileInfo::exists(ac + QStringLiteral("/B/keep.txt")));
    EXPECT_FALSE(QFileInfo::exists(ac + QStringLiteral("/A")));
    EXPECT_FALSE(QFileInfo::exists(as + QStringLiteral("/s")));
    EXPECT_TRUE(QFileInfo::exists(ac));  // the cache folders themselves stay
    EXPECT_FALSE(QFileInfo(r + QStringLiteral("bob/.cache/DH/web/l.pdf")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral("target.pdf"))));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral("sub/x.pdf"))));
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].type, QStringLiteral("txt"));
}

TEST(CacheViewerTest, SortBySizeIsNumericAndFlips)
{
    CacheViewer v(nullptr, {});
    for (const char* s : {"100", "9", "", "10", "0"})
    {
        CacheEntry e;
        e.url = e.size = QString::fromLatin1(s);
        v.rows.push_back(e);
    }
    auto sizes = [&] {
        QStringList out;
        for (const auto& r : v.rows)
            out << r.size;
        return out;
    };
    v.sortBy(3);  // first click: descending
    EXPECT_EQ(sizes(), (QStringList{"100", "10", "9", "0", ""}));
    v.sortBy(3);
    EXPECT_EQ(sizes(), (QStringList{"", "0", "9", "10", "100"}));
    v.sortBy(1);  // text order on the URL column, ignoring case
    EXPECT_EQ(v.rows.front().url, QStringLiteral("9"));
}

TEST(CacheViewerTest, ClearBrowserCacheKeepsCookiesAndTxtAndReports)
{
    QTemporaryDir root;
    const QString r = root.path() + QLatin1Char('/');
    const QString web = r + QStringLiteral("u/.cache/DH/web");
    touch(web + QStringLiteral("/x/a.pdf"));
    touch(web + QStringLiteral("/x/n.txt"));
    FakeIndex idx;
    idx.items = {item(QStringLiteral("http://h/a.pdf"), true), item(QStringLiteral("http://h/cookie"), true)};
    ScriptedPrompter prompter;
    Prompter::setInstance(&prompter);
    clearBrowserCache(&idx, {QString(), homesBelow(r, {QStringLiteral("u")}), {QStringLiteral("/.cache/DH/web")}}, true);
    Prompter::setInstance(nullptr);
    EXPECT_EQ(idx.deleted, QStringList{QStringLiteral("http://h/a.pdf")});
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/x/a.pdf")));
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/x/n.txt")));
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("IE缓存清空完毕！")});
}

TEST(CacheLocationsTest, DerivedFromTheCachePath)
{
    const CacheLocations l = defaultCacheLocations(QStringLiteral("/home/ann/.cache/DocHarvest/webengine/Cache/Cache_Data"),
                                                   QStringLiteral("/home/ann/.cache/DocHarvest/cache-files"),
                                                   QStringLiteral("/home/ann"));
    ASSERT_TRUE(bool(l.userHomes));
    EXPECT_EQ(l.cacheFolderNames, (QStringList{QStringLiteral("/.cache/DocHarvest/webengine"),
                                               QStringLiteral("/.cache/DocHarvest/cache-files")}));
    const CacheLocations root = defaultCacheLocations(QStringLiteral("/root/.cache/DocHarvest/webengine/Cache"),
                                                      QStringLiteral("/elsewhere/files"), QStringLiteral("/root"));
    EXPECT_EQ(root.cacheFolderNames.last(), QStringLiteral("/.cache/DocHarvest/cache-files"));
}

TEST(CacheViewerTest, UsersComeFromThePasswordDatabaseAndUnreadableHomesAreCounted)
{
    // The running user is in the password database with its home folder.
    const passwd* me = getpwuid(geteuid());
    ASSERT_TRUE(me);
    bool found = false;
    for (const UserHome& h : systemUserHomes())
        found = found || h.home == QDir::cleanPath(QFile::decodeName(me->pw_dir));
    EXPECT_TRUE(found);

    QTemporaryDir root;
    const QString r = root.path() + QLatin1Char('/');
    touch(r + QStringLiteral("open/.cache/DH/web/a.pdf"));
    touch(r + QStringLiteral("shut/.cache/DH/web/b.pdf"));
    QFile::setPermissions(r + QStringLiteral("shut/.cache"), QFile::Permissions());
    const CacheLocations loc{QString(), homesBelow(r, {QStringLiteral("open"), QStringLiteral("shut")}),
                             {QStringLiteral("/.cache/DH/web")}};
    // The walk itself, as a worker runs it: counting its rows, or stopped at once.
    std::atomic<int> counted{0};
    const AllUsersCache walked = walkAllUsersCache(loc, nullptr, &counted);
    const std::atomic<bool> stopped{true};
    const AllUsersCache none = walkAllUsersCache(loc, &stopped);
    CacheViewer v(nullptr, loc);
    v.listAllUsersCache();
    QFile::setPermissions(r + QStringLiteral("shut/.cache"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_GE(v.users.size(), 1u);
    EXPECT_EQ(v.users[0].user, QStringLiteral("open"));
    ASSERT_EQ(walked.rows.size(), v.rows.size());
    EXPECT_EQ(counted, static_cast<int>(v.rows.size()));
    EXPECT_EQ(walked.rows[0].filePath, v.rows[0].filePath);
    EXPECT_TRUE(none.users.empty() && none.rows.empty());

    // What an ordinary user sees of the shut home. Root reads every folder,
    // so as root the listing runs in a child that has become nobody.
    const auto listAsUser = [&] {
        QFile::setPermissions(r + QStringLiteral("shut/.cache"), QFile::Permissions());
        CacheViewer u(nullptr, loc);
        u.listAllUsersCache();
        return QStringLiteral("%1 %2 %3 %4")
            .arg(u.users.size())
            .arg(u.skippedHomes)
            .arg(walkAllUsersCache(loc).skippedHomes)
            .arg(u.countText);
    };
    const QString want = QStringLiteral("1 1 1 共有1 个文件（跳过1 个无法读取的用户文件夹）");
    if (geteuid() != 0) {
        EXPECT_EQ(listAsUser(), want);
        return;
    }
    QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                           | QFile::ExeOther);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const QByteArray text = listAsUser().toUtf8();
        const bool written = ::write(out[1], text.constData(), size_t(text.size())) == text.size();
        ::_exit(written ? 0 : 4);
    }
    ::close(out[1]);
    QByteArray got;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        got.append(buf, n);
    ::close(out[0]);
    int status = -1;
    ::waitpid(pid, &status, 0);
    QFile::setPermissions(r + QStringLiteral("shut/.cache"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "root here cannot become nobody";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(QString::fromUtf8(got), want);
}

namespace {

// Folders that stay keep their permissions; empty ones still go.
TEST(CacheViewerTest, EmptyFolderRemovalLeavesKeptFoldersPermissionsAlone)
{
    QTemporaryDir dir;
    const QString kept = dir.filePath(QStringLiteral("kept"));
    const QString empty = dir.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkpath(kept + QStringLiteral("/inner")));
    ASSERT_TRUE(QDir().mkpath(empty));
    const auto readOnly = QFile::ReadOwner | QFile::ExeOwner;
    ASSERT_TRUE(QFile::setPermissions(kept, readOnly));
    ASSERT_TRUE(QFile::setPermissions(empty, readOnly));
    FakeIndex idx;
    CacheViewer v(&idx, {});
    v.rememberedFolders = {kept, empty};
    v.removeEmptyFolders();
    EXPECT_EQ(QFile::permissions(kept) & 0x7000, QFileDevice::Permissions(readOnly) & 0x7000);
    EXPECT_TRUE(QFileInfo::exists(kept + QStringLiteral("/inner")));
    EXPECT_FALSE(QFileInfo::exists(empty));
    QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
