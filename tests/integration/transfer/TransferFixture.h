#pragma once
// Shared set-up of the transfer tests: a demo service on a free loopback
// port, a fresh transfer engine, a scratch folder and shrinkable timings.
#include "app/Timings.h"
#include "TestEnv.h"
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"
#include "net/CurlTransferEngine.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace dh::test {

class TransferFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedTimings = timings();
        ASSERT_TRUE(m_service.start());
        ASSERT_TRUE(m_dir.isValid());
        m_engine = std::make_unique<CurlTransferEngine>();
    }
    void TearDown() override
    {
        m_engine.reset();
        m_service.stop();
        timings() = m_savedTimings;
    }

    QString url(const QString& path) const { return m_service.baseUrl() + path; }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static QByteArray expected(qint64 size) { return demo::demoTransferBytes(0, quint64(size)); }

    // Waits for the end of the request on the event loop.
    static void finish(TransferRequest& r, std::chrono::milliseconds limit = std::chrono::milliseconds(20000))
    {
        EXPECT_TRUE(QCoro::waitFor(r.waitForFinished(limit))) << "request did not end in time";
    }

    // Files in the scratch folder (to catch temporary files left behind).
    QStringList entries() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }

    demo::DemoService m_service;
    QTemporaryDir m_dir;
    std::unique_ptr<CurlTransferEngine> m_engine;
    Timings m_savedTimings;
};

} // namespace dh::test
