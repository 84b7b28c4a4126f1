// Copying into a folder with the five same-name options.
#include "utilities/CopyFiles.h"

#include <QCoroTask>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace dh;

namespace {

void write(const QString& path, const QByteArray& data, const QDateTime& mtime = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
    f.flush();  // a later flush would set the time again
    if (mtime.isValid())
        f.setFileTime(mtime, QFileDevice::FileModificationTime);
}

QByteArray read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList names(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

TEST(CopySplit, SplitFilePathAndStripNumberSuffix)
{
    struct Case {
        const char* path;
        const char* folder;
        const char* base;
        const char* ext;
    } cases[] = {
        {"/a/b/report.pdf", "/a/b/", "report", "pdf"},
        {" /a/x.tar.gz ", "/a/", "x.tar", "gz"},
        {"/a/archive.backups", "/a/", "archive.backups", ""},
        {"/a/archive.backup", "/a/", "archive", "backup"},
        {"/a/.hidden", "/a/", ".hidden", ""},
        {"noslash", "", "noslash", ""},
        {"/a/b /c .pdf", "/a/b /", "c", "pdf"},
    };
    for (const Case& c : cases) {
        const SplitPath s = splitFilePath(QString::fromUtf8(c.path));
        EXPECT_EQ(s.folder, QString::fromUtf8(c.folder)) << c.path;
        EXPECT_EQ(s.baseName, QString::fromUtf8(c.base)) << c.path;
        EXPECT_EQ(s.extension, QString::fromUtf8(c.ext)) << c.path;
    }
    const std::pair<const char*, const char*> strip[] = {
        {"report[003]", "report"}, {"report[ 12 ]", "report"}, {"report[final]", "report[final]"},
        {"[001]", "[001]"},        {"report", "report"},      {"a[1]b", "a[1]b"},
        {"x[-1]", "x[-1]"},        {"x[]", "x[]"},
    };
    for (auto [in, out] : strip)
        EXPECT_EQ(stripNumberSuffix(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(CopyRename, NumberedNames)
{
    QTemporaryDir src, dst;
    const QString d = dst.path() + QLatin1Char('/');
    write(src.filePath(QStringLiteral("report.pdf")), "new");
    write(d + QStringLiteral("report.pdf"), "old");
    EXPECT_TRUE(copyWithOption(src.filePath(QStringLiteral("report.pdf")), d, SameNameOption::Rename));
    EXPECT_TRUE(copyWithOption(src.filePath(QStringLiteral("report.pdf")), d, SameNameOption::Rename));
    EXPECT_EQ(names(d), (QStringList{"report.pdf", "report[001].pdf", "report[002].pdf"}));
    EXPECT_EQ(read(d + QStringLiteral("report[002].pdf")), "new");

    // The bracketed number goes before numbering starts.
    QTemporaryDir d2;
    write(src.filePath(QStringLiteral("report[003].pdf")), "3");
    write(d2.filePath(QStringLiteral("report[003].pdf")), "x");
    EXPECT_TRUE(copyWithOption(src.filePath(QStringLiteral("report[003].pdf")), d2.path() + "/", SameNameOption::Rename));
    EXPECT_EQ(read(d2.filePath(QStringLiteral("report.pdf"))), "3");

    // Not a number: kept, and numbered behind it. Seven-letter extensions are part of the name.
    write(src.filePath(QStringLiteral("report[final].pdf")), "f");
    write(d2.filePath(QStringLiteral("report[final].pdf")), "x");
    write(src.filePath(QStringLiteral("archive.backups")), "b");
    write(d2.filePath(QStringLiteral("archive.backups")), "x");
    EXPECT_TRUE(copyWithOption(src.filePath(QStringLiteral("report[final].pdf")), d2.path() + "/", SameNameOption::Rename));
    EXPECT_TRUE(copyWithOption(src.filePath(QStringLiteral("archive.backups")), d2.path() + "/", SameNameOption::Rename));
    EXPECT_TRUE(QFileInfo::exists(d2.filePath(QStringLiteral("report[final][001].pdf"))));
    EXPECT_TRUE(QFileInfo::exists(d2.filePath(QStringLiteral("archive.backups[001]"))));

    // The thousandth name has four digits; a folder in the way counts as taken.
    QTemporaryDir d3;
    write(d3.filePath(QStringLiteral("report.pdf")), "x");
    for (int n = 1; n <= 998; ++n)
        write(d3.filePath(QStringLiteral("report[%1].pdf").arg(n, 3, 10, QLatin1Char('0'))), "x");
    QDir().mkpath(d3.filePath(QStringLiteral("report[999].pdf")));
    EXPECT_TRUE(copyWithAutoRename(src.filePath(QStringLiteral("report.pdf")), d3.path() + "/"));
    EXPECT_EQ(read(d3.filePath(QStringLiteral("report[1000].pdf"))), "new");
    EXPECT_FALSE(copyWithAutoRename(src.filePath(QStringLiteral("missing.pdf")), d3.path() + "/"));
}

TEST(CopyOptions, SameNameTable)
{
    const QDateTime t1 = QDateTime::currentDateTime().addDays(-3);
    const QDateTime t2 = t1.addSecs(3600);
    struct Case {
        SameNameOption option;
        QByteArray existing;
        QDateTime existingTime;
        QStringList expectNames;
        QByteArray expectMain;  // content of report.pdf afterwards
    } cases[] = {
        {SameNameOption::Skip, "SRC", t1, {"report.pdf"}, "SRC"},
        {SameNameOption::Skip, "old", t2, {"report.pdf"}, "old"},
        {SameNameOption::Overwrite, "older", t2, {"report.pdf"}, "SRC"},
        {SameNameOption::Rename, "SRC", t1, {"report.pdf", "report[001].pdf"}, "SRC"},
        // same length, other time: option 4 renames, option 5 overwrites
        {SameNameOption::SizeAndTime, "abc", t2, {"report.pdf", "report[001].pdf"}, "abc"},
        {SameNameOption::SizeOnly, "abc", t2, {"report.pdf"}, "SRC"},
        {SameNameOption::SizeAndTime, "abc", t1, {"report.pdf"}, "SRC"},
        {SameNameOption::SizeOnly, "abcd", t1, {"report.pdf", "report[001].pdf"}, "abcd"},
    };
    int i = 0;
    for (const Case& c : cases) {
        QTemporaryDir src, dst;
        const QString s = src.filePath(QStringLiteral("report.pdf"));
        write(s, "SRC", t1);
        write(dst.filePath(QStringLiteral("report.pdf")), c.existing, c.existingTime);
        copyWithOption(s, dst.path() + "/", c.option);
        EXPECT_EQ(names(dst.path()), c.expectNames) << "case " << i;
        EXPECT_EQ(read(dst.filePath(QStringLiteral("report.pdf"))), c.expectMain) << "case " << i;
        ++i;
    }
}

TEST(CopyOptions, CopyKeepsTimeAndLeavesSourceInDestinationAlone)
{
    QTemporaryDir dir;
    const QDateTime t = QDateTime::currentDateTime().addDays(-10);
    const QString s = dir.filePath(QStringLiteral("a.pdf"));
    write(s, "data", t);
    QTemporaryDir dst;
    EXPECT_TRUE(copyWithOption(s, dst.path() + "/", SameNameOption::Overwrite));
    EXPECT_EQ(QFileInfo(dst.filePath(QStringLiteral("a.pdf"))).lastModified().toSecsSinceEpoch(), t.toSecsSinceEpoch());
    // Option 4 now sees the same file and overwrites instead of numbering.
    EXPECT_TRUE(copyWithOption(s, dst.path() + "/", SameNameOption::SizeAndTime));
    EXPECT_EQ(names(dst.path()), QStringList{"a.pdf"});
    // A source inside the destination is skipped, even with overwrite.
    EXPECT_FALSE(copyWithOption(s, dir.path() + "/", SameNameOption::Overwrite));
    EXPECT_EQ(read(s), "data");
}

TEST(CopyRunTest, RunsAndStops)
{
    QTemporaryDir src, dst;
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        files << src.filePath(QStringLiteral("f%1.doc").arg(i));
        write(files.last(), "x");
    }
    CopyRun run;
    QList<int> values;
    QObject::connect(&run, &CopyRun::progress, [&](int v, int max) {
        values << v;
        EXPECT_EQ(max, 6);
    });
    QCoro::waitFor(run.run(files, dst.path() + "/", SameNameOption::Rename));
    EXPECT_EQ(run.copied(), 5);
    EXPECT_EQ(values, (QList<int>{0, 1, 2, 3, 4, 5, 6})) << "a finished run ends full";
    EXPECT_FALSE(run.running());

    // Stopped while the second file waits: that one is still copied, the rest passed over.
    QTemporaryDir dst2;
    int seen = 0;
    QObject::connect(&run, &CopyRun::currentFile, [&](const QString& name) {
        if (!name.isEmpty() && ++seen == 2)
            run.stop();
    });
    QCoro::waitFor(run.run(files, dst2.path() + "/", SameNameOption::Rename));
    EXPECT_EQ(names(dst2.path()), (QStringList{"f0.doc", "f1.doc"}));
}

namespace {

// The old file goes only when the new one is complete, and folders that
// differ only in letter case are different folders.
TEST(CopyOptions, OverwriteNeverLosesTheOldFileAndCaseMatters)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("dst/a.pdf"));
    write(target, "old");
    // The source went away between listing and copying: the copy fails.
    EXPECT_FALSE(copyWithOption(dir.filePath(QStringLiteral("src/a.pdf")), dir.path() + "/dst/",
                                SameNameOption::Overwrite));
    EXPECT_EQ(read(target), "old");
    EXPECT_EQ(names(dir.path() + "/dst"), QStringList{"a.pdf"});

    write(dir.filePath(QStringLiteral("Docs/b.pdf")), "upper");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("docs")));
    EXPECT_TRUE(copyWithOption(dir.filePath(QStringLiteral("Docs/b.pdf")), dir.path() + "/docs/",
                               SameNameOption::Skip));
    EXPECT_EQ(read(dir.filePath(QStringLiteral("docs/b.pdf"))), "upper");

    // A link at the target is replaced itself; what it points to is not written.
    write(dir.filePath(QStringLiteral("Docs/c.pdf")), "new");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("outside.pdf")), dir.filePath(QStringLiteral("docs/c.pdf"))));
    EXPECT_TRUE(copyWithOption(dir.filePath(QStringLiteral("Docs/c.pdf")), dir.path() + "/docs/",
                               SameNameOption::Overwrite));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("outside.pdf"))));
    EXPECT_FALSE(QFileInfo(dir.filePath(QStringLiteral("docs/c.pdf"))).isSymLink());
    EXPECT_EQ(read(dir.filePath(QStringLiteral("docs/c.pdf"))), "new");
}

} // namespace
