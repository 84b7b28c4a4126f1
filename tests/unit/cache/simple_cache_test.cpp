// The simple-cache entry reader and the index built on it.
#include "SimpleCacheWriter.h"

#include <QDir>
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
    const auto e = simplecache::readEntryFile(path, &err);
    ASSERT_TRUE(e) << err.toStdString();
    EXPECT_EQ(e->url, QStringLiteral("http://h.test/docs/a.pdf?x=1"));
    EXPECT_EQ(e->httpStatus, 200);
    EXPECT_EQ(e->contentType, QStringLiteral("application/pdf"));
    EXPECT_FALSE(e->truncated);
    EXPECT_EQ(e->bodySize, body.size());
    EXPECT_EQ(simplecache::readBody(*e), body);
    EXPECT_EQ(e->headerLines.size(), 3);
}

TEST(SimpleCacheReader, RejectsEveryTruncationAndGarbage)
{
    QTemporaryDir dir;
    const QByteArray whole = entryBytes("1/0/http://h.test/a.pdf", "0123456789", kPdfHeaders);
    // Every cut of the file must be refused (never read out of bounds).
    for (int len = 0; len < whole.size(); ++len) {
        const QString p = dir.filePath(QStringLiteral("cut"));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(whole.left(len));
        f.close();
        EXPECT_FALSE(simplecache::readEntryFile(p)) << "length " << len;
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
        EXPECT_FALSE(simplecache::readEntryFile(p));
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

TEST(SimpleCacheIndexTest, LocalFileIsTheDecodedBodyWrittenOnce)
{
    QTemporaryDir cache, side;
    const QByteArray html = QByteArray("<html>") + QByteArray(5000, 'x') + "</html>";
    const QString entry = writeEntry(cache.path(), "http://h.test/dir/p?w=1", gzipped(html),
                                     {"HTTP/1.1 200 OK", "Content-Type: text/html; charset=utf-8", "Content-Encoding: gzip"});
    SimpleCacheIndex idx(cache.path(), side.path());
    const auto file = idx.entryFile(QStringLiteral("http://h.test/dir/p?w=1"));
    ASSERT_TRUE(file && !file->isEmpty());
    EXPECT_TRUE(file->startsWith(side.path() + QLatin1Char('/')));
    EXPECT_EQ(QFileInfo(*file).fileName(), QStringLiteral("p.html"));
    QFile f(*file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), html);
    f.close();
    // Asking again does not rewrite it.
    const QDateTime first = QFileInfo(*file).lastModified();
    QThread::msleep(20);
    EXPECT_EQ(idx.entryFile(QStringLiteral("http://h.test/dir/p?w=1")), file);
    EXPECT_EQ(QFileInfo(*file).lastModified(), first);
    EXPECT_FALSE(idx.entryFile(QStringLiteral("http://h.test/unknown")));

    // Deleting removes the entry files and the extracted file.
    QFile::copy(entry, entry.left(entry.size() - 1) + QLatin1Char('1'));
    EXPECT_TRUE(idx.deleteEntry(QStringLiteral("http://h.test/dir/p?w=1")));
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_FALSE(QFileInfo::exists(entry.left(entry.size() - 1) + QLatin1Char('1')));
    EXPECT_FALSE(QFileInfo::exists(*file));
    EXPECT_FALSE(idx.deleteEntry(QStringLiteral("http://h.test/dir/p?w=1")));
}

TEST(SimpleCacheIndexTest, BodyThatCannotBeDecodedHasNoLocalFile)
{
    QTemporaryDir cache, side;
    writeEntry(cache.path(), "http://h.test/bad.pdf", "not gzip at all",
               {"HTTP/1.1 200 OK", "Content-Type: application/pdf", "Content-Encoding: gzip"});
    SimpleCacheIndex idx(cache.path(), side.path());
    const auto file = idx.entryFile(QStringLiteral("http://h.test/bad.pdf"));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->isEmpty());
    EXPECT_TRUE(QDir(side.path()).isEmpty());
}
