#pragma once
// A transfer layer under the test's control: each request answers when the
// test tells it to, so the request control can be driven step by step.
#include "ports/Transfer.h"

#include <QCoreApplication>
#include <QPointer>

#include <memory>
#include <vector>

namespace dh::test {

class FakeRequest : public TransferRequest {
public:
    using TransferRequest::TransferRequest;

    TransferOptions options;
    bool inMemory = false;
    bool cancelled = false;

    bool saveBodyTo(const QString&, SaveMode) override { return false; }
    void keepBodyInMemory() override { inMemory = true; }
    QByteArray getChunk(qint64) override { return {}; }
    qint64 bytesWaiting() const override { return 0; }
    void cancel() override
    {
        if (!stillExecuting())
            return;
        cancelled = true;
        setFailure(Failure::Cancelled, transferCodeCancelled, QStringLiteral("cancelled"));
        end();
    }

    // The status line and headers arrive.
    void respond(int status, const QString& reason = QStringLiteral("Reason"),
                 QList<QPair<QByteArray, QByteArray>> headers = {})
    {
        setHeaders(status, QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(reason), std::move(headers));
        emit headersReceived();
        notifyWaiters();
    }
    // Body bytes arrive.
    void data(const QByteArray& bytes)
    {
        m_body += bytes;
        m_bytesRead += bytes.size();
        emit progress(m_bytesRead, m_bytesTotal);
    }
    void end()
    {
        finish();
        emit finished();
        notifyWaiters();
    }
    void fail(Failure f, int code, const QString& info = QStringLiteral("failed"))
    {
        setFailure(f, code, info);
        end();
    }
    // Whole answer in one go.
    void answer(int status, const QByteArray& body = {}, QList<QPair<QByteArray, QByteArray>> headers = {})
    {
        respond(status, QStringLiteral("Reason"), std::move(headers));
        if (!body.isEmpty())
            data(body);
        end();
    }
};

class FakeEngine : public TransferEngine {
public:
    std::vector<QPointer<FakeRequest>> requests;
    std::vector<QString> urls;
    std::vector<TransferOptions> options;

    std::unique_ptr<TransferRequest> execute(const QString& url, const TransferOptions& o = {}) override
    {
        auto r = std::make_unique<FakeRequest>(url);
        r->options = o;
        requests.emplace_back(r.get());
        urls.push_back(url);
        options.push_back(o);
        return r;
    }
    FakeRequest* last() const { return requests.empty() ? nullptr : requests.back().data(); }
};

// Lets queued deliveries and deferred deletions run.
inline void flushEvents()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

} // namespace dh::test
