// Downloading a complete file again, by every re-download command and both
// methods: the file stays whole until its replacement is.
#include "DownloadFixture.h"

#include "download/ListOperations.h"

namespace dh::test {
namespace {

class Redownload : public DownloadFixture, public ::testing::WithParamInterface<int> {};

TEST_P(Redownload, CompleteFileStaysUntilItsReplacementIsWhole)
{
    state.downloadMethod = GetParam();
    host.policy = SameNamePolicy::Skip;
    using F = RedownloadFilter;
    const QString refused = QStringLiteral("http://127.0.0.1:1/x.pdf");  // nothing listens on port 1
    const QString slow = url("/t/slow/400000?piece=2000&delay_ms=20");
    const struct {
        F filter;
        bool automatic;  // the monitor's round instead of the command
        QString to;
        bool replaced, stop;
    } cases[] = {
        {F::Selected, false, url("/t/cut/60000"), false, false},
        {F::Selected, false, refused, false, false},
        {F::Selected, false, url("/t/status/503"), false, false},
        {F::Selected, false, url("/doc/protected/x.pdf"), false, false},
        {F::Selected, false, url("/doc/y.pdf"), true, false},
        {F::Failed, false, url("/t/cut/60000"), false, false},
        {F::Failed, false, url("/doc/y.pdf"), true, false},
        {F::Failed, true, refused, false, false},
        {F::Failed, true, url("/doc/y.pdf"), true, false},
        {F::FailedAndWebPages, false, url("/t/status/503"), false, false},
        {F::SmallComplete, false, refused, false, false},
        {F::SmallComplete, false, url("/doc/y.pdf"), true, false},
        {F::Selected, false, slow, false, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << n++ << " " << c.to.toStdString());
        list.clear();
        QFile::remove(path("x.pdf"));
        add("/doc/x.pdf", "x", "pdf");
        ASSERT_TRUE(runAll());
        const QByteArray original = readFile(path("x.pdf"));
        ASSERT_EQ(original, demo::makeDocument("pdf", "x"));
        auto redownloadFrom = [&](const QString& address, F filter, bool automatic, bool stop) {
            DownloadItem it = list.item(0);
            it.url = address;
            list.setItem(0, it);
            host.autoRedownloadOption = automatic;
            if (automatic)
                TransferMonitor(list, state, *scheduler, host).tick();
            else
                ASSERT_EQ(redownloadRows(list, filter, {0}, 1e9), 1);
            host.autoRedownloadOption = false;
            if (!stop) {
                ASSERT_TRUE(runAll());
                return;
            }
            scheduler->startDownloading();
            ASSERT_TRUE(QTest::qWaitFor([&] { return list.item(0).receivedText.toLongLong() > 0; }, 20000));
            scheduler->stopDownloading();
            QTest::qWait(50);  // a stopped transfer's files go as it winds down
        };
        // The failed-row commands need a failed row that still has its file.
        if (c.filter == F::Failed || c.filter == F::FailedAndWebPages)
            redownloadFrom(refused, F::Selected, false, false);
        redownloadFrom(c.to, c.filter, c.automatic, c.stop);
        EXPECT_EQ(readFile(path("x.pdf")), c.replaced ? demo::makeDocument("pdf", "y") : original);
        EXPECT_EQ(list.item(0).state, c.replaced ? DownloadState::Done : DownloadState::Failed);
        if (!c.replaced)
            EXPECT_EQ(list.item(0).progressText, keptFileText());
        EXPECT_EQ(entries(), QStringList{"x.pdf"});
    }
}

INSTANTIATE_TEST_SUITE_P(BothMethods, Redownload, ::testing::Values(1, 2));

} // namespace
} // namespace dh::test
