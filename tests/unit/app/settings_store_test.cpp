#include "app/AppGlobals.h"
#include "app/BrowserEmulation.h"
#include "app/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace dh;

namespace {
struct StoreFixture : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    void SetUp() override { store = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("s.ini"))); }
};
} // namespace

TEST_F(StoreFixture, EmptyStoreReadsTheTableDefaults)
{
    struct Row {
        SettingKey key;
        QString expected;
    };
    const Row rows[] = {
        {keys::maxFileSize, "10"},      {keys::promptOnExtract, "1"},   {keys::downloadMethod, "2"},
        {keys::proxyEnabled, "0"},      {keys::proxyHost, ""},          {keys::proxyPort, ""},
        {keys::threadIndex, "2"},       {keys::sameNamePolicy, "重命名"}, {keys::searchKeywords, ""},
        {keys::searchDelayIndex, "4"},  {keys::downloadResolution, "000"}, {keys::downloadTop, "100"},
        {keys::downloadLeft, "100"},    {keys::downloadWidth, "15000"}, {keys::downloadHeight, "10000"},
        {keys::copyOption, "4"},       {keys::searchServiceBase, ""},  {keys::updateServiceBase, ""},
        {keys::excludedSuffixDomain, "docin.com"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(store->get(r.key), r.expected) << r.key.section << "/" << r.key.key;
    EXPECT_EQ(store->get(keys::saveFolder), defaultSaveFolder());
    EXPECT_EQ(store->getInt(keys::maxFileSize), 10);
    EXPECT_TRUE(store->getFlag(keys::promptOnExtract));
    EXPECT_FALSE(store->getFlag(keys::proxyEnabled));
}

TEST_F(StoreFixture, DefaultFoldersFollowTheDesktopsDownloadFolder)
{
    // A Chinese desktop names it 下载 in user-dirs.dirs; without the file it is ~/Downloads.
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    QFile dirs(dir.filePath(QStringLiteral("user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write(QStringLiteral("XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n").toUtf8());
    dirs.close();
    const QString chinese = QDir::homePath() + QStringLiteral("/下载/DocHarvest/");
    EXPECT_EQ(store->get(keys::saveFolder), chinese);
    EXPECT_EQ(store->get(keys::copyDestination), chinese);
    dirs.remove();
    EXPECT_EQ(defaultSaveFolder(), QDir::homePath() + QStringLiteral("/Downloads/DocHarvest/"));
    store->save(keys::saveFolder, QStringLiteral("/srv/docs/"));
    EXPECT_EQ(store->get(keys::saveFolder), QStringLiteral("/srv/docs/")) << "a stored folder still wins";
    qputenv("XDG_CONFIG_HOME", oldConfig);
}

TEST_F(StoreFixture, ValuesSurviveAReopenWithLiteralChineseSectionsAndKeys)
{
    store->save(keys::sameNamePolicy, QStringLiteral("跳过"));
    store->save(keys::searchKeywords, QStringLiteral("教程\r\n手册"));
    store->save(QStringLiteral("设置"), QStringLiteral("代理服务器网址"), QStringLiteral("proxy.example:3128"));
    store.reset();
    SettingsStore again(dir.filePath(QStringLiteral("s.ini")));
    EXPECT_EQ(again.get(keys::sameNamePolicy), QStringLiteral("跳过"));
    EXPECT_EQ(again.get(keys::searchKeywords), QStringLiteral("教程\r\n手册"));
    EXPECT_EQ(again.get(keys::proxyHost), QStringLiteral("proxy.example:3128"));
}

// QSettings writes non-ASCII keys %U-escaped; a file a user writes by hand
// with the keys as plain UTF-8 text must read the same.
TEST_F(StoreFixture, HandWrittenFileWithLiteralKeysIsRead)
{
    store.reset();
    QFile f(dir.filePath(QStringLiteral("s.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[\xe8\xae\xbe\xe7\xbd\xae]\n"                                   // [设置]
            "\xe6\x96\x87\xe4\xbb\xb6\xe6\x9c\x80\xe5\xa4\xa7\xe5\x80\xbc=25\n"  // 文件最大值=25
            "\xe6\x90\x9c\xe7\xb4\xa2\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x9c\xb0\xe5\x9d\x80=http://127.0.0.1:8080\n");
    f.close();
    SettingsStore hand(f.fileName());
    EXPECT_EQ(hand.getInt(keys::maxFileSize), 25);
    EXPECT_EQ(hand.get(keys::searchServiceBase), QStringLiteral("http://127.0.0.1:8080"));
}

TEST_F(StoreFixture, NumbersRoundHalfToEvenAndNonNumbersFallBackToTheDefault)
{
    const struct {
        const char* stored;
        int expected;
    } rows[] = {{"10.5", 10}, {"11.5", 12}, {"7.5", 8}, {"0", 0}, {" 12 ", 12}, {"abc", 10}, {"", 10},
                {"1e400", 10}, {"-3", -3}, {"2.4", 2}};
    for (const auto& r : rows) {
        store->save(keys::maxFileSize, QString::fromUtf8(r.stored));
        EXPECT_EQ(store->getInt(keys::maxFileSize), r.expected) << "stored '" << r.stored << "'";
    }
}

TEST(BrowserEmulation, ValueTable)
{
    const struct {
        const char* level;
        bool force;
        unsigned value;
    } rows[] = {{"IE10", true, 10001}, {"IE10", false, 10000}, {"IE9", true, 9999}, {"IE9", false, 9000},
                {"IE8", true, 8888},   {"IE8", false, 8000},   {"IE7", true, 7000}, {"IE7", false, 7000},
                {"IE11", true, 0},     {"", false, 0}};
    for (const auto& r : rows)
        EXPECT_EQ(browserEmulationValue(QString::fromLatin1(r.level), r.force), r.value) << r.level;
}

TEST_F(StoreFixture, BrowserEmulationWritesOnlyWhenTheValueChanges)
{
    const QString section = QString::fromLatin1(kBrowserEmulationSection);
    store->save(section, QStringLiteral("docharvest.exe"), QStringLiteral("10000"));
    EXPECT_EQ(setBrowserEmulation("IE10", true, *store, "docharvest"), EmulationResult::Written);
    EXPECT_EQ(store->get(section, "docharvest.exe", ""), "10001");
    EXPECT_EQ(setBrowserEmulation("IE10", true, *store, "docharvest"), EmulationResult::Unchanged);
    EXPECT_EQ(setBrowserEmulation("Edge", true, *store, "docharvest"), EmulationResult::Deleted);
    EXPECT_EQ(store->get(section, "docharvest.exe", "absent"), "absent");
}

TEST(OsDescription, NameThenAddressWidthInBrackets)
{
    const QString d = composeOsDescription();
    EXPECT_FALSE(osName().isEmpty());
    EXPECT_TRUE(d.startsWith(osName()));
    EXPECT_TRUE(d.endsWith(QStringLiteral("[64位]")) || d.endsWith(QStringLiteral("[32位]"))) << d.toStdString();
}

// The size limit as the download window reads it: a negative or garbage
// value is the default, never a limit that skips every file.
TEST(SizeLimitSetting, NegativeOrGarbageReadsAsTheDefault)
{
    QTemporaryDir dir;
    SettingsStore::setInstance(std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("s.ini"))));
    const struct {
        const char* stored;
        int expected;
    } rows[] = {{"-5", 10}, {"-0.4", 0}, {"abc", 10}, {"3", 3}, {"0", 0}};
    for (const auto& r : rows) {
        SettingsStore::instance().save(keys::maxFileSize, QString::fromUtf8(r.stored));
        EXPECT_EQ(readMaxFileSizeMB(), r.expected) << "stored '" << r.stored << "'";
    }
    SettingsStore::setInstance(nullptr);
}
