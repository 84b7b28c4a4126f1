// The cache viewer's lists and operations over a fake index and real folders.
#include "cache/CacheViewer.h"
#include "platform/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace dh;

namespace {

void touch(const QString& path, int bytes = 1)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(bytes, 'a'));
}

struct FakeIndex : CacheIndex {
    std::vector<Item> items;
    std::map<QString, QString> files;
    QStringList deleted;
    std::vector<Item> list() override { return items; }
    std::optional<QString> entryFile(const QString& url) override
    {
        auto it = files.find(url);
        if (it == files.end())
            return std::nullopt;
        return it->second;
    }
    bool deleteEntry(const QString& url) override
    {
        deleted << url;
        std::erase_if(items, [&](const Item& i) { return i.url == url; });
        return true;
    }
};

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
        EXPECT_EQ(GetUrlFileType(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(CacheViewerTest, MyCacheListsNormalEntriesWithTheirFiles)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.pdf"));
    touch(file, 1234);
    const QString hidden = dir.filePath(QStringLiteral(".h.pdf"));
    touch(hidden, 5);
    FakeIndex idx;
    idx.items = {{QStringLiteral("http://h/a.pdf"), true},
                 {QStringLiteral("http://h/skip.pdf"), false},
                 {QStringLiteral("http://h/gone.doc"), true},
                 {QStringLiteral("http://h/hidden.pdf"), true}};
    idx.files[QStringLiteral("http://h/a.pdf")] = file;
    idx.files[QStringLiteral("http://h/gone.doc")] = dir.filePath(QStringLiteral("gone.doc"));
    idx.files[QStringLiteral("http://h/hidden.pdf")] = hidden;
    CacheViewer v(&idx, {});
    EXPECT_EQ(v.countText, QStringLiteral("000"));
    v.Command1_Click();
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
}

TEST(CacheViewerTest, DeleteRulesAndRebuild)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.pdf")), c = dir.filePath(QStringLiteral("c.pdf"));
    touch(a);
    touch(c);
    QFile::setPermissions(a, QFile::ReadOwner);  // read-only goes as well
    FakeIndex idx;
    idx.items = {{QStringLiteral("http://h/a.pdf"), true},
                 {QStringLiteral("http://h/Cookie/c.pdf"), true},
                 {QStringLiteral("http://h/b.pdf"), true}};
    idx.files[QStringLiteral("http://h/a.pdf")] = a;
    idx.files[QStringLiteral("http://h/Cookie/c.pdf")] = c;
    CacheViewer v(&idx, {});
    v.deleteSelected({0});  // an empty list: nothing at all
    EXPECT_TRUE(idx.deleted.isEmpty());
    v.Command1_Click();
    v.deleteSelected({1, 0});
    EXPECT_EQ(idx.deleted, QStringList{QStringLiteral("http://h/a.pdf")});
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(c));  // cookie rows are never touched
    ASSERT_EQ(v.rows.size(), 2u);       // rebuilt from the index
    v.Command3_Click();
    EXPECT_EQ(idx.deleted.size(), 2);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_TRUE(v.rows[0].url.contains(QStringLiteral("Cookie")));
}

TEST(CacheViewerTest, NoRebuildBeforeAnyListing)
{
    FakeIndex idx;
    idx.items = {{QStringLiteral("http://h/a.pdf"), true}};
    CacheViewer v(&idx, {});
    v.Command3_Click();
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
    CacheLocations loc{QString(), r, {QStringLiteral("/.cache/DH/web"), QStringLiteral("/.cache/DH/files")}};
    CacheViewer v(nullptr, loc);
    v.Command7_Click();
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
    EXPECT_EQ(v.rows.size(), 6u) << files.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(files.join(QLatin1Char(' ')).contains(QStringLiteral("PageFile"), Qt::CaseInsensitive));
    EXPECT_TRUE(files.contains(ac + QStringLiteral("/B/.hidden.pdf")));
    EXPECT_EQ(v.countText, QStringLiteral("共有6 个文件"));

    // A second listing gives the same lists.
    const QStringList remembered = v.rememberedFolders;
    v.Command7_Click();
    EXPECT_EQ(v.rememberedFolders, remembered);

    v.Command3_Click();
    // Only the txt file is left; emptied folders are gone deepest first.
    EXPECT_TRUE(QFileInfo::exists(ac + QStringLiteral("/B/keep.txt")));
    EXPECT_FALSE(QFileInfo::exists(ac + QStringLiteral("/A")));
    EXPECT_FALSE(QFileInfo::exists(as + QStringLiteral("/s")));
    EXPECT_TRUE(QFileInfo::exists(ac));  // the cache folders themselves stay
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].type, QStringLiteral("txt"));
}

TEST(CacheViewerTest, SortBySizeIsNumericAndFlips)
{
    CacheViewer v(nullptr, {});
    for (const char* s : {"100", "9", "", "10", "0"})
        v.rows.push_back(CacheEntry{QString::fromLatin1(s), {}, QString::fromLatin1(s), {}});
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
    idx.items = {{QStringLiteral("http://h/a.pdf"), true}, {QStringLiteral("http://h/cookie"), true}};
    ScriptedPrompter prompter;
    Prompter::setInstance(&prompter);
    ClearBrowserCache(&idx, {QString(), r, {QStringLiteral("/.cache/DH/web")}}, true);
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
    EXPECT_EQ(l.profileRoot, QStringLiteral("/home/"));
    EXPECT_EQ(l.cacheFolderNames, (QStringList{QStringLiteral("/.cache/DocHarvest/webengine"),
                                               QStringLiteral("/.cache/DocHarvest/cache-files")}));
    const CacheLocations root = defaultCacheLocations(QStringLiteral("/root/.cache/DocHarvest/webengine/Cache"),
                                                      QStringLiteral("/elsewhere/files"), QStringLiteral("/root"));
    EXPECT_TRUE(root.profileRoot.isEmpty());
    EXPECT_EQ(root.cacheFolderNames.last(), QStringLiteral("/.cache/DocHarvest/cache-files"));
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
    v.删除空文件夹();
    EXPECT_EQ(QFile::permissions(kept) & 0x7000, QFileDevice::Permissions(readOnly) & 0x7000);
    EXPECT_TRUE(QFileInfo::exists(kept + QStringLiteral("/inner")));
    EXPECT_FALSE(QFileInfo::exists(empty));
    QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace
