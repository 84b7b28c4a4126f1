// Answers that must not become the row's file, under both methods and every
// same-name policy: the user's files stay byte for byte, nothing appears
// under a row's name, and the row says why (a login page becomes a page row).
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "FakeDownloadHost.h"
#include "net/CurlTransferEngine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace dh::test {
namespace {

const char* const kAnswers[][2] = {  // path, the failed row's reason (empty: a page row)
    {"/t/status/404?type=text/plain", "服务器错误：HTTP 404"},
    {"/t/status/503?type=text/html", "服务器错误：HTTP 503"},
    {"/t/status/401?type=text/html", ""},
    {"/t/file/5000?encoding=gzip", "不支持的内容编码：gzip"},
    {"/t/slow/100000?piece=1&delay_ms=20", "传输过慢"},
};

std::map<QString, QByteArray> filesIn(const QString& dir)
{
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        QFile f(dir + name);
        files[name] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
    }
    return files;
}

class ErrorAnswers : public ::testing::TestWithParam<int> {};

TEST_P(ErrorAnswers, NeverBecomeTheRowsFile)
{
    const Timings saved = timings();
    timings().tick = timings().transferPoll = std::chrono::milliseconds(20);
    timings().lowSpeedTime = std::chrono::milliseconds(300);
    demo::DemoService service;
    ASSERT_TRUE(service.start());
    for (SameNamePolicy policy : {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
        SCOPED_TRACE(int(policy));
        QTemporaryDir dir;
        const QString save = dir.path() + QLatin1Char('/');
        CurlTransferEngine engine;
        setTransferEngine(&engine);
        DownloadListModel list;
        DownloadWindowState state;
        state.downloadMethod = GetParam();
        FakeHost host;
        host.policy = policy;
        host.slotNumber = 6;
        // Each answer twice: onto the user's chapter (with a page of theirs beside it), and under a free name.
        for (int i = 0; i < 10; ++i) {
            const QString name = QString::number(i);
            list.addItem(service.baseUrl() + kAnswers[i / 2][0] + "&row=" + name, name, "pdf", save, {});
            for (QFile f : {save + name + ".pdf", save + name + ".htm"})
                ASSERT_TRUE(i % 2 || (f.open(QIODevice::WriteOnly) && f.write("the user's " + name.toUtf8())));
        }
        auto before = filesIn(save);
        auto scheduler = std::make_unique<DownloadScheduler>(list, state, host);
        scheduler->startDownloading();
        EXPECT_TRUE(QTest::qWaitFor([&] { return list.isListFinished() && !state.stillExecuting(); }, 30000));
        scheduler.reset();
        setTransferEngine(nullptr);
        for (int i = 0; i < 10; ++i) {
            const DownloadItem& row = list.item(i);
            const QString reason = QString::fromUtf8(kAnswers[i / 2][1]), page = QFileInfo(itemFilePath(row)).fileName();
            SCOPED_TRACE(row.url.toStdString());
            if (policy == SameNamePolicy::Skip && i % 2 == 0) {
                EXPECT_EQ(cellText(row, DownloadListModel::ColProgress), "已存在，跳过");
            } else if (!reason.isEmpty()) {
                EXPECT_EQ(row.state, DownloadState::Failed);
                EXPECT_EQ(row.failReason, reason);
            } else {  // the page went to a new file, which is then the only new one
                EXPECT_TRUE(row.state == DownloadState::Done && row.fileType == "htm");
                EXPECT_FALSE(before.count(page));
                before[page] = "<html><head><title>401</title></head><body><h1>Error 401</h1></body></html>";
            }
        }
        EXPECT_EQ(filesIn(save), before);
    }
    service.stop();
    timings() = saved;
}

INSTANTIATE_TEST_SUITE_P(Methods, ErrorAnswers, ::testing::Values(1, 2));

} // namespace
} // namespace dh::test
