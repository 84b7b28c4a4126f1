#include "app/SettingsStore.h"
#include "download/DownloadListModel.h"
#include "download/HandOver.h"
#include "download/Naming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using dh::SameNamePolicy;
using dh::DownloadListModel;

namespace {

class Naming : public ::testing::Test {
protected:
    QString dir() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void touch(const QString& name, const QByteArray& content = "x") const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void touchAll(std::initializer_list<const char*> names) const
    {
        for (const char* n : names)
            touch(QString::fromUtf8(n));
    }
    QTemporaryDir m_dir;
};

TEST(SameNamePolicyText, CaptionsAndStoredValues)
{
    EXPECT_EQ(dh::sameNamePolicyCaption(SameNamePolicy::Skip), QStringLiteral("跳过"));
    EXPECT_EQ(dh::sameNamePolicyCaption(SameNamePolicy::Overwrite), QStringLiteral("覆盖"));
    EXPECT_EQ(dh::sameNamePolicyCaption(SameNamePolicy::Rename), QStringLiteral("重命名"));
    EXPECT_EQ(dh::sameNamePolicyLabel(), QStringLiteral("同名文件："));
    const struct {
        const char* stored;
        SameNamePolicy policy;
    } cases[] = {
        {"跳过", SameNamePolicy::Skip},      {"覆盖", SameNamePolicy::Overwrite}, {"重命名", SameNamePolicy::Rename},
        {"", SameNamePolicy::Rename},        {"skip", SameNamePolicy::Rename},     {" 跳过", SameNamePolicy::Rename},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dh::sameNamePolicyFromText(QString::fromUtf8(c.stored)), c.policy) << c.stored;
}

TEST_F(Naming, PolicyRoundTripsThroughTheSettings)
{
    dh::SettingsStore store(path("s.ini"));
    EXPECT_EQ(dh::loadSameNamePolicy(store), SameNamePolicy::Rename);  // nothing stored
    for (SameNamePolicy p : {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
        dh::saveSameNamePolicy(store, p);
        EXPECT_EQ(store.get(QStringLiteral("专利下载"), QStringLiteral("重复文件名设置"), QString()),
                  dh::sameNamePolicyCaption(p));
        EXPECT_EQ(dh::loadSameNamePolicy(store), p);
    }
}

TEST_F(Naming, SkipPolicyFinishesRowsWhoseFileExists)
{
    touch(QStringLiteral("a.pdf"), QByteArray(1234, 'z'));
    dh::DownloadItem row;
    row.url = QStringLiteral("http://h/a.pdf");
    row.name = QStringLiteral("a");
    row.fileType = QStringLiteral("pdf");
    row.folder = dir();

    for (SameNamePolicy p : {SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
        dh::DownloadItem r = row;
        EXPECT_TRUE(dh::needsDownload(r, p));
        EXPECT_EQ(r.state, dh::DownloadState::Waiting);
        EXPECT_TRUE(cellText(r, DownloadListModel::ColProgress).isEmpty());
    }
    dh::DownloadItem missing = row;
    missing.name = QStringLiteral("b");
    EXPECT_TRUE(dh::needsDownload(missing, SameNamePolicy::Skip));

    dh::DownloadListModel list;
    list.addItem(row.url, row.name, row.fileType, row.folder, row.referer);
    EXPECT_FALSE(dh::needsDownload(list, 0, SameNamePolicy::Skip));
    const dh::DownloadItem& r = list.item(0);
    EXPECT_EQ(r.state, dh::DownloadState::Done);
    EXPECT_EQ(cellText(r, DownloadListModel::ColSize), QStringLiteral("1234"));
    EXPECT_EQ(cellText(r, DownloadListModel::ColReceived), QStringLiteral("1234"));
    EXPECT_EQ(cellText(r, DownloadListModel::ColProgress), QStringLiteral("已存在，跳过"));
}

TEST_F(Naming, RenamePolicyNumbering)
{
    const struct {
        const char* what;
        std::initializer_list<const char*> present;
        const char* name;
        const char* type;
        const char* expectedFile;
        const char* expectedName;
    } cases[] = {
        {"free name", {}, "报告", "pdf", "报告.pdf", "报告"},
        {"first clash", {"报告.pdf"}, "报告", "pdf", "报告[001].pdf", "报告[001]"},
        {"second clash", {"报告.pdf", "报告[001].pdf"}, "报告", "pdf", "报告[002].pdf", "报告[002]"},
        {"continues a number", {"报告[007].pdf"}, "报告[007]", "pdf", "报告[008].pdf", "报告[008]"},
        {"continues past taken", {"r[007].pdf", "r[008].pdf"}, "r[007]", "pdf", "r[009].pdf", "r[009]"},
        {"number in short form", {"r[7].pdf"}, "r[7]", "pdf", "r[007].pdf", "r[007]"},
        {"non-number brackets", {"a[x].pdf"}, "a[x]", "pdf", "a『x』.pdf", "a『x』"},
        {"non-number brackets taken", {"a[x].pdf", "a『x』.pdf"}, "a[x]", "pdf", "a『x』[001].pdf", "a『x』[001]"},
        {"zero counts as none", {"a[0].pdf"}, "a[0]", "pdf", "a.pdf", "a"},
        {"zero, a taken", {"a[0].pdf", "a.pdf"}, "a[0]", "pdf", "a[001].pdf", "a[001]"},
        {"text after ] goes", {"v[2]b.pdf"}, "v[2]b", "pdf", "v[002].pdf", "v[002]"},
        {"inner brackets replaced", {"x[a][3].pdf"}, "x[a][3]", "pdf", "x『a』[003].pdf", "x『a』[003]"},
        {"] before [", {"q]1[.pdf"}, "q]1[", "pdf", "q』1『.pdf", "q』1『"},
        {"spaces around the number", {"s[ 4 ].pdf"}, "s[ 4 ]", "pdf", "s[004].pdf", "s[004]"},
        {"negative is text", {"n[-1].pdf"}, "n[-1]", "pdf", "n『-1』.pdf", "n『-1』"},
        {"four digits", {"m[999].pdf"}, "m[999]", "pdf", "m[1000].pdf", "m[1000]"},
        {"empty type, no dot", {"plain"}, "plain", "", "plain[001]", "plain[001]"},
        {"a folder in the way", {}, "folder", "pdf", "folder[001].pdf", "folder[001]"},
    };
    for (const auto& c : cases) {
        QTemporaryDir d;
        for (const char* p : c.present) {
            QFile f(d.filePath(QString::fromUtf8(p)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        if (QByteArray(c.what) == "a folder in the way")
            QDir(d.path()).mkdir(QStringLiteral("folder.pdf"));
        QString shown;
        const QString got = dh::renameForSavePath(d.path(), QString::fromUtf8(c.name), QString::fromUtf8(c.type),
                                            SameNamePolicy::Rename, &shown);
        EXPECT_EQ(got, d.path() + QLatin1Char('/') + QString::fromUtf8(c.expectedFile)) << c.what;
        EXPECT_EQ(shown, QString::fromUtf8(c.expectedName)) << c.what;
    }
}

TEST_F(Naming, OnlyOverwriteReturnsAnExistingPathUnchanged)
{
    touch(QStringLiteral("报告.pdf"));
    QString shown;
    EXPECT_EQ(dh::renameForSavePath(dir() + QLatin1Char('/'), QStringLiteral("报告"), QStringLiteral("pdf"),
                               SameNamePolicy::Overwrite, &shown),
              path(QStringLiteral("报告.pdf")));
    EXPECT_EQ(shown, QStringLiteral("报告"));
    // Skip decides earlier (确定是需要下载); a path asked for under it is numbered.
    EXPECT_EQ(dh::renameForSavePath(dir(), QStringLiteral("报告"), QStringLiteral("pdf"), SameNamePolicy::Skip, &shown),
              path(QStringLiteral("报告[001].pdf")));
    EXPECT_EQ(shown, QStringLiteral("报告[001]"));
}

TEST_F(Naming, MakeUniquePath)
{
    const struct {
        const char* what;
        std::initializer_list<const char*> present;
        const char* input;
        const char* expected;
    } cases[] = {
        {"free", {}, "x.caj", "x.caj"},
        {"taken", {"x.caj"}, "x.caj", "x[001].caj"},
        {"taken twice", {"x.caj", "x[001].caj"}, "x.caj", "x[002].caj"},
        {"counter dropped, base free", {"x[0005].caj"}, "x[0005].caj", "x.caj"},
        {"counter dropped, base taken", {"x[0005].caj", "x.caj"}, "x[0005].caj", "x[001].caj"},
        {"brackets elsewhere stay", {"a[1]b.htm"}, "a[1]b.htm", "a[1]b[001].htm"},
        {"non-number stays", {"a[x].htm"}, "a[x].htm", "a[x][001].htm"},
        {"no extension", {"noext"}, "noext", "noext[001]"},
        {"hidden file counts", {".hidden.htm"}, ".hidden.htm", ".hidden[001].htm"},
        {"three-digit counter also dropped", {"r[001].htm"}, "r[001].htm", "r.htm"},
    };
    for (const auto& c : cases) {
        QTemporaryDir d;
        for (const char* p : c.present) {
            QFile f(d.filePath(QString::fromUtf8(p)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        EXPECT_EQ(dh::makeUniquePath(d.filePath(QString::fromUtf8(c.input))), d.filePath(QString::fromUtf8(c.expected)))
            << c.what;
    }
}

TEST_F(Naming, MakeUniquePathCutsLongNamesAndCountsEveryEntry)
{
    const QString longBase = QString(120, QLatin1Char('a'));
    touch(longBase + QStringLiteral(".htm"));
    EXPECT_EQ(dh::makeUniquePath(path(longBase + QStringLiteral(".htm"))),
              path(longBase.left(100) + QStringLiteral(".htm")));
    // A folder or a dangling link of the name is just as much in the way.
    QDir(dir()).mkdir(QStringLiteral("d.htm"));
    EXPECT_EQ(dh::makeUniquePath(path(QStringLiteral("d.htm"))), path(QStringLiteral("d[001].htm")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("l.htm"))));
    EXPECT_EQ(dh::makeUniquePath(path(QStringLiteral("l.htm"))), path(QStringLiteral("l[001].htm")));
    // The extra predicate (a dry run's planned names) counts too.
    EXPECT_EQ(dh::makeUniquePath(path(QStringLiteral("free.htm")),
                                 [&](const QString& p) { return p == path(QStringLiteral("free.htm")); }),
              path(QStringLiteral("free[001].htm")));
    // A name without any folder part is returned as it is.
    EXPECT_EQ(dh::makeUniquePath(QStringLiteral("bare.htm")), QStringLiteral("bare.htm"));
    // A surrogate pair at the cut is not split.
    const QString emoji = QString(99, QLatin1Char('e')) + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("zz");
    touch(emoji + QStringLiteral(".htm"));
    EXPECT_EQ(dh::makeUniquePath(path(emoji + QStringLiteral(".htm"))),
              path(QString(99, QLatin1Char('e')) + QStringLiteral(".htm")));
}

TEST(SplitNameAndExtension, Rules)
{
    const struct {
        const char* input;
        const char* base;
        const char* ext;
    } cases[] = {
        {"/d/d/report.pdf", "report", "pdf"},
        {"a.b.c", "a.b", "c"},
        {"file.extension", "file.extension", ""},
        {"file.abcdef", "file", "abcdef"},   // six characters still count
        {"file.abcdefg", "file.abcdefg", ""},  // seven do not
        {"name.", "name", ""},
        {"noext", "noext", ""},
        {"  /x/ spaced . pdf  ", "spaced", "pdf"},
        {"/dir.with.dots/file", "file", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        QString base = QStringLiteral("unset");
        EXPECT_EQ(dh::splitNameAndExtension(QString::fromUtf8(c.input), &base), QString::fromUtf8(c.ext)) << c.input;
        EXPECT_EQ(base, QString::fromUtf8(c.base)) << c.input;
    }
}

} // namespace

namespace {

// Rows the engine must not start as they are: an address that is no web
// address is refused, and a title that cleans up to nothing gets a name.
TEST_F(Naming, RowsAreCheckedBeforeTheyStart)
{
    touch(QStringLiteral("未命名.pdf"));
    const struct {
        const char* url;
        const char* name;
        bool needed;
        const char* wantName;
        const char* progress;
    } rows[] = {
        {"file:///etc/passwd", "passwd", false, "passwd", "不支持的网址"},
        {"data:text/plain,abc", "d", false, "d", "不支持的网址"},
        {"qrc:/res/x.pdf", "q", false, "q", "不支持的网址"},
        {"HTTPS://h/a.pdf", "a", true, "a", ""},
        {"http://h/dir/report.pdf?x=1", "", true, "report", ""},
        {"http://h/dir/", "", true, "未命名[001]", ""},  // 未命名.pdf is taken
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.url);
        for (SameNamePolicy p : {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
            dh::DownloadItem row;
            row.url = QString::fromUtf8(r.url);
            row.name = QString::fromUtf8(r.name);
            row.fileType = QStringLiteral("pdf");
            row.folder = dir();
            EXPECT_EQ(dh::needsDownload(row, p), r.needed);
            EXPECT_EQ(row.name, QString::fromUtf8(r.wantName));
            EXPECT_EQ(cellText(row, DownloadListModel::ColProgress), QString::fromUtf8(r.progress));
            EXPECT_EQ(row.state, r.needed ? dh::DownloadState::Waiting : dh::DownloadState::Failed);
        }
    }
}

// Under the skip policy a link at the path is a file in the way, even when
// it points nowhere: writing there would go through it.
TEST_F(Naming, SkipCountsALinkAsAnExistingFile)
{
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere/x")), path(QStringLiteral("l.pdf"))));
    dh::DownloadItem row;
    row.url = QStringLiteral("http://h/l.pdf");
    row.name = QStringLiteral("l");
    row.fileType = QStringLiteral("pdf");
    row.folder = dir();
    EXPECT_FALSE(dh::needsDownload(row, SameNamePolicy::Skip));
    EXPECT_EQ(cellText(row, DownloadListModel::ColProgress), QStringLiteral("已存在，跳过"));
}

// Address names are decoded, then cleaned; no name keeps a direction override (a false extension).
TEST(HandOverNames, DecodedAndCleaned)
{
    const struct { const char* url; const char* title; bool byAddress; const char* name; } rows[] = {
        {"http://h/d/%E4%B8%AD.pdf", "", true, "中"}, {"http://h/d/%D6%D0%CE%C4.pdf?x=1", "", true, "中文"},  // GBK
        {"http://h/d/a%2Fb%1B%0A.pdf", "", true, "ab"}, {"http://h/d/x%E2%80%AEfdp.exe.pdf", "", true, "xfdp.exe"},
        {"http://h/d/100%25.pdf", "", true, "100%"}, {"http://h/x.pdf", "\u2067a\u202Eb\u200F", false, "ab"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(dh::handOverName(QString::fromUtf8(r.url), QString::fromUtf8(r.title), r.byAddress),
                  QString::fromUtf8(r.name)) << r.url;
}

// Numbered names of long titles still fit the 255-byte file-name limit.
TEST_F(Naming, NumberedLongNamesFitTheFileNameLimit)
{
    const QString title(84, QChar(0x4E2D));  // 252 bytes in UTF-8
    touch(title + QStringLiteral(".p"));
    QString shown;
    const QString p = dh::renameForSavePath(dir(), title, QStringLiteral("p"), SameNamePolicy::Rename, &shown);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("[001]")));
    EXPECT_LE(QFile::encodeName(p.mid(p.lastIndexOf('/') + 1)).size(), 255);
    QFile f(p);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    const QString u = dh::makeUniquePath(path(title + QStringLiteral(".p")));
    EXPECT_LE(QFile::encodeName(u.mid(u.lastIndexOf('/') + 1)).size(), 255);
    QFile g(u);
    EXPECT_TRUE(g.open(QIODevice::WriteOnly));
}

} // namespace
