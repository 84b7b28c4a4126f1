#pragma once
// XmlHttpRequest: one asynchronous HTTP request at a time on the
// transfer layer, reported to its host through three events.
//
//   auto* http = new dh::XmlHttpRequest(this);
//   connect(http, &dh::XmlHttpRequest::dataArrived, ...);   // status 200 (body saved first if asked)
//   connect(http, &dh::XmlHttpRequest::dataFailed, ...);       // any other status 0..600, with its description
//   if (http->open("GET", url)) http->send();
//
// The request runs inside the transfer layer; the control learns of its
// progress through the layer's signals, delivered queued on the one UI thread,
// so events never reach the host from inside open/send or from inside the
// transfer layer's own code. The host may delete the control or open the next
// request from any of its event handlers.
//
// When the request ends without a usable HTTP answer (no connection, time-out,
// a cut body, a cancel), Status() reports a number above 600 in the style of
// the WinINet error numbers (XmlHttpStatus...), so that neither completion
// event is raised, while downOk still becomes true.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <QCoroTask>

namespace dh {

class TransferEngine;
class TransferRequest;

// Status numbers above 600 for requests that ended without a usable answer.
constexpr int xmlHttpStatusTimeout = 12002;          // no response, or the body stalled
constexpr int xmlHttpStatusNameNotResolved = 12007;  // unknown host
constexpr int xmlHttpStatusCancelled = 12017;        // cancelled, or the body exceeded the limit
constexpr int xmlHttpStatusCannotConnect = 12029;    // refused, unreachable, proxy and other failures
constexpr int xmlHttpStatusConnectionAborted = 12030;  // the connection ended before the body did
constexpr int xmlHttpStatusSecureFailure = 12175;    // TLS handshake or certificate

// The 601 descriptions of the statuses 0 to 600; empty where none is known.
const QStringList& statusDescriptions();
// statusDescriptions()[status], empty outside 0..600.
QString statusDescription(int status);

class XmlHttpRequest : public QObject {
    Q_OBJECT
public:
    // engine: the transfer layer to use; nullptr means dh::transferEngine()
    // at the time of each send.
    explicit XmlHttpRequest(QObject* parent = nullptr, TransferEngine* engine = nullptr);
    ~XmlHttpRequest() override;

    // downOk becomes false; then the method (upper-cased), the address and the
    // save path are taken for the next send. A request still running is
    // abandoned without events. Returns false, changing nothing else, when the
    // method is not a token or the address is not an absolute http(s) address.
    bool open(const QString& method, const QString& url, const QString& savePath = {});
    // Adds a request header for the next send. Ignored before open, after
    // send, and for names or values that would break the header block.
    void setRequestHeader(const QString& name, const QString& value);
    // Sends the opened request (body as UTF-8; empty: none) and starts
    // watching it. Does nothing without a fresh open (before any open, or
    // when this open was already sent).
    void send(const QString& body = {});
    // Stops watching and abandons the request; no event follows. downOk keeps
    // its value; the ready state returns to 0.
    void abort();

    bool downOk() const { return m_downOK; }
    // 0 unsent, 1 opened/sent, 2 headers received, 3 body arriving, 4 complete.
    int readyState() const;
    // The HTTP status; 0 before an answer; above 600 for failures (see above).
    int status() const;
    // The reason text of the status line ("Not Found"); for failures the
    // transfer layer's description; empty before an answer.
    QString statusText() const;
    QString responseHeader(const QString& name) const;
    // "Name: value" lines joined by CR LF, without the status line.
    QString allResponseHeaders() const;
    // The body once the request is complete; empty before.
    QByteArray responseBody() const { return m_body; }
    // The body as text: BOM first, then the charset of Content-Type, else UTF-8.
    QString responseText() const;

    // True from send until the end of the request (the polling timer of the
    // original control was enabled exactly that long).
    bool isWatching() const { return m_watching; }
    // A body larger than this is abandoned (status xmlHttpStatusCancelled);
    // 0 means no limit (the default).
    void setMaxBodyBytes(qint64 bytes) { m_maxBody = bytes; }
    QString savePath() const { return m_savePath; }

signals:
    // Status 200, after the body was saved (when a save path was given).
    void dataArrived();
    // Whenever the request made progress (sent, headers, data, end), before
    // the control looks at the new state.
    void onReadyStateChange();
    // Any other status from 0 to 600, with its statusDescriptions text.
    void dataFailed(const QString& description);
    // After the completion event of a request (or after none, for a status
    // above 600), and when abort stops a watched request. Lets a coroutine
    // wait for the end: waitForRequestEnd().
    void requestEnded();

private:
    void discardRequest();
    void onProgress(quint64 generation);
    void onFinished(quint64 generation);
    void saveBody();

    TransferEngine* m_engine = nullptr;
    TransferRequest* m_request = nullptr;  // owned; disposed of with deleteLater
    quint64 m_generation = 0;              // bumps with every open/abort, drops stale deliveries

    bool m_opened = false;
    bool m_sent = false;  // the current open has been sent
    bool m_watching = false;
    bool m_downOK = false;
    bool m_complete = false;
    bool m_tooLarge = false;
    qint64 m_maxBody = 0;

    QString m_method;
    QString m_url;
    QString m_savePath;
    QByteArray m_headerLines;

    QByteArray m_body;
    int m_failureStatus = 0;  // above 600 when the request failed
    QString m_failureText;
};

// Waits until the control's current request has ended (requestEnded) and
// returns true; returns false at once when nothing is being watched, and
// false when the control was destroyed during the wait.
QCoro::Task<bool> waitForRequestEnd(XmlHttpRequest* control);

} // namespace dh
