#include "DetectionTestUtil.h"

#include "download/TypeCorrection.h"
#include "CellTexts.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "ports/Prompter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using dh::DownloadItem;
using dh::DownloadState;
using dh::test::writeFile;
using dh::test::setCellTexts;
using dh::cellText;
using dh::DownloadListModel;

namespace {

const QByteArray kHtml = "<html><head><title>登录</title></head><body>please log in</body></html>";
const QByteArray kPdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<>>\nendobj\n";

class TypeCorrection : public ::testing::Test {
protected:
    QString folder() const { return m_dir.path() + QLatin1Char('/'); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    bool exists(const QString& name) const { return QFileInfo::exists(file(name)); }
    QByteArray contentOf(const QString& name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    DownloadItem row(const QString& name, const QString& type, DownloadState state = DownloadState::Done) const
    {
        DownloadItem r;
        r.url = QStringLiteral("http://example.test/") + name + QLatin1Char('.') + type;
        r.name = name;
        r.fileType = type;
        r.folder = m_dir.path();  // without the closing "/": itemFilePath adds it
        r.state = state;
        r.percent = 100;
        return r;
    }

    QTemporaryDir m_dir;
};

TEST_F(TypeCorrection, HtmlSavedAsPdfBecomesHtm)
{
    ASSERT_TRUE(writeFile(file("report.pdf"), kHtml));
    DownloadItem r = row("report", "pdf");
    ASSERT_TRUE(dh::correctItemFileType(r));
    EXPECT_EQ(r.fileType, QStringLiteral("htm"));
    EXPECT_EQ(r.name, QStringLiteral("report"));
    EXPECT_EQ(r.state, DownloadState::Done);
    EXPECT_EQ(cellText(r, DownloadListModel::ColProgress), QStringLiteral("100%"));
    EXPECT_FALSE(exists("report.pdf"));
    EXPECT_EQ(contentOf("report.htm"), kHtml);
    EXPECT_EQ(dh::itemFilePath(r), file("report.htm"));
}

TEST_F(TypeCorrection, TakenNamesGetACounterAndTheRowFollows)
{
    ASSERT_TRUE(writeFile(file("report.pdf"), kHtml));
    ASSERT_TRUE(writeFile(file("report.htm"), "older page"));
    ASSERT_TRUE(writeFile(file("report[0001].htm"), "another"));
    DownloadItem r = row("report", "pdf");
    ASSERT_TRUE(dh::correctItemFileType(r));
    EXPECT_EQ(r.name, QStringLiteral("report[001]"));
    EXPECT_EQ(r.fileType, QStringLiteral("htm"));
    EXPECT_EQ(contentOf("report.htm"), QByteArray("older page"));  // untouched
    EXPECT_EQ(contentOf("report[0001].htm"), QByteArray("another"));
    EXPECT_EQ(contentOf("report[001].htm"), kHtml);
    EXPECT_EQ(dh::itemFilePath(r), file("report[001].htm"));
}

TEST_F(TypeCorrection, RowsThatNeedNothingStayAsTheyAre)
{
    struct Case {
        const char* what;
        const char* name;
        const char* type;
        QByteArray content;  // empty: no file
    } cases[] = {
        {"real pdf typed PDF", "a", "PDF", kPdf},
        {"unknown content", "b", "pdf", "just some words"},
        {"unknown content under xxx", "c", "xxx", "just some words"},
        {"missing file", "d", "pdf", {}},
    };
    for (const Case& c : cases) {
        const QString fname = QString::fromUtf8(c.name) + QLatin1Char('.') + QString::fromUtf8(c.type);
        if (!c.content.isEmpty()) {
            ASSERT_TRUE(writeFile(file(fname), c.content));
        }
        DownloadItem r = row(QString::fromUtf8(c.name), QString::fromUtf8(c.type));
        const DownloadItem before = r;
        EXPECT_FALSE(dh::correctItemFileType(r)) << c.what;
        EXPECT_EQ(r.name, before.name) << c.what;
        EXPECT_EQ(r.fileType, before.fileType) << c.what;
        EXPECT_EQ(exists(fname), !c.content.isEmpty()) << c.what;
    }
}

TEST_F(TypeCorrection, NameKeepsItsSpacesSoTheRowStillFindsTheFile)
{
    ASSERT_TRUE(writeFile(file(" spaced .pdf"), kHtml));
    DownloadItem r = row(QStringLiteral(" spaced "), QStringLiteral("pdf"));
    ASSERT_TRUE(dh::correctItemFileType(r));
    EXPECT_EQ(dh::itemFilePath(r), file(" spaced .htm"));
    EXPECT_TRUE(QFileInfo::exists(dh::itemFilePath(r)));
}

TEST_F(TypeCorrection, EmptyTypeGetsTheDetectedOne)
{
    ASSERT_TRUE(writeFile(file("noext"), kPdf));
    DownloadItem r = row(QStringLiteral("noext"), QString());
    ASSERT_TRUE(dh::correctItemFileType(r));
    EXPECT_EQ(dh::itemFilePath(r), file("noext.pdf"));
}

TEST_F(TypeCorrection, AMoveNeverReplacesAFileThatAppearedMeanwhile)
{
    ASSERT_TRUE(writeFile(file("x.pdf"), kHtml));
    DownloadItem r = row(QStringLiteral("x"), QStringLiteral("pdf"));
    const auto plan = dh::planTypeCorrection(r);
    ASSERT_TRUE(plan.has_value());
    EXPECT_EQ(plan->target, file("x.htm"));
    ASSERT_TRUE(writeFile(file("x.htm"), "someone else's"));  // taken after the plan
    EXPECT_FALSE(dh::applyTypeCorrection(r, *plan));
    EXPECT_EQ(r.fileType, QStringLiteral("pdf"));
    EXPECT_EQ(contentOf("x.htm"), QByteArray("someone else's"));
    EXPECT_EQ(contentOf("x.pdf"), kHtml);
}

TEST_F(TypeCorrection, CheckCommandCorrectsRowsAndReports)
{
    dh::DownloadListModel list;
    dh::DownloadWindowState state;
    dh::ScriptedPrompter prompter;
    const struct {
        const char* name;
        const char* type;
        QByteArray content;
    } files[] = {
        {"one", "pdf", kPdf}, {"two", "pdf", kHtml}, {"three", "doc", kPdf}, {"four", "caj", "??"}, {"five", "htm", kHtml},
    };
    for (const auto& f : files) {
        const DownloadItem r = row(QString::fromUtf8(f.name), QString::fromUtf8(f.type));
        ASSERT_TRUE(writeFile(dh::itemFilePath(r), f.content));
        list.addItem(r.url, r.name, r.fileType, r.folder, r.referer);
    }
    // Guard A: a running scheduler refuses the command and leaves every file alone.
    bool schedulerOn = true;
    state.setSchedulerTimerSource([&] { return schedulerOn; });
    EXPECT_EQ(dh::correctFileTypesOnDisk(list, state, prompter), -1);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("停止下载以后，才能执行此操作！"));
    EXPECT_EQ(prompter.shown[0].icon, dh::MessageIcon::Information);
    EXPECT_TRUE(exists("two.pdf"));

    schedulerOn = false;
    prompter.clear();
    EXPECT_EQ(dh::correctFileTypesOnDisk(list, state, prompter), 2);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, QStringLiteral("纠正文件类型：2个."));
    EXPECT_EQ(list.item(1).fileType, QStringLiteral("htm"));
    EXPECT_EQ(list.item(2).fileType, QStringLiteral("pdf"));
    EXPECT_EQ(list.item(0).fileType, QStringLiteral("pdf"));
    EXPECT_EQ(list.item(3).fileType, QStringLiteral("caj"));
    EXPECT_TRUE(exists("two.htm"));
    EXPECT_TRUE(exists("three.pdf"));

    // Nothing left to correct, and an empty list, still report.
    prompter.clear();
    EXPECT_EQ(dh::correctFileTypesOnDisk(list, state, prompter), 0);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("纠正文件类型：0个.")});
    dh::DownloadListModel empty;
    prompter.clear();
    EXPECT_EQ(dh::correctFileTypesOnDisk(empty, state, prompter), 0);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("纠正文件类型：0个.")});
}

TEST_F(TypeCorrection, ExistenceCheckMarksOnlyMissingFiles)
{
    dh::DownloadListModel list;
    const DownloadItem present = row(QStringLiteral("here"), QStringLiteral("pdf"));
    const DownloadItem waiting = row(QStringLiteral("never"), QStringLiteral("pdf"), DownloadState::Waiting);
    ASSERT_TRUE(writeFile(dh::itemFilePath(present), kPdf));
    list.addItem(present.url, present.name, present.fileType, present.folder, present.referer);
    list.addItem(waiting.url, waiting.name, waiting.fileType, waiting.folder, waiting.referer);
    setCellTexts(list, 0, QStringLiteral("10"), QStringLiteral("10"), QStringLiteral("100%"));
    ASSERT_EQ(list.countNotDownloaded(), 1);

    EXPECT_EQ(dh::checkFilesExist(list), 1);
    EXPECT_EQ(cellText(list.item(0), DownloadListModel::ColProgress), QStringLiteral("100%"));
    EXPECT_EQ(cellText(list.item(1), DownloadListModel::ColProgress), QStringLiteral("不存在"));
    EXPECT_EQ(list.item(1).state, DownloadState::Waiting);
    EXPECT_TRUE(cellText(list.item(1), DownloadListModel::ColSize).isEmpty());
    EXPECT_EQ(list.countNotDownloaded(), 0);
}

} // namespace
