#pragma once
// Shared set-up of the download engine tests: a demo service on a free
// loopback port, a list with its window state, a host with plain fields in
// place of the window's controls, the scheduler, and shrunken timings.
#include "app/AppGlobals.h"
#include "TestEnv.h"
#include "app/Timings.h"
#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"
#include "FakeDownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/TransferMonitor.h"
#include "net/CurlTransferEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace dh::test {

class DownloadFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedTimings = timings();
        m_savedLimit = globals().maxFileSizeMB;
        timings().tick = std::chrono::milliseconds(50);
        timings().transferPoll = std::chrono::milliseconds(20);
        timings().secondUnit = std::chrono::milliseconds(100);
        globals().maxFileSizeMB = 10;
        ASSERT_TRUE(m_service.start());
        ASSERT_TRUE(m_dir.isValid());
        // A fresh engine per test: its kept-alive connections go with it
        // before the service stops (which would otherwise wait for them).
        m_engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(m_engine.get());
        state.downloadMethod = 2;
        scheduler = std::make_unique<DownloadScheduler>(list, state, host);
    }
    void TearDown() override
    {
        monitor.reset();
        if (scheduler)
            scheduler->stopDownloading();
        scheduler.reset();
        // Let cancelled requests and their coroutines wind down.
        QTest::qWait(50);
        setTransferEngine(nullptr);
        m_engine.reset();
        m_service.stop();
        timings() = m_savedTimings;
        globals().maxFileSizeMB = m_savedLimit;
    }

    QString url(const QString& path) const { return m_service.baseUrl() + path; }
    QString folder() const { return m_dir.path() + QLatin1Char('/'); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    void add(const QString& path, const QString& name, const QString& type, const QString& referer = QString())
    {
        list.addItem(url(path), name, type, folder(), referer);
    }

    void startMonitor()
    {
        monitor = std::make_unique<TransferMonitor>(list, state, *scheduler, host);
        monitor->start();
    }

    // Waits until every row is Done or Failed.
    bool waitFinished(int ms = 20000)
    {
        return QTest::qWaitFor([&] { return list.size() > 0 && list.isListFinished(); }, ms);
    }
    // Runs the list to its end with the scheduler.
    bool runAll(int ms = 20000)
    {
        scheduler->startDownloading();
        const bool done = waitFinished(ms);
        scheduler->switchOff();
        // The end step of the last transfer runs after its row is final.
        // (Under method two only the monitor clears transferBusy.)
        (void)QTest::qWaitFor(
            [&] {
                return scheduler->activeTransfers() == 0 && (state.downloadMethod == 2 || !state.transferBusy());
            },
            2000);
        return done;
    }

    static QByteArray transferBytes(qint64 size) { return demo::demoTransferBytes(0, quint64(size)); }
    // Every entry of the folder, hidden temporary files included.
    QStringList entries() const
    {
        QStringList e = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        e.sort();
        return e;
    }

    demo::DemoService m_service;
    std::unique_ptr<CurlTransferEngine> m_engine;
    QTemporaryDir m_dir;
    DownloadListModel list;
    DownloadWindowState state;
    FakeHost host;
    std::unique_ptr<DownloadScheduler> scheduler;
    std::unique_ptr<TransferMonitor> monitor;
    Timings m_savedTimings;
    int m_savedLimit = 10;
};

} // namespace dh::test
