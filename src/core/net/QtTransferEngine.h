#pragma once
// The transfer layer on QtNetwork. See platform/Transfer.h for how to use it.

#include "platform/Transfer.h"

#include <QElapsedTimer>
#include <QFileDevice>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>

class QNetworkAccessManager;
class QNetworkCookieJar;

namespace dh {

class QtTransferEngine : public TransferEngine {
public:
    QtTransferEngine();
    ~QtTransferEngine() override;

    std::unique_ptr<TransferRequest> execute(const QString& url, const TransferOptions& options = {}) override;

    // How much of a body QtNetwork may hold before it stops reading from the
    // socket (per request). Bounds memory when the disk or the caller is slower
    // than the network; large enough to keep loopback transfers at full speed.
    void setReadBufferSize(qint64 bytes) { m_readBufferSize = bytes; }
    qint64 readBufferSize() const { return m_readBufferSize; }

    // One jar for every manager of the engine (direct and proxied).
    QNetworkCookieJar* cookieJar() override { return m_cookies.get(); }

private:
    QNetworkAccessManager* managerFor(const TransferOptions& options, QString* error);
    void shareJar(QNetworkAccessManager& manager);

    // Declared first so that it outlives the managers that point at it.
    std::unique_ptr<QNetworkCookieJar> m_cookies;
    std::unique_ptr<QNetworkAccessManager> m_system;
    std::map<QString, std::unique_ptr<QNetworkAccessManager>> m_proxied;
    qint64 m_readBufferSize = 4 * 1024 * 1024;
};

class QtTransferRequest : public TransferRequest {
    Q_OBJECT
public:
    // manager null: the request fails at once with setupError (bad proxy text).
    QtTransferRequest(QNetworkAccessManager* manager, const QString& url, const TransferOptions& options,
                      qint64 readBufferSize, const QString& setupError);
    ~QtTransferRequest() override;

    bool saveBodyTo(const QString& path, SaveMode mode) override;
    void keepBodyInMemory() override;
    QByteArray getChunk(qint64 maxBytes = 2048) override;
    qint64 bytesWaiting() const override;
    void cancel() override;

private:
    enum class Sink { Hold, Memory, File };

    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onWatchdog();
    // The low-speed rule, checked by the watchdog; true when it ended the request.
    bool checkLowSpeed();
    bool takeHeaders();   // false when a handler deleted the request
    bool drain();         // moves waiting bytes into the sink; false after a disk failure
    void closeFile();     // final flush/commit or discard of the body file
    void abortWith(Failure failure, int code, const QString& info);
    void emitProgress();

    QPointer<QNetworkReply> m_reply;
    Sink m_sink = Sink::Hold;
    std::unique_ptr<QFileDevice> m_file;
    QString m_finalPath;                      // ReplaceOnCompletion: where the body goes at the end
    QFileDevice::Permissions m_finalPermissions;
    qint64 m_consumed = 0;  // bytes taken out of the reply
    bool m_done = false;
    QTimer m_watchdog;
    QElapsedTimer m_sinceData;
    bool m_identityAsked = false;  // the request asked for the bytes as stored
    qint64 m_received = 0;         // body bytes off the wire so far
    QElapsedTimer m_speedSpan;     // the low-speed rule's current span, from the response on
    qint64 m_speedMark = 0;        // m_received when that span began
};

} // namespace dh
