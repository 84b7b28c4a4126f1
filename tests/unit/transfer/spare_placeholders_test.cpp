#include "TestEnv.h"
#include "download/TransferSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>

namespace dh::test {
namespace {

const QByteArray kPlaceholder("\x01\x00", 2);

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// Whether the temporary folder's file system swaps two names in one step;
// without it the plain moves are used and there are no spares to test.
bool tempFolderSwapsNames()
{
    QTemporaryDir dir;
    write(dir.filePath(QStringLiteral("a")), "a");
    write(dir.filePath(QStringLiteral("b")), "b");
    return ::renameat2(AT_FDCWD, QFile::encodeName(dir.filePath(QStringLiteral("a"))).constData(), AT_FDCWD,
                       QFile::encodeName(dir.filePath(QStringLiteral("b"))).constData(), RENAME_EXCHANGE)
        == 0;
}

// A spare goes only to a free name in its own folder, and only while it is
// still the placeholder that was left; nothing else is ever moved or removed.
TEST(SparePlaceholders, OnlyOurOwnSpareMovesAndOnlyToAFreeName)
{
    enum class Before { Nothing, UserFile, SpareSwapped, OtherFolder };
    const struct {
        const char* what;
        Before before;
        SparePlaceholders::Take take;
        QByteArray target;  // afterwards ("": nothing there)
        QByteArray spare;   // at the spare's path after clear()
    } cases[] = {
        {"free name", Before::Nothing, SparePlaceholders::Take::Taken, kPlaceholder, ""},
        {"name taken", Before::UserFile, SparePlaceholders::Take::NameTaken, "mine", ""},
        {"spare replaced by a user's file", Before::SpareSwapped, SparePlaceholders::Take::NoSpare, "", "theirs"},
        {"spare in another folder", Before::OtherFolder, SparePlaceholders::Take::NoSpare, "", ""},
    };
    if (!tempFolderSwapsNames())
        GTEST_SKIP() << "the temporary folder's file system cannot swap names";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        const QString folder = c.before == Before::OtherFolder ? dir.filePath(QStringLiteral("sub")) : dir.path();
        const QString sparePath = folder + QStringLiteral("/.dh-spare.part");
        OwnedFile first;
        ASSERT_TRUE(writePlaceholder(sparePath, &first));
        const QString target = dir.filePath(QStringLiteral("a.pdf"));
        if (c.before == Before::UserFile)
            write(target, "mine");
        if (c.before == Before::SpareSwapped) {
            QFile::remove(sparePath);
            write(sparePath, "theirs");
        }
        {
            SparePlaceholders spares;
            spares.give(sparePath, first);
            OwnedFile identity;
            EXPECT_EQ(spares.take(target, &identity), c.take);
            if (c.take == SparePlaceholders::Take::Taken)
                EXPECT_EQ(identity.inode, first.inode);
        }  // the rest goes with the object
        EXPECT_EQ(readFile(target), c.target);
        EXPECT_EQ(readFile(sparePath), c.spare);
    }
}

// Placing a body over the transfer's own placeholder swaps the two, so the
// placeholder can serve again; over anything else the body replaces it and
// nothing is left at the temporary name.
TEST(SparePlaceholders, TheBodySwapsOnlyWithItsOwnPlaceholder)
{
    const struct {
        const char* what;
        bool userFile;
        bool swapped;
        QByteArray atTemp;
    } cases[] = {
        {"our placeholder", false, true, kPlaceholder},
        {"a file of the user's (overwrite)", true, false, ""},
    };
    if (!tempFolderSwapsNames())
        GTEST_SKIP() << "the temporary folder's file system cannot swap names";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("a.pdf"));
        const QString temp = dir.filePath(QStringLiteral(".dh-body.part"));
        OwnedFile ours;
        ASSERT_TRUE(writePlaceholder(target, &ours));
        if (c.userFile) {
            QFile::remove(target);
            write(target, "old document");
        }
        write(temp, "%PDF-1.4 new body");
        bool swapped = false;
        OwnedFile placed;
        EXPECT_EQ(placeDownloadedBody(temp, target, true, &ours, &placed, &swapped), PlaceResult::Placed);
        EXPECT_EQ(swapped, c.swapped);
        EXPECT_EQ(readFile(target), QByteArray("%PDF-1.4 new body"));
        EXPECT_EQ(readFile(temp), c.atTemp);
        EXPECT_TRUE(placed.isSet());
    }
}

} // namespace
} // namespace dh::test
