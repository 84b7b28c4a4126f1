#include "app/FolderHistory.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace dh;

namespace {

class FolderHistory : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString file() const { return dir.filePath(QStringLiteral("SaveList.dat")); }
    void write(const QByteArray& bytes)
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read() const
    {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void TearDown() override { SystemCodePage::setName(QString()); }
};

TEST_F(FolderHistory, MissingFileKeepsTheEntries)
{
    QStringList entries{QStringLiteral("/keep")};
    loadFolderHistory(entries, file());
    EXPECT_EQ(entries, QStringList{QStringLiteral("/keep")});
}

TEST_F(FolderHistory, ReadingTrimsSkipsBlanksAndDropsRepeatsIgnoringCase)
{
    write("  /home/u/Docs  \r\n\r\n   \r\n/home/u/docs\r\n/tmp/a\n/home/u/Docs\r\n");
    QStringList entries{QStringLiteral("/replaced")};
    loadFolderHistory(entries, file());
    EXPECT_EQ(entries, (QStringList{QStringLiteral("/home/u/Docs"), QStringLiteral("/tmp/a")}));
}

TEST_F(FolderHistory, AtMostTheFirstHundredNonBlankLinesAreRead)
{
    QByteArray bytes;
    for (int i = 1; i <= 150; ++i) {
        bytes += "/f/" + QByteArray::number(i) + "\r\n";
        if (i % 10 == 0)
            bytes += "   \r\n";  // blank lines do not count
    }
    write(bytes);
    QStringList entries;
    loadFolderHistory(entries, file());
    ASSERT_EQ(entries.size(), 100);
    EXPECT_EQ(entries.first(), QStringLiteral("/f/1"));
    EXPECT_EQ(entries.last(), QStringLiteral("/f/100"));

    // A folder added now is written as line 101 and not shown next time.
    entries << QStringLiteral("/f/new");
    ASSERT_TRUE(saveFolderHistory(entries, file()));
    QStringList again;
    loadFolderHistory(again, file());
    EXPECT_EQ(again.size(), 100);
    EXPECT_FALSE(again.contains(QStringLiteral("/f/new")));
}

TEST_F(FolderHistory, RepeatsCountTowardsTheLimit)
{
    QByteArray bytes;
    for (int i = 0; i < 100; ++i)
        bytes += "/same\r\n";
    bytes += "/late\r\n";
    write(bytes);
    QStringList entries;
    loadFolderHistory(entries, file());
    EXPECT_EQ(entries, QStringList{QStringLiteral("/same")});
}

TEST_F(FolderHistory, WritingUsesCrLfAndAnEmptyListIsOneEmptyLine)
{
    ASSERT_TRUE(saveFolderHistory({QStringLiteral("/a"), QStringLiteral("/b")}, file()));
    EXPECT_EQ(read(), QByteArray("/a\r\n/b\r\n"));
    ASSERT_TRUE(saveFolderHistory({}, file()));
    EXPECT_EQ(read(), QByteArray("\r\n"));
    QStringList entries{QStringLiteral("/x")};
    loadFolderHistory(entries, file());
    EXPECT_TRUE(entries.isEmpty());  // the file exists: the list is replaced by nothing
}

TEST_F(FolderHistory, SystemCodePageRoundTrip)
{
    for (const char* cp : {"UTF-8", "GBK"}) {
        SCOPED_TRACE(cp);
        SystemCodePage::setName(QString::fromLatin1(cp));
        const QStringList folders{QStringLiteral("/home/用户/下载"), QStringLiteral("/资料")};
        ASSERT_TRUE(saveFolderHistory(folders, file()));
        EXPECT_EQ(read(), SystemCodePage::encode(QStringLiteral("/home/用户/下载\r\n/资料\r\n")));
        QStringList back;
        loadFolderHistory(back, file());
        EXPECT_EQ(back, folders);
    }
    SystemCodePage::setName(QStringLiteral("GBK"));
    ASSERT_TRUE(saveFolderHistory({QStringLiteral("/中")}, file()));
    EXPECT_EQ(read(), QByteArray("/\xD6\xD0\r\n"));
}

TEST_F(FolderHistory, BrowseStartFolder)
{
    const QString d = QDir(dir.path()).absolutePath();
    QDir().mkpath(d + QStringLiteral("/a/b"));
    EXPECT_EQ(browseStartFolder(d + QStringLiteral("/a/b/")), d + QStringLiteral("/a/"));
    EXPECT_EQ(browseStartFolder(d + QStringLiteral("/a/b")), d + QStringLiteral("/a/"));
    EXPECT_EQ(browseStartFolder(QStringLiteral("/")), QStringLiteral("/"));
    const QString home = QDir::homePath() + QLatin1Char('/');
    EXPECT_EQ(browseStartFolder(QStringLiteral("   ")), home);
    EXPECT_EQ(browseStartFolder(d + QStringLiteral("/missing/x/")), home);
    EXPECT_EQ(browseStartFolder(QStringLiteral("~")), home);
    EXPECT_EQ(browseStartFolder(QStringLiteral("~/12345/")), home);
}

TEST_F(FolderHistory, BrowseForFolderAnswersWithATrailingSlash)
{
    ScriptedPrompter p;
    Prompter::setInstance(&p);
    p.pathAnswers.push_back(QStringLiteral("/chosen/folder"));
    EXPECT_EQ(browseForFolder(QStringLiteral("/start/x"), QStringLiteral("t")), QStringLiteral("/chosen/folder/"));
    // Cancelled: the start text comes back.
    EXPECT_EQ(browseForFolder(QStringLiteral("/start/x"), QStringLiteral("t")), QStringLiteral("/start/x/"));
    EXPECT_EQ(browseForFolder(QStringLiteral("/start/y/"), QStringLiteral("t")), QStringLiteral("/start/y/"));
    Prompter::setInstance(nullptr);
}

} // namespace
