// The simple-cache entry reader and the index built on it.
#include "SimpleCacheWriter.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace dh;
using namespace dh::test;

namespace {
const QByteArrayList kPdfHeaders{"HTTP/1.1 200 OK", "Content-Type: application/pdf", "Content-Length: 12"};
}

TEST(SimpleCacheKey, UrlAndFileNameOfKeys)
{
    struct Case {
        QByteArray key;
        QString url;
    } cases[] = {
        {"1/0/http://127.0.0.1:36551/p?w=1", "http://127.0.0.1:36551/p?w=1"},
        {"1/0/_dk_http://a.test http://a.test http://b.test/x.pdf", "http://b.test/x.pdf"},
        {"12/3/https://c.test/", "https://c.test/"},
        {"https://plain.test/a", "https://plain.test/a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(simplecache::urlFromKey(c.key), c.url) << c.key.constData();
    // The name Chromium itself gave this key's entry file.
    EXPECT_EQ(simplecache::entryHashOfKey("1/0/http://127.0.0.1:36551/p?w=1"), QStringLiteral("286604936e83b838"));
}

TEST(SimpleCacheReader, ReadsEntryWithHeadersAndBody)
{
    QTemporaryDir dir;
    const QByteArray body = "%PDF-1.4 abc";
    const QString path = writeEntry(dir.path(), "http://h.test/docs/a.pdf?x=1", body, kPdfHeaders);
    QString err;
    auto e = simplecache::readEntryFile(path, &err);
    ASSERT_TRUE(e) << err.toStdString();
    EXPECT_TRUE(e->damage.isEmpty());
    EXPECT_EQ(e->url, QStringLiteral("http://h.test/docs/a.pdf?x=1"));
    EXPECT_EQ(e->httpStatus, 200);
    EXPECT_EQ(e->contentType, QStringLiteral("application/pdf"));
    EXPECT_FALSE(e->truncated);
    EXPECT_EQ(e->bodySize, body.size());
    EXPECT_EQ(simplecache::readBody(*e).data, body);
    EXPECT_EQ(e->headerLines.size(), 3);
}

TEST(SimpleCacheReader, RejectsEveryTruncationAndGarbage)
{
    QTemporaryDir dir;
    const QByteArray whole = entryBytes("1/0/http://h.test/a.pdf", "0123456789", kPdfHeaders);
    // Every cut of the file is refused or shown damaged (never read out of bounds).
    for (int len = 0; len < whole.size(); ++len) {
        const QString p = dir.filePath(QStringLiteral("cut"));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(len));
        f.close();
        const auto e = simplecache::readEntryFile(p);
        EXPECT_TRUE(!e || !e->damage.isEmpty()) << "length " << len;
    }
    // Garbage and lying sizes.
    QByteArray bigKey = whole;
    qToLittleEndian<quint32>(0x7fffffff, bigKey.data() + 12);
    QByteArray bigStream0 = whole;
    qToLittleEndian<quint32>(0x7fffffff, bigStream0.data() + bigStream0.size() - 8);
    QByteArray badEof1 = whole;
    badEof1[24 + 23 + 10] = 'X';  // first byte of the body's end record
    for (const QByteArray& bytes : {QByteArray(200, '\xff'), bigKey, bigStream0, badEof1}) {
        const QString p = dir.filePath(QStringLiteral("bad"));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const auto e = simplecache::readEntryFile(p);
        EXPECT_TRUE(!e || !e->damage.isEmpty());
    }
}

TEST(SimpleCacheIndexTest, ListsNormalEntriesOnly)
{
    QTemporaryDir cache, side;
    writeEntry(cache.path(), "http://h.test/ok.pdf", "%PDF-1", kPdfHeaders);
    writeEntry(cache.path(), "http://h.test/moved", "", {"HTTP/1.1 301 Moved Permanently", "Location: /x"});
    writeEntry(cache.path(), "http://h.test/cut.pdf", "%PDF", kPdfHeaders, 1u << 12);
    QFile junk(cache.filePath(QStringLiteral("0123456789abcdef_0")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not an entry");
    junk.close();
    SimpleCacheIndex idx(cache.path(), side.path());
    QStringList normal, other;
    for (const auto& item : idx.list())
        (item.normal ? normal : other) << item.url;
    EXPECT_EQ(normal, QStringList{QStringLiteral("http://h.test/ok.pdf")});
    other.sort();
    EXPECT_EQ(other, (QStringList{QStringLiteral("http://h.test/cut.pdf"), QStringLiteral("http://h.test/moved")}));
}

// A cached page is listed and copied out under its title, in whatever
// charset and coding it came; other entries keep the address's name.
TEST(SimpleCacheIndexTest, PagesAreNamedAfterTheirTitles)
{
    struct Row {
        const char* name;
        QByteArray body;
        const char* type;
        bool gzip;
        QString title;
        QString file;
    };
    const QByteArray gbkTitle = QByteArray("<html><head><title>") + QByteArray::fromHex("bbfad0b5c9e8bcc6") + "</title>";
    const Row rows[] = {
        {"utf-8, gzip", QStringLiteral("<html><head><title> 机械设计 手册 </title></head><body>x</body></html>").toUtf8(),
         "text/html; charset=utf-8", true, QStringLiteral("机械设计 手册"), QStringLiteral("机械设计 手册.html")},
        {"gbk", gbkTitle + "</head><body>x</body></html>", "text/html; charset=gbk", false, QStringLiteral("机械设计"),
         QStringLiteral("机械设计.html")},
        {"slash in the title", "<title>a/b:c</title>", "text/html", false, QStringLiteral("a/b:c"), QStringLiteral("abc.html")},
        {"no title", "<html><body>x</body></html>", "text/html", false, QString(), QStringLiteral("p.html")},
        {"not a page", "<title>t</title>", "application/pdf", false, QString(), QStringLiteral("p.pdf")},
    };
    for (const Row& r : rows) {
        QTemporaryDir cache, side;
        QList<QByteArray> headers{"HTTP/1.1 200 OK", QByteArray("Content-Type: ") + r.type};
        if (r.gzip)
            headers << "Content-Encoding: gzip";
        writeEntry(cache.path(), "http://h.test/dir/p?w=1", r.gzip ? gzipped(r.body) : r.body, headers);
        SimpleCacheIndex idx(cache.path(), side.path());
        const QString id = idx.list().at(0).id;
        EXPECT_EQ(idx.check(id).title, r.title) << r.name;
        const QString file = idx.entryFile(id).path;
        EXPECT_EQ(QFileInfo(file).fileName(), r.file) << r.name;
        EXPECT_EQ(idx.list().at(0).localFile, file) << r.name << ": the listing finds it again";
    }
}

TEST(SimpleCacheIndexTest, LocalFileIsTheDecodedBodyWrittenOnce)
{
    QTemporaryDir cache, side;
    const QByteArray html = QByteArray("<html>") + QByteArray(5000, 'x') + "</html>";
    const QString entry = writeEntry(cache.path(), "http://h.test/dir/p?w=1", gzipped(html),
                                     {"HTTP/1.1 200 OK", "Content-Type: text/html; charset=utf-8", "Content-Encoding: gzip"});
    SimpleCacheIndex idx(cache.path(), side.path());
    const auto items = idx.list();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].localFile.isEmpty());  // listing decodes nothing
    EXPECT_TRUE(QDir(side.path()).isEmpty());
    const QString id = items[0].id;
    const QString file = idx.entryFile(id).path;
    ASSERT_FALSE(file.isEmpty());
    EXPECT_TRUE(file.startsWith(side.path() + QLatin1Char('/')));
    EXPECT_EQ(QFileInfo(file).fileName(), QStringLiteral("p.html"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), html);
    f.close();
    // Asking again does not rewrite it, and the next listing knows it.
    const QDateTime first = QFileInfo(file).lastModified();
    QThread::msleep(20);
    EXPECT_EQ(idx.entryFile(id).path, file);
    EXPECT_EQ(QFileInfo(file).lastModified(), first);
    EXPECT_EQ(idx.list().at(0).localFile, file);
    EXPECT_TRUE(idx.entryFile(QStringLiteral("0000000000000000")).path.isEmpty());
    EXPECT_FALSE(idx.deleteEntry(QStringLiteral("../../etc")));

    // Deleting removes the entry files and the extracted file.
    QFile::copy(entry, entry.left(entry.size() - 1) + QLatin1Char('1'));
    EXPECT_TRUE(idx.deleteEntry(id));
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_FALSE(QFileInfo::exists(entry.left(entry.size() - 1) + QLatin1Char('1')));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_FALSE(idx.deleteEntry(id));
}

// Generated entries through the whole index: what the listing shows, what the
// body check finds and what the local file holds.
TEST(SimpleCacheIndexTest, IntegrityLayoutsAndCodings)
{
    using State = CacheIndex::State;
    // Larger than one read piece even when compressed: bodies are decoded and
    // written as they are read.
    QByteArray doc = QByteArray("%PDF-1.4 ") + QByteArray(1536 * 1024, '\0');
    quint32 x = 1;
    for (qsizetype i = 9; i < doc.size(); ++i)
        doc[i] = char((x = x * 1664525u + 1013904223u) >> 24);
    const QByteArrayList pdf{"HTTP/1.1 200 OK", "Content-Type: application/pdf"};
    auto withEncoding = [&](const char* enc) { return QByteArrayList{pdf[0], pdf[1], QByteArray("Content-Encoding: ") + enc}; };
    const QByteArray plainKey = "1/0/http://h.test/a.pdf";
    const QByteArray siteKey = "1/0/_dk_https://a.test https://a.test http://h.test/a.pdf";
    struct Row {
        const char* name;
        QByteArray key;
        std::function<QByteArray()> bytes;
        State listed;          // state after the header pass
        State checked;         // after the body check
        const char* reason;    // part of the reason, or ""
        QString url;
        QString site;
        bool newLayout;
    };
    const QByteArray good = entryBytes(plainKey, doc, pdf);
    auto flipped = [&](QByteArray b, qsizetype at) { b[at] = char(b[at] ^ 0x01); return b; };
    auto keyLength = [&](QByteArray b, int delta) {
        qToLittleEndian<quint32>(quint32(plainKey.size() + delta), b.data() + 12);
        return b;
    };
    const QString url = QStringLiteral("http://h.test/a.pdf");
    const Row rows[] = {
        {"older layout", plainKey, [&] { return good; }, State::Unchecked, State::Intact, "", url, "", false},
        {"newer layout", plainKey, [&] { return entryBytes(plainKey, doc, pdf, 0, true); }, State::Unchecked,
         State::Intact, "", url, "", true},
        {"isolation prefix, newer layout", siteKey, [&] { return entryBytes(siteKey, doc, pdf, 0, true); },
         State::Unchecked, State::Intact, "", url, "https://a.test", true},
        {"flipped body byte", plainKey, [&] { return flipped(good, 24 + plainKey.size() + 100); }, State::Unchecked,
         State::Damaged, "正文的校验和", url, "", false},
        {"flipped header byte", plainKey, [&] { return flipped(good, good.size() - 24 - 32 - 10); }, State::Damaged,
         State::Damaged, "响应信息", url, "", false},
        {"key length one short", plainKey, [&] { return keyLength(good, -1); }, State::Damaged, State::Damaged,
         "散列", QStringLiteral("http://h.test/a.pd"), "", false},
        {"key length one long", plainKey, [&] { return keyLength(good, 1); }, State::Damaged, State::Damaged, "散列",
         QString(), "", false},
        {"truncated file", plainKey, [&] { return good.left(good.size() - 40); }, State::Damaged, State::Damaged,
         "", url, "", false},
        {"zstd body", plainKey, [&] { return entryBytes(plainKey, zstdCompressed(doc), withEncoding("zstd")); },
         State::Unchecked, State::Intact, "", url, "", false},
        {"double coding", plainKey,
         [&] { return entryBytes(plainKey, zstdCompressed(gzipped(doc)), withEncoding("gzip, zstd")); },
         State::Unchecked, State::Intact, "", url, "", false},
        {"deflate, zlib-wrapped", plainKey,
         [&] { return entryBytes(plainKey, gzipped(doc, 15), withEncoding("deflate")); }, State::Unchecked,
         State::Intact, "", url, "", false},
        {"deflate sent raw", plainKey, [&] { return entryBytes(plainKey, gzipped(doc, -15), withEncoding("deflate")); },
         State::Unchecked, State::Intact, "", url, "", false},
        {"flipped byte inside a gzip body", plainKey,
         [&] { return flipped(entryBytes(plainKey, gzipped(doc), withEncoding("gzip")), 24 + plainKey.size() + 500000); },
         State::Unchecked, State::Damaged, "正文的校验和", url, "", false},
        {"unsupported coding", plainKey, [&] { return entryBytes(plainKey, doc, withEncoding("gzip, compress")); },
         State::Unchecked, State::Undecodable, "compress", url, "", false},
        {"damaged zstd stream", plainKey,
         [&] { return entryBytes(plainKey, zstdCompressed(doc).chopped(6), withEncoding("zstd")); },
         State::Unchecked, State::Intact, "zstd", url, "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir cache, side;
        writeEntryBytes(cache.path(), r.key, r.bytes());
        SimpleCacheIndex idx(cache.path(), side.path());
        const auto items = idx.list();
        ASSERT_EQ(items.size(), 1u);
        const CacheIndex::Item& it = items[0];
        EXPECT_EQ(it.state, r.listed);
        if (!r.url.isEmpty()) {
            EXPECT_EQ(it.url, r.url);
        }
        EXPECT_EQ(it.site, r.site);
        if (r.listed != State::Damaged) {
            // The stored response time, in either layout.
            EXPECT_EQ(it.modified, simplecache::fromEngineTime(kResponseTime));
            EXPECT_TRUE(it.normal);
        }
        const auto checked = idx.check(it.id);
        EXPECT_EQ(checked.state, r.checked);
        if (r.checked != State::Intact) {
            EXPECT_TRUE(checked.reason.contains(QString::fromUtf8(r.reason))) << checked.reason.toStdString();
        }
        const auto local = idx.entryFile(it.id);
        if (r.checked == State::Intact && QByteArray(r.reason).isEmpty()) {
            ASSERT_FALSE(local.path.isEmpty()) << local.reason.toStdString();
            QFile f(local.path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), doc);
        } else {
            // Damaged or undecodable: nothing written, and the reason says why.
            EXPECT_TRUE(local.path.isEmpty());
            EXPECT_FALSE(local.reason.isEmpty());
            EXPECT_TRUE(local.reason.contains(QString::fromUtf8(r.reason))) << local.reason.toStdString();
            EXPECT_FALSE(QDirIterator(side.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories).hasNext());
        }
    }
}

TEST(SimpleCacheIndexTest, SameAddressUnderTwoSitesIsTwoEntries)
{
    QTemporaryDir cache, side;
    const QByteArrayList pdf{"HTTP/1.1 200 OK", "Content-Type: application/pdf"};
    const QByteArray keyA = "1/0/_dk_https://a.test https://a.test http://h.test/a.pdf";
    const QByteArray keyB = "1/0/_dk_https://b.test https://b.test http://h.test/a.pdf";
    writeEntryBytes(cache.path(), keyA, entryBytes(keyA, "%PDF-A", pdf));
    writeEntryBytes(cache.path(), keyB, entryBytes(keyB, "%PDF-B", pdf, 0, true));
    SimpleCacheIndex idx(cache.path(), side.path());
    auto items = idx.list();
    ASSERT_EQ(items.size(), 2u);
    std::sort(items.begin(), items.end(), [](const auto& x, const auto& y) { return x.site < y.site; });
    EXPECT_EQ(items[0].site, QStringLiteral("https://a.test"));
    EXPECT_EQ(items[1].site, QStringLiteral("https://b.test"));
    EXPECT_EQ(items[0].url, items[1].url);
    const QString a = idx.entryFile(items[0].id).path, b = idx.entryFile(items[1].id).path;
    ASSERT_FALSE(a.isEmpty());
    ASSERT_FALSE(b.isEmpty());
    EXPECT_NE(a, b);
    QFile fa(a), fb(b);
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), "%PDF-A");
    EXPECT_EQ(fb.readAll(), "%PDF-B");
    // Deleting one row removes that entry only.
    EXPECT_TRUE(idx.deleteEntry(items[0].id));
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_TRUE(QFileInfo::exists(b));
    const auto left = idx.list();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].site, QStringLiteral("https://b.test"));
    // A local file that became a link: deleting the entry removes the link, not its target.
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("keep.pdf"));
    ASSERT_TRUE(QFile::copy(b, target));
    ASSERT_TRUE(QFile::remove(b));
    ASSERT_TRUE(QFile::link(target, b));
    EXPECT_TRUE(idx.deleteEntry(items[1].id));
    EXPECT_FALSE(QFileInfo(b).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(target));
}

TEST(SimpleCacheIndexTest, BodyThatCannotBeDecodedHasNoLocalFile)
{
    QTemporaryDir cache, side;
    writeEntry(cache.path(), "http://h.test/bad.pdf", "not gzip at all",
               {"HTTP/1.1 200 OK", "Content-Type: application/pdf", "Content-Encoding: gzip"});
    SimpleCacheIndex idx(cache.path(), side.path());
    const auto items = idx.list();
    ASSERT_EQ(items.size(), 1u);
    const auto file = idx.entryFile(items[0].id);
    EXPECT_TRUE(file.path.isEmpty());
    EXPECT_EQ(file.state, CacheIndex::State::Undecodable);
    EXPECT_TRUE(file.reason.contains(QStringLiteral("gzip")));
    EXPECT_TRUE(QDir(side.path()).isEmpty());
}
