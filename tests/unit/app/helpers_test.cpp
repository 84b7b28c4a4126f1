#include "app/Helpers.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dh;

TEST(EncodeKeyword, Examples)
{
    const struct {
        QString in;
        QString out;
    } rows[] = {
        {QStringLiteral("教程 a+b#1"), QStringLiteral("%E6%95%99%E7%A8%8B a%2Bb%231")},
        {QStringLiteral("100%"), QStringLiteral("100%25")},
        {QString(), QString()},
        {QStringLiteral("a&b"), QStringLiteral("a%26b")},
        {QStringLiteral("x#1"), QStringLiteral("x%231")},
        {QStringLiteral("%E4"), QStringLiteral("%25E4")},
        {QStringLiteral("a^b"), QStringLiteral("a%5Eb")},
        {QStringLiteral("中"), QStringLiteral("%E4%B8%AD")},
        {QString::fromUcs4(U"\U0001F600"), QStringLiteral("%F0%9F%98%80")},  // outside the BMP: one code point
    };
    for (const auto& r : rows)
        EXPECT_EQ(encodeKeyword(r.in), r.out) << r.in.toStdString();
}

TEST(TextHelpers, TrimRemovesOnlyAsciiSpaces)
{
    EXPECT_EQ(trimSpaces(QStringLiteral("  a b  ")), QStringLiteral("a b"));
    EXPECT_EQ(trimSpaces(QStringLiteral("\ta\t")), QStringLiteral("\ta\t"));
    EXPECT_EQ(trimSpaces(QStringLiteral("\u3000a ")), QStringLiteral("\u3000a"));
    EXPECT_EQ(removeLineBreaks(QStringLiteral("a\r\nb") + QChar(0) + "c"), QStringLiteral("abc"));
}

TEST(FileNameFromPath, Examples)
{
    const struct {
        QString in;
        bool strip;
        QString out;
    } rows[] = {
        {"/docs/file.name.pdf", true, "file.name"},
        {"http://h/get?id=7", true, "get?id=7"},
        {"a/b/c.tar.gz", true, "c.tar"},
        {"c", true, "c"},
        {".hidden", true, ""},
        {"a\\b\\ c.pdf ", false, "c.pdf"},
        {"http://h/dir/x.pdf", false, "x.pdf"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(fileNameFromPath(r.in, r.strip), r.out) << r.in.toStdString();
}

// The sanitising rules hold for both code pages; only the byte cut differs.
class SanitizeFileNameTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { SystemCodePage::setName(QString::fromLatin1(GetParam())); }
    void TearDown() override { SystemCodePage::setName(QString()); }
};

TEST_P(SanitizeFileNameTest, RemovesReservedCharactersAndDots)
{
    EXPECT_EQ(sanitizeFileName(QStringLiteral("..a:b?..")), QStringLiteral("ab"));
    EXPECT_EQ(sanitizeFileName(QStringLiteral("\\/:*?\"<>|")), QString());
    EXPECT_EQ(sanitizeFileName(QStringLiteral("...")), QString());
    EXPECT_EQ(sanitizeFileName(QStringLiteral(" 报告\r\n2024 ")), QStringLiteral("报告2024"));
    EXPECT_EQ(sanitizeFileName(QStringLiteral(". a .")), QStringLiteral("a"));
}

// The cut counts the bytes of the name on disk (UTF-8 whatever the locale)
// and leaves room for "." + type and a counter within 255 bytes.
TEST_P(SanitizeFileNameTest, CutsToTheNameBudgetOnACharacterBoundary)
{
    const QString name = QString(300, QChar(0x4E2D));  // 300 x 中
    const QString cut = sanitizeFileName(name);
    EXPECT_EQ(cut.size(), 80);
    EXPECT_LE(QFile::encodeName(cut + QStringLiteral("[001].pdf")).size(), 255);
    EXPECT_FALSE(cut.contains(QChar(0xFFFD)));
    EXPECT_EQ(sanitizeFileName(QString(300, QLatin1Char('a'))).size(), 240);
    // A four-byte character is never split.
    EXPECT_EQ(sanitizeFileName(QString(61, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F600").repeated(60)),
              QString(61, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F600").repeated(44));
    // Control characters are dropped.
    EXPECT_EQ(sanitizeFileName(QStringLiteral("a\tb\x01" "c\x7f")), QStringLiteral("abc"));
}

INSTANTIATE_TEST_SUITE_P(CodePages, SanitizeFileNameTest, ::testing::Values("UTF-8", "GBK"));

TEST(SystemCodePage, GbkRoundTrip)
{
    SystemCodePage::setName(QStringLiteral("GBK"));
    const QByteArray b = SystemCodePage::encode(QStringLiteral("中文"));
    EXPECT_EQ(b, QByteArray("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ(SystemCodePage::decode(b), QStringLiteral("中文"));
    SystemCodePage::setName(QString());
}

struct MakeFolderPathTest : ::testing::Test {
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    void SetUp() override { Prompter::setInstance(&prompter); }
    void TearDown() override { Prompter::setInstance(nullptr); }
    QString root() const { return dir.path(); }
};

TEST_F(MakeFolderPathTest, CreatesEveryLevelAndReturnsWithoutTrailingSlash)
{
    EXPECT_EQ(makeFolderPath(root() + "/x/y/"), root() + "/x/y");
    EXPECT_TRUE(QDir(root() + "/x/y").exists());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MakeFolderPathTest, InvalidLevelShowsTheMessageAndKeepsWhatExists)
{
    EXPECT_EQ(makeFolderPath(root() + "/x/../"), root() + "/x");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("文件夹名称有误！不能创建文件夹！"));
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);
}

TEST_F(MakeFolderPathTest, SanitisesLevelsAndStopsAtAnEmptyPiece)
{
    EXPECT_EQ(makeFolderPath(root() + "/docs/a?b"), root() + "/docs/ab");
    EXPECT_EQ(makeFolderPath(root() + "/a//b"), root() + "/a");
    EXPECT_FALSE(QDir(root() + "/a/b").exists());
    EXPECT_FALSE(QDir(root() + "/b").exists());
}

// Existing levels are the user's choice, kept exactly; only new levels are
// cleaned up before they are made.
TEST_F(MakeFolderPathTest, KeepsExistingLevelsAsTheyAre)
{
    for (const char* level : {".local", "ends.", "a:b", "q?*"})
        ASSERT_TRUE(QDir(root()).mkdir(QString::fromUtf8(level)));
    const struct {
        const char* in;
        const char* out;
    } rows[] = {
        {"/.local/share/docs/", "/.local/share/docs"},
        {"/ends./x", "/ends./x"},
        {"/a:b/c:d", "/a:b/cd"},
        {"/q?*/", "/q?*"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.in);
        EXPECT_EQ(makeFolderPath(root() + QString::fromUtf8(r.in)), root() + QString::fromUtf8(r.out));
    }
    EXPECT_FALSE(QFileInfo::exists(root() + "/local"));
    EXPECT_FALSE(QFileInfo::exists(root() + "/ab"));
    EXPECT_EQ(makeFolderPath(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(makeFolderPath(QStringLiteral("~")), QDir::homePath());
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MakeFolderPathTest, FailuresGiveAnEmptyResult)
{
    EXPECT_EQ(makeFolderPath(QStringLiteral("//server/share/")), QString());  // network-style path
    QFile f(root() + "/file");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(makeFolderPath(root() + "/file/sub/"), QString());  // a file is in the way
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(MakeFolderPathTest, ExistenceTests)
{
    QFile f(root() + "/f.txt");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(fileExists(root() + "/f.txt"));
    EXPECT_FALSE(fileExists(root()));
    EXPECT_TRUE(folderExists(root()));
    EXPECT_FALSE(folderExists(root() + "/f.txt"));
    EXPECT_FALSE(fileExists(QString()));
    EXPECT_FALSE(folderExists(root() + "/missing"));
}
