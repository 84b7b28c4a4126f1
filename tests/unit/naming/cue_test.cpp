#include "app/SettingsStore.h"
#include "ports/Sound.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

class RecordingPlayer : public dh::CuePlayer {
public:
    void play(const QString& wavPath) override { played << wavPath; }
    QStringList played;
};

class Cues : public ::testing::Test {
protected:
    void SetUp() override
    {
        dh::CuePlayer::setInstance(&player);
        dh::setEmbeddedCueSource([this](int n) {
            ++reads;
            return QByteArray("RIFF-cue-") + QByteArray::number(n);
        });
        for (int n : {101, 102, 103})
            QFile::remove(dh::cueFilePath(dh::dataFolder(), n));
    }
    void TearDown() override
    {
        dh::CuePlayer::setInstance(nullptr);
        dh::setEmbeddedCueSource({});
    }
    static QByteArray read(const QString& p)
    {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    RecordingPlayer player;
    int reads = 0;
};

TEST_F(Cues, FirstUseWritesTheCueIntoTheDataFolder)
{
    const QString path = dh::cueFilePath(dh::dataFolder(), 101);
    EXPECT_EQ(path, dh::dataFolder() + QStringLiteral("101.wav"));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(dh::playCue(101, dh::dataFolder()));
    EXPECT_EQ(read(path), QByteArray("RIFF-cue-101"));
    EXPECT_EQ(player.played, QStringList{path});
    EXPECT_EQ(reads, 1);
}

TEST_F(Cues, LaterCallsPlayTheFileThatIsThere)
{
    const QString path = dh::cueFilePath(dh::dataFolder(), 103);
    ASSERT_TRUE(dh::playCue(103, dh::dataFolder()));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the user's own sound");
    }
    EXPECT_TRUE(dh::playCue(103, dh::dataFolder()));
    EXPECT_EQ(read(path), QByteArray("the user's own sound"));
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(player.played.size(), 2);
}

TEST_F(Cues, UnknownNumbersAndMissingDataPlayNothing)
{
    EXPECT_FALSE(dh::playCue(104, dh::dataFolder()));
    EXPECT_FALSE(dh::playCue(0, dh::dataFolder()));
    EXPECT_FALSE(QFile::exists(dh::cueFilePath(dh::dataFolder(), 104)));
    dh::setEmbeddedCueSource([](int) { return QByteArray(); });
    EXPECT_FALSE(dh::playCue(102, dh::dataFolder()));
    EXPECT_FALSE(QFile::exists(dh::cueFilePath(dh::dataFolder(), 102)));
    EXPECT_TRUE(player.played.isEmpty());
}

TEST_F(Cues, WithoutAPlayerTheFileIsStillPrepared)
{
    dh::CuePlayer::setInstance(nullptr);
    EXPECT_FALSE(dh::playCue(102, dh::dataFolder()));
    EXPECT_TRUE(QFile::exists(dh::cueFilePath(dh::dataFolder(), 102)));
}

TEST_F(Cues, AProgramWithoutCompiledCuesWritesNothing)
{
    // The engine's own tests link no cue resources: the default source is empty.
    dh::setEmbeddedCueSource({});
    EXPECT_TRUE(dh::embeddedCueData(101).isEmpty());
    EXPECT_FALSE(dh::playCue(101, dh::dataFolder()));
    EXPECT_FALSE(QFile::exists(dh::cueFilePath(dh::dataFolder(), 101)));
}

} // namespace
