// The scheduler takes the next row when a transfer ends, not on the next
// tick: under both methods, with and without a pause between files, and a
// stop in the middle of a fast run.
#include "DownloadFixture.h"

#include "download/MethodOneTransfer.h"

#include <QElapsedTimer>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

struct Method {
    const char* name;
    int method;
    int slotCount;
};
const Method kMethods[] = {{"method one", 1, 1}, {"method two, one slot", 2, 1}};

class Refill : public DownloadFixture {
protected:
    int count(DownloadState s) const
    {
        int n = 0;
        for (int i = 0; i < list.size(); ++i)
            n += list.item(i).state == s ? 1 : 0;
        return n;
    }
    void use(const Method& m)
    {
        state.downloadMethod = m.method;
        host.slotNumber = m.slotCount;
    }
    // Start and end times of every row, from the moment of the call.
    void record()
    {
        clock.start();
        started.assign(size_t(list.size()), -1);
        ended.assign(size_t(list.size()), -1);
        context = std::make_unique<QObject>();  // the previous round's connections go
        QObject::connect(scheduler.get(), &DownloadScheduler::rowStarted, context.get(),
                         [this](int r) { started[size_t(r)] = clock.elapsed(); });
        QObject::connect(&list, &QAbstractItemModel::dataChanged, context.get(), [this](const QModelIndex& i) {
            const int r = i.row();
            if (ended[size_t(r)] < 0 && list.item(r).state == DownloadState::Done)
                ended[size_t(r)] = clock.elapsed();
        });
    }
    // The scheduler on, with a tick so long that only transfer ends can
    // start rows after the first one, which this starts by hand.
    void startWithoutTicks()
    {
        timings().tick = 60s;
        scheduler->startDownloading();
        scheduler->tick();
    }

    QElapsedTimer clock;
    std::vector<qint64> started, ended;
    std::unique_ptr<QObject> context;
};

TEST_F(Refill, AnEndedRowFreesItsSlotWithoutATick)
{
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        list.clear();
        use(m);
        for (int i = 0; i < 6; ++i)
            add(QStringLiteral("/t/file/%1?n=%2").arg(5000 + i).arg(m.method), QStringLiteral("%1-%2").arg(m.method).arg(i),
                "bin");
        record();
        startWithoutTicks();
        // Six rows one after another in one slot; a tick-driven scheduler would need six minutes.
        ASSERT_TRUE(waitFinished(10000));
        scheduler->switchOff();
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(list.item(i).state, DownloadState::Done);
            EXPECT_EQ(readFile(itemFilePath(list.item(i))), transferBytes(5000 + i));
            if (i > 0)
                EXPECT_GE(started[size_t(i)], ended[size_t(i - 1)]);  // one at a time
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheduler->activeTransfers() == 0 && !state.stillExecuting(); }));
        state.endTransfer();
    }
}

TEST_F(Refill, PauseBetweenFilesIsKeptBetweenEveryTwoRows)
{
    // A pause of 2 "seconds" of 100 ms each; the tick never comes.
    host.pause = 2;
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        list.clear();
        use(m);
        for (int i = 0; i < 4; ++i)
            add(QStringLiteral("/t/file/%1?n=p%2").arg(3000 + i).arg(m.method), QStringLiteral("p%1-%2").arg(m.method).arg(i),
                "bin");
        record();
        state.forgetTransferEvent();  // the first row may start at once
        startWithoutTicks();
        ASSERT_TRUE(waitFinished(10000));
        scheduler->switchOff();
        for (int i = 1; i < 4; ++i) {
            SCOPED_TRACE(i);
            ASSERT_GE(ended[size_t(i - 1)], 0);
            const qint64 gap = started[size_t(i)] - ended[size_t(i - 1)];
            // Not before the pause (a few ms of rounding between the two
            // clocks), and not a tick later either.
            EXPECT_GE(gap, 195);
            EXPECT_LT(gap, 1000);
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return scheduler->activeTransfers() == 0 && !state.stillExecuting(); }));
        state.endTransfer();
    }
}

TEST_F(Refill, StopDuringAFastRunLeavesNoRowDownloading)
{
    const Method methods[] = {{"method one", 1, 1}, {"method two, six slots", 2, 6}};
    for (const Method& m : methods) {
        SCOPED_TRACE(m.name);
        list.clear();
        use(m);
        for (int i = 0; i < 300; ++i)
            add(QStringLiteral("/t/file/2000?n=s%1-%2").arg(m.method).arg(i), QStringLiteral("s%1-%2").arg(m.method).arg(i),
                "bin");
        scheduler->startDownloading();
        ASSERT_TRUE(QTest::qWaitFor([&] { return count(DownloadState::Done) >= 20; }, 10000));
        scheduler->stopDownloading();
        EXPECT_EQ(count(DownloadState::Downloading), 0);
        EXPECT_EQ(scheduler->activeTransfers(), 0);
        // Transfers that were ending and refills that were due change nothing afterwards.
        const int waiting = count(DownloadState::Waiting);
        EXPECT_GT(waiting, 0);
        QTest::qWait(300);
        EXPECT_EQ(count(DownloadState::Downloading), 0);
        EXPECT_EQ(count(DownloadState::Waiting), waiting);
        EXPECT_FALSE(scheduler->running());
        EXPECT_FALSE(state.stillExecuting());
        for (int i = 0; i < list.size(); ++i) {
            const DownloadItem& it = list.item(i);
            if (it.state == DownloadState::Done)
                EXPECT_EQ(readFile(itemFilePath(it)), transferBytes(2000)) << i;
        }
    }
}

} // namespace
} // namespace dh::test
