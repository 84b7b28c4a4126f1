// A hostile cache: folders that are links or another user's, pipes under an
// entry's name, bodies that decode to gigabytes, thousands of one name.
#include "TestEnv.h"
#include "cache/CacheViewer.h"
#include "unit/cache/SimpleCacheWriter.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace dh;

namespace {

void put(const QString& path, const QByteArray& bytes = "x")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs docharvest-cli; a run that hangs is killed and fails the row.
QString cli(const QStringList& args)
{
    QProcess p;
    p.start(test::binaryDir() + QStringLiteral("/docharvest-cli"), args);
    const bool ended = p.waitForFinished(30000);
    if (!ended)
        p.kill();
    EXPECT_TRUE(ended) << qPrintable(args.join(QLatin1Char(' ')));
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST(HostileCache, LinkedOrForeignCacheFoldersAreNeverEntered)
{
    const QStringList docs{QStringLiteral("a.pdf"), QStringLiteral("b.doc"), QStringLiteral("sub/c.xls")};
    struct Row {
        const char* name;
        const char* link;    // below the home, made a link to target below the documents
        const char* target;
        int owner;           // the home's user: -1 whoever owns the home, else that uid
        bool ownedByThem;    // home and documents chowned to 65534 (needs root)
    } rows[] = {
        {"cache folder is a link to someone's documents", "/.cache/DH/web", "/DH/web", -1, false},
        {"a step above the cache folder is a link", "/.cache", "", -1, false},
        {"cache folder not owned by the home's user", nullptr, nullptr, 65534, false},
        {"another user's own cache on quit", nullptr, nullptr, -1, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir root;
        const QString home = root.filePath(QStringLiteral("u")), theirs = root.filePath(QStringLiteral("docs"));
        for (const QString& d : docs)
            put(theirs + QStringLiteral("/DH/web/") + d);
        const QString link = home + QString::fromLatin1(r.link ? r.link : "/.cache/DH");
        QDir().mkpath(QFileInfo(link).path());
        if (r.link)
            ASSERT_TRUE(QFile::link(theirs + QString::fromLatin1(r.target), link));
        else
            ASSERT_TRUE(QDir().rename(theirs + QStringLiteral("/DH"), link));
        const QString kept = r.link ? theirs + QStringLiteral("/DH/web/") : home + QStringLiteral("/.cache/DH/web/");
        if (r.ownedByThem && ::system(qPrintable(QStringLiteral("chown -R 65534 '%1'").arg(home))) != 0)
            continue;  // only root can give files away
        const CacheLocations loc{QString(), [&] {
            return std::vector<UserHome>{{QStringLiteral("u"), home, r.owner < 0 ? std::nullopt : std::optional<uid_t>(r.owner)}};
        }, {QStringLiteral("/.cache/DH/web")}};
        CacheViewer v(nullptr, loc);
        v.listAllUsersCache();
        if (!r.ownedByThem) {
            EXPECT_TRUE(v.rows.empty());
            EXPECT_EQ(v.skippedFolders, 1);
            EXPECT_TRUE(v.countText.contains(QStringLiteral("跳过1 个是链接")));
        }
        EXPECT_EQ(v.selectedFilePaths({0, 1, 2}).size(), r.ownedByThem ? 3 : 0);
        if (!r.ownedByThem)
            v.deleteAll();
        clearBrowserCache(nullptr, loc, false);
        for (const QString& d : docs)
            EXPECT_TRUE(QFileInfo::exists(kept + d)) << qPrintable(kept + d);
    }
}

TEST(HostileCache, PipesUnderAnEntrysNameAreReportedNotRead)
{
    QTemporaryDir dir;
    const QString cache = dir.filePath(QStringLiteral("c")), pipe = dir.filePath(QStringLiteral("fifo"));
    QDir().mkpath(cache);
    test::writeEntry(cache, QStringLiteral("http://h.test/ok.pdf"), "%PDF-1.4 fine", {"HTTP/1.1 200 OK"});
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(cache + QStringLiteral("/00000000000000aa_0")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(pipe, cache + QStringLiteral("/00000000000000bb_0")));
    const QString list = cli({QStringLiteral("cache"), QStringLiteral("list"), QStringLiteral("--cache-dir"), cache});
    EXPECT_EQ(list.count(QStringLiteral("damaged\t\t不是普通文件")), 2) << qPrintable(list);
    EXPECT_TRUE(list.contains(QStringLiteral("http://h.test/ok.pdf\t13\tpdf"))) << qPrintable(list);
    const QString out = cli({QStringLiteral("cache"), QStringLiteral("extract"), QStringLiteral("--cache-dir"), cache,
                             QStringLiteral("--to"), dir.filePath(QStringLiteral("out"))});
    EXPECT_EQ(out.count(QStringLiteral("refused\t")), 2) << qPrintable(out);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("out/ok.pdf"))));
}

TEST(HostileCache, DecodedSizeIsBoundedPerEntryAndPerRun)
{
    QTemporaryDir dir;
    const QString cache = dir.filePath(QStringLiteral("c"));
    QDir().mkpath(cache);
    const QByteArrayList zstd{"HTTP/1.1 200 OK", "Content-Encoding: zstd"}, gzip{"HTTP/1.1 200 OK", "Content-Encoding: gzip"};
    test::writeEntry(cache, QStringLiteral("http://h.test/bomb.pdf"), test::zstdCompressed(QByteArray(24 << 20, '\0')), zstd);
    const QString out = cli({QStringLiteral("cache"), QStringLiteral("extract"), QStringLiteral("--cache-dir"), cache,
                             QStringLiteral("--to"), dir.filePath(QStringLiteral("out"))});
    EXPECT_TRUE(out.contains(QStringLiteral("refused\thttp://h.test/bomb.pdf\t解码后超过10 MB且超过存储大小的1000倍")))
        << qPrintable(out);
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("out"))).isEmpty());

    // A run's allowance: the second coded body no longer fits, a plain one does.
    const QByteArray page(600 << 10, 'p');
    for (const char* name : {"a", "b"})
        test::writeEntry(cache, QStringLiteral("http://h.test/%1.htm").arg(QLatin1String(name)), test::gzipped(page), gzip);
    test::writeEntry(cache, QStringLiteral("http://h.test/plain.htm"), page, {"HTTP/1.1 200 OK"});
    SimpleCacheIndex index(cache, dir.filePath(QStringLiteral("side")));
    index.setDecodeBudget(1 << 20);
    const auto reason = [&](const char* name) {
        return index.entryFile(simplecache::entryHashOfKey(QByteArray("1/0/http://h.test/") + name)).reason;
    };
    EXPECT_EQ(reason("a.htm"), QString());
    EXPECT_EQ(reason("b.htm"), QStringLiteral("本次解码总量已达上限1 MB，未写出"));
    EXPECT_EQ(reason("plain.htm"), QString());
    index.beginWriteRun();
    EXPECT_EQ(reason("b.htm"), QString());
}

TEST(HostileCache, ManyEntriesOfOneNameAreNumberedLikeTheCopyTool)
{
    QTemporaryDir dir;
    const QString cache = dir.filePath(QStringLiteral("c")), to = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(cache);
    for (int i = 0; i < 300; ++i)
        test::writeEntry(cache, QStringLiteral("http://h.test/%1/r.pdf").arg(i), QByteArray::number(i), {"HTTP/1.1 200 OK"});
    put(to + QStringLiteral("/r.pdf"));
    put(to + QStringLiteral("/r[002].pdf"));
    cli({QStringLiteral("cache"), QStringLiteral("extract"), QStringLiteral("--cache-dir"), cache, QStringLiteral("--to"), to});
    QStringList want{QStringLiteral("r.pdf")};
    for (int n = 1; n <= 301; ++n)
        want << QStringLiteral("r[%1].pdf").arg(n, 3, 10, QLatin1Char('0'));
    EXPECT_EQ(QDir(to).entryList(QDir::Files, QDir::Name), want);
}
