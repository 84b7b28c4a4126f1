// Answers that must not become the row's file: HTTP errors, a login page, a
// body coded against the request, a server that trickles. Under both methods
// and every same-name policy, the user's file under the row's name stays byte
// for byte, nothing new appears under the row's name, and the row says why.
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "FakeDownloadHost.h"
#include "net/QtTransferEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;

namespace dh::test {
namespace {

struct Answer {
    const char* what;
    const char* path;
    const char* reason;  // of the failed row; nullptr: kept as a web-page row
};

const Answer kAnswers[] = {
    {"404 text/plain", "/t/status/404?type=text/plain", "服务器错误：HTTP 404"},
    {"503 html", "/t/status/503", "服务器错误：HTTP 503"},
    {"401 html", "/t/status/401", nullptr},
    {"gzip although identity was asked", "/t/file/5000?encoding=gzip", "不支持的内容编码：gzip"},
    {"one byte every 20 ms", "/t/slow/100000?piece=1&delay_ms=20", "传输过慢"},
};

std::map<QString, QByteArray> filesIn(const QString& dir)
{
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(dir + name);
        files[name] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
    }
    return files;
}

class ErrorAnswers : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        m_saved = timings();
        timings().tick = 50ms;
        timings().transferPoll = 20ms;
        timings().lowSpeedTime = 300ms;
        ASSERT_TRUE(m_service.start());
    }
    void TearDown() override
    {
        m_service.stop();
        timings() = m_saved;
    }

    demo::DemoService m_service;
    Timings m_saved;
};

TEST_P(ErrorAnswers, NeverBecomeTheRowsFile)
{
    for (SameNamePolicy policy : {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
        SCOPED_TRACE(sameNamePolicyCaption(policy).toStdString());
        QTemporaryDir dir;
        const QString save = dir.path() + QLatin1Char('/');
        QtTransferEngine engine;
        setTransferEngine(&engine);
        DownloadListModel list;
        DownloadWindowState state;
        state.downloadMethod = GetParam();
        FakeHost host;
        host.policy = policy;
        host.slotNumber = 6;
        // Every answer twice: once onto the user's chapter (and a page of
        // theirs beside it), once under a free name.
        for (int i = 0; i < int(std::size(kAnswers)); ++i) {
            for (const char* kind : {"taken", "free"}) {
                const QString name = QStringLiteral("%1-%2").arg(i).arg(QLatin1String(kind));
                QString path = QString::fromLatin1(kAnswers[i].path);
                path += (path.contains(QLatin1Char('?')) ? QStringLiteral("&row=") : QStringLiteral("?row=")) + name;
                list.addItem(m_service.baseUrl() + path, name, QStringLiteral("pdf"), save, QString());
                if (QLatin1String(kind) == QLatin1String("taken")) {
                    for (const QString ext : {".pdf", ".htm"}) {
                        QFile f(save + name + ext);
                        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                        f.write("the user's own " + name.toUtf8() + ext.toUtf8());
                    }
                }
            }
        }
        const auto before = filesIn(save);
        auto scheduler = std::make_unique<DownloadScheduler>(list, state, host);
        scheduler->startDownloading();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return list.isListFinished() && scheduler->countTransferControls() == 1
                    && (state.downloadMethod == 2 || !state.transferBusy);
            },
            30000));
        scheduler->stopDownloading();
        scheduler.reset();
        QTest::qWait(50);
        setTransferEngine(nullptr);

        auto after = filesIn(save);
        for (const auto& [name, bytes] : before) {
            EXPECT_EQ(after[name], bytes) << "the user's file changed: " << name.toStdString();
            after.erase(name);
        }
        for (int r = 0; r < list.size(); ++r) {
            const DownloadItem& row = list.item(r);
            const Answer& a = kAnswers[r / 2];
            SCOPED_TRACE(a.what + std::string(" / ") + row.url.section(QLatin1Char('='), -1).toStdString());
            if (policy == SameNamePolicy::Skip && r % 2 == 0) {
                EXPECT_EQ(row.progressText, QStringLiteral("已存在，跳过"));
            } else if (a.reason) {
                EXPECT_EQ(row.state, DownloadState::Failed);
                EXPECT_EQ(row.failReason, QString::fromUtf8(a.reason));
            } else {
                // The login page: a web-page row whose file is a new one.
                EXPECT_EQ(row.state, DownloadState::Done);
                EXPECT_EQ(row.fileType, QStringLiteral("htm"));
                const QString page = QFileInfo(itemFilePath(row)).fileName();
                EXPECT_TRUE(after.count(page)) << page.toStdString();
                EXPECT_TRUE(after[page].contains("Error 401"));
                after.erase(page);
            }
        }
        for (const auto& [name, bytes] : after)
            ADD_FAILURE() << "created: " << name.toStdString() << " (" << bytes.size() << " bytes)";
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, ErrorAnswers, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("MethodOne") : std::string("MethodTwo");
                         });

} // namespace
} // namespace dh::test
