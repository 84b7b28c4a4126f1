// Fault injection: a real local server that cuts, stalls, lies about lengths,
// changes types, redirects to other schemes and answers with error pages,
// hostile titles, and a save folder that starts with the user's files and a
// dangling link. Every scenario (a table row) runs under both methods and
// all three same-name policies; what is checked are the invariants a user
// relies on, not only the row states:
//  - every file that was there before is still there, byte for byte, unless
//    the policy was overwrite and a complete new body replaced it;
//  - nothing outside the save folder is created or changed;
//  - no row reports success for a missing, partial or placeholder file;
//  - no placeholder or temporary file is left, whatever the ending, but a
//    row's body kept for a resume, and that goes with the list.
#include "app/AppGlobals.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/ListOperations.h"
#include "FakeDownloadHost.h"
#include "net/CurlTransferEngine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <map>
#include <optional>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

const QByteArray kPlaceholder("\x01\x00", 2);
const QByteArray kPrecious("the user's own file");
const QByteArray kSecret("secret outside the save folder");

QByteArray errorPage(int code)
{
    const std::string c = std::to_string(code);
    return QByteArray::fromStdString("<html><head><title>" + c + "</title></head><body><h1>Error " + c
                                     + "</h1></body></html>");
}

struct Scenario {
    const char* what;
    QString path;   // on the server, or a whole address
    QString title;
    const char* type;
    std::optional<QByteArray> body;  // a complete body; nullopt: cannot succeed
};

// One entry of the test tree: a file's bytes or a link's target.
struct Entry {
    bool link = false;
    QByteArray bytes;
    bool operator==(const Entry&) const = default;
};
using Tree = std::map<QString, Entry>;

Tree snapshot(const QString& root)
{
    Tree t;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QFileInfo fi(p);
        Entry e;
        if (fi.isSymLink()) {
            e.link = true;
            e.bytes = QFile::encodeName(fi.symLinkTarget());
        } else if (fi.isFile()) {
            QFile f(p);
            if (f.open(QIODevice::ReadOnly))
                e.bytes = f.readAll();
        } else {
            continue;
        }
        t[QDir(root).relativeFilePath(p)] = e;
    }
    return t;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class FaultInjection : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        m_savedTimings = timings();
        m_savedLimit = globals().maxFileSizeMB;
        timings().tick = 50ms;
        timings().transferPoll = 20ms;
        timings().secondUnit = 100ms;
        timings().transferStall = 400ms;
        timings().inetHeaderWait = 3000ms;
        // Retries on, as the settings have them, with short waits.
        timings().retryFirstWait = 20ms;
        timings().retryMaxWait = 80ms;
        timings().retryAfterCap = 200ms;
        globals().maxFileSizeMB = 1;
        ASSERT_TRUE(m_service.start());
        ASSERT_TRUE(m_root.isValid());
    }
    void TearDown() override
    {
        m_service.stop();
        timings() = m_savedTimings;
        globals().maxFileSizeMB = m_savedLimit;
    }

    QString root() const { return m_root.path(); }
    QString save() const { return root() + QStringLiteral("/save/"); }
    QString outside() const { return root() + QStringLiteral("/outside/"); }

    // The folder as the user had it: a file a row's name will hit, one the
    // server's type will hit, a dangling link named like a target, and a
    // secret beside the save folder.
    void prepareFolders() const
    {
        QDir(root()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(save()));
        ASSERT_TRUE(QDir().mkpath(outside()));
        auto write = [](const QString& p, const QByteArray& b) {
            QFile f(p);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(b);
        };
        write(save() + "existing.bin", kPrecious);
        write(save() + "typed.pdf", kPrecious);
        write(save() + "two.bin", kPlaceholder);  // a user's file that happens to hold these bytes
        write(outside() + "secret.txt", kSecret);
        ASSERT_TRUE(QFile::link(outside() + "created-through-link.bin", save() + "link.bin"));
        ASSERT_TRUE(QFile::link(outside() + "secret.txt", save() + "points-out.bin"));
    }

    std::vector<Scenario> scenarioTable() const
    {
        const QString nul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        return {
            {"complete with length", "/t/file/5000", "complete", "bin", demo::demoTransferBytes(0, 5000)},
            {"chunked without length", "/t/chunked/6000", "chunked", "bin", demo::demoTransferBytes(0, 6000)},
            {"close-delimited", "/t/close/7000", "closed", "bin", demo::demoTransferBytes(0, 7000)},
            {"cut mid-body (length disagrees)", "/t/cut/20000?after=3000", "cut", "bin", std::nullopt},
            {"stall mid-body", "/t/stall/100000?after=4096&hold_ms=1500", "stall", "bin", std::nullopt},
            {"name hits an existing file", "/t/file/4000", "existing", "bin", demo::demoTransferBytes(0, 4000)},
            {"type change onto an existing file", "/t/file/4100?type=application/pdf", "typed", "doc",
             demo::demoTransferBytes(0, 4100)},
            {"name holds the placeholder bytes", "/t/file/4200", "two", "bin", demo::demoTransferBytes(0, 4200)},
            {"dangling link at the target", "/t/file/4300", "link", "bin", demo::demoTransferBytes(0, 4300)},
            {"link to a file outside", "/t/file/4400", "points-out", "bin", demo::demoTransferBytes(0, 4400)},
            {"type without a slash", "/t/file/900?type=script.sh", "script", "bin", demo::demoTransferBytes(0, 900)},
            {"redirect to file:", "/t/redirect/1?to=file://" + outside() + "secret.txt", "redir-file", "bin",
             std::nullopt},
            {"redirect to data:", "/t/redirect/1?to=data:text/plain,hello", "redir-data", "bin", std::nullopt},
            {"404 with HTML", "/t/status/404", "notfound", "pdf", errorPage(404)},
            {"500 with HTML", "/t/status/500", "servererror", "pdf", errorPage(500)},
            {"no length above the limit", "/t/chunked/3145728", "bigchunked", "bin", std::nullopt},
            {"close-delimited above the limit", "/t/close/3145728", "bigclosed", "bin", std::nullopt},
            {"announced length above the limit", "/t/file/3000000", "bigannounced", "bin", std::nullopt},
            {"file: address", "file://" + outside() + "secret.txt", "local", "txt", std::nullopt},
            {"data: address", "data:text/plain,hello", "inline", "txt", std::nullopt},
            {"title with separators and ..", "/t/file/1100?t=1", "../../outside/escape", "bin",
             demo::demoTransferBytes(0, 1100)},
            {"title of only dots", "/t/file/1200?t=2", "....", "bin", demo::demoTransferBytes(0, 1200)},
            {"title of only dots, again", "/t/file/1300/?t=3", "..", "bin", std::nullopt},
            {"title with control characters", "/t/file/1400?t=4", "ctl\x01\x1f\tname", "bin",
             demo::demoTransferBytes(0, 1400)},
            {"title with NUL", "/t/file/1500?t=5", nul, "bin", demo::demoTransferBytes(0, 1500)},
            {"300 Chinese characters", "/t/file/1600?t=6", QString(300, QChar(0x6587)), "pdf",
             demo::demoTransferBytes(0, 1600)},
            {"300 Chinese characters, again", "/t/file/1700?t=7", QString(300, QChar(0x6587)), "pdf",
             demo::demoTransferBytes(0, 1700)},
            {"cut again and again, resumed", "/t/file/30000/r.bin?cut=9000", "resumed", "bin",
             demo::demoTransferBytes(0, 30000)},
            {"cut, changed before the resume", "/t/file/30100/c.bin?cut=9000&next=B", "changed", "bin",
             demo::demoTransferBytes(demo::demoTransferOrigin("B"), 30100)},
        };
    }

    QString address(const Scenario& s) const
    {
        return s.path.startsWith(QLatin1Char('/')) ? m_service.baseUrl() + s.path : s.path;
    }

    // Checks the four invariants after a run; returns the number of the
    // user's files lost or changed without cause.
    int checkInvariants(const Tree& before, const DownloadListModel& list, const std::vector<Scenario>& table,
                        SameNamePolicy policy, const char* when)
    {
        SCOPED_TRACE(when);
        const Tree after = snapshot(root());
        QStringList kept;
        for (int i = 0; i < list.size(); ++i)
            kept << QDir(root()).relativeFilePath(list.item(i).partial.path);
        // Complete bodies a Done row may have put in place, by path.
        std::map<QString, std::vector<QByteArray>> completeAt;
        for (int i = 0; i < list.size(); ++i) {
            const DownloadItem& it = list.item(i);
            if (table[size_t(i)].body)
                completeAt[QDir(root()).relativeFilePath(itemFilePath(it))].push_back(*table[size_t(i)].body);
        }
        int lost = 0;
        for (const auto& [path, entry] : before) {
            const auto now = after.find(path);
            if (now != after.end() && now->second == entry)
                continue;
            // Only overwrite may replace a file of the save folder, and only
            // with a complete body of a row that targets it.
            bool replaced = false;
            if (policy == SameNamePolicy::Overwrite && path.startsWith(QLatin1String("save/")) && now != after.end()
                && !now->second.link) {
                for (const QByteArray& b : completeAt[path])
                    replaced = replaced || now->second.bytes == b;
            }
            if (!replaced) {
                ++lost;
                ADD_FAILURE() << "lost or changed: " << path.toStdString();
            }
        }
        for (const auto& [path, entry] : after) {
            if (!path.startsWith(QLatin1String("save/")) && !before.count(path))
                ADD_FAILURE() << "created outside the save folder: " << path.toStdString();
            const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
            if ((name.endsWith(QLatin1String(".part")) || name.startsWith(QLatin1String(".dh-")))
                && !kept.contains(path))
                ADD_FAILURE() << "temporary file left: " << path.toStdString();
            if (!entry.link && entry.bytes == kPlaceholder && !before.count(path))
                ADD_FAILURE() << "placeholder left: " << path.toStdString();
            if (!entry.link && entry.bytes.contains(kSecret) && path.startsWith(QLatin1String("save/")))
                ADD_FAILURE() << "a local file was copied into the save folder: " << path.toStdString();
        }
        for (int i = 0; i < list.size(); ++i) {
            const DownloadItem& it = list.item(i);
            const Scenario& s = table[size_t(i)];
            SCOPED_TRACE(s.what);
            EXPECT_NE(it.state, DownloadState::Downloading);
            if (it.state != DownloadState::Done)
                continue;
            const QString file = itemFilePath(it);
            const QFileInfo fi(file);
            if (cellText(it, DownloadListModel::ColProgress) == QStringLiteral("大文件，跳过"))
                continue;
            if (cellText(it, DownloadListModel::ColProgress) == QStringLiteral("已存在，跳过")) {
                EXPECT_EQ(policy, SameNamePolicy::Skip);
                EXPECT_TRUE(fi.exists() || fi.isSymLink()) << file.toStdString();
                continue;
            }
            // Success: the whole body, in a regular file of the save folder.
            if (!s.body) {
                ADD_FAILURE() << "reported success for a body that cannot complete";
                continue;
            }
            EXPECT_FALSE(fi.isSymLink()) << file.toStdString();
            EXPECT_TRUE(fi.absoluteFilePath().startsWith(save())) << file.toStdString();
            QFile f(file);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
            const QByteArray got = f.readAll();
            // Under overwrite, rows of one name share one file: it holds the
            // complete body of one of them.
            bool whole = got == *s.body;
            if (policy == SameNamePolicy::Overwrite) {
                for (const QByteArray& b : completeAt[QDir(root()).relativeFilePath(file)])
                    whole = whole || got == b;
            }
            EXPECT_TRUE(whole) << file.toStdString();
            EXPECT_LE(QFile::encodeName(fi.fileName()).size(), 255);
        }
        return lost;
    }

    struct Run {
        std::unique_ptr<CurlTransferEngine> engine;
        DownloadListModel list;
        DownloadWindowState state;
        FakeHost host;
        std::unique_ptr<DownloadScheduler> scheduler;
    };

    void startRun(Run& run, int method, SameNamePolicy policy, const std::vector<Scenario>& table)
    {
        run.engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(run.engine.get());
        run.state.downloadMethod = method;
        run.host.policy = policy;
        run.host.slotNumber = 4;
        run.scheduler = std::make_unique<DownloadScheduler>(run.list, run.state, run.host);
        run.scheduler->setRetries(3);
        run.scheduler->setPerHostLimit(2);
        for (const Scenario& s : table)
            run.list.addItem(address(s), s.title, QString::fromLatin1(s.type), save(), QString());
        run.scheduler->startDownloading();
    }
    // Once the list is cleared, not even a kept body is left.
    void expectNoTemporaries(Run& run)
    {
        run.list.clear();
        for (const auto& [path, entry] : snapshot(root()))
            EXPECT_FALSE(path.endsWith(QLatin1String(".part"))) << "left after the list: " << path.toStdString();
    }
    void endRun(Run& run)
    {
        run.scheduler->stopDownloading();
        run.scheduler.reset();
        QTest::qWait(50);
        setTransferEngine(nullptr);
        run.engine.reset();
    }
    static bool finished(Run& run)
    {
        return run.list.isListFinished() && run.scheduler->activeTransfers() == 0
            && (run.state.downloadMethod == 2 || !run.state.transferBusy());
    }

    demo::DemoService m_service;
    QTemporaryDir m_root;
    Timings m_savedTimings;
    int m_savedLimit = 10;
};

const SameNamePolicy kPolicies[] = {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename};

// Every ending a transfer can have, and then the commands that delete files
// (re-download of failed rows, 删除文件→出错项).
TEST_P(FaultInjection, EveryEndingKeepsTheInvariants)
{
    const int method = GetParam();
    int scenarios = 0;
    int lost = 0;
    for (SameNamePolicy policy : kPolicies) {
        SCOPED_TRACE(sameNamePolicyCaption(policy).toStdString());
        prepareFolders();
        const std::vector<Scenario> table = scenarioTable();
        const Tree before = snapshot(root());
        Run run;
        startRun(run, method, policy, table);
        const bool done = QTest::qWaitFor([&] { return finished(run); }, 60000);
        EXPECT_TRUE(done);
        lost += checkInvariants(before, run.list, table, policy, "after the run");
        // The file-deleting commands touch only what the rows created.
        const Tree ran = snapshot(root());
        deleteFilesOfRows(run.list, DeleteFilter::Failed);
        redownloadRows(run.list, RedownloadFilter::Failed);
        const Tree kept = snapshot(root());
        for (const auto& [path, entry] : before) {
            if (ran.count(path) && ran.at(path) == entry && !(kept.count(path) && kept.at(path) == entry)) {
                ++lost;
                ADD_FAILURE() << "deleted by a list command: " << path.toStdString();
            }
        }
        endRun(run);
        expectNoTemporaries(run);
        scenarios += int(table.size());
    }
    std::printf("method %d: %d scenarios x 3 policies run (%d rows), files lost: %d\n", method,
                scenarios / 3, scenarios, lost);
    EXPECT_EQ(lost, 0);
}

// The stop command in the middle of transfers, and a start again.
TEST_P(FaultInjection, StopInTheMiddleKeepsTheInvariants)
{
    const int method = GetParam();
    int scenarios = 0;
    int lost = 0;
    for (SameNamePolicy policy : kPolicies) {
        SCOPED_TRACE(sameNamePolicyCaption(policy).toStdString());
        prepareFolders();
        const std::vector<Scenario> table = {
            {"slow with ranges, stopped", "/t/file/400000/p.bin?pace=4096&pace_ms=10", "paced", "bin", std::nullopt},
            {"slow, stopped", "/t/slow/400000?piece=4096&delay_ms=10&n=1", "existing", "bin", std::nullopt},
            {"slow onto a link, stopped", "/t/slow/400000?piece=4096&delay_ms=10&n=2", "link", "bin", std::nullopt},
            {"slow without a length, stopped", "/t/slow/400000?piece=4096&delay_ms=10&n=3", "fresh", "bin",
             std::nullopt},
            {"waiting for an answer, stopped", "/t/silent?hold_ms=1500", "silent", "bin", std::nullopt},
        };
        const Tree before = snapshot(root());
        Run run;
        startRun(run, method, policy, table);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return cellText(run.list.item(0), DownloadListModel::ColReceived).toLongLong() > 0;
            },
            10000));
        run.scheduler->stopDownloading();
        QTest::qWait(300);  // late reports and cancelled coroutines wind down
        lost += checkInvariants(before, run.list, table, policy, "after the stop");
        // Started again by hand, the stopped row goes on from its kept body.
        const int paced = 0;
        const auto served = [&] { return demo::transferPathCounts(m_service.state(), "/t/file/400000/p.bin").bodyBytes; };
        const auto servedBefore = served();
        EXPECT_TRUE(run.list.item(paced).partial.isSet());
        EXPECT_TRUE(resetFailedRowOnDoubleClick(run.list, paced));
        run.scheduler->startDownloading();
        EXPECT_TRUE(QTest::qWaitFor([&] { return run.list.item(paced).state == DownloadState::Done; }, 20000));
        EXPECT_EQ(readAll(itemFilePath(run.list.item(paced))), demo::demoTransferBytes(0, 400000));
        EXPECT_LT(served() - servedBefore, 400000u);
        endRun(run);
        expectNoTemporaries(run);
        scenarios += int(table.size());
    }
    std::printf("method %d: %d stop scenarios x 3 policies run (%d rows), files lost: %d\n", method,
                scenarios / 3, scenarios, lost);
    EXPECT_EQ(lost, 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, FaultInjection, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("MethodOne") : std::string("MethodTwo");
                         });

} // namespace
} // namespace dh::test
