#pragma once
// Method one: one row at a time over a single connection, optionally
// through a named proxy, with the referring page sent along.
#include "app/Helpers.h"
#include "download/Naming.h"
#include "download/TransferEnd.h"
#include "download/TransferSupport.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace dh {

class DownloadHost;
class DownloadListModel;
class DownloadWindowState;
class SettingsStore;

class MethodOneTransfer : public QObject {
    Q_OBJECT
public:
    MethodOneTransfer(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host,
                      QObject* parent = nullptr);
    ~MethodOneTransfer() override;

    // Proxy settings ("设置": 代理服务器有效, 代理服务器网址, 代理服务器端口),
    // read when the window loads.
    void loadSettings(const SettingsStore& store);
    void setProxy(bool enabled, const QString& host, const QString& port);

    // A request of this transfer is running.
    bool stillExecuting() const;
    // Abandons the running request, if any.
    void cancel();

    // The scheduler's entry point for the row at a 0-based position (already
    // Downloading, its progress cells emptied). While a request still runs or
    // the transfer is busy the row goes back to Waiting with "等待重新下载";
    // otherwise the busy flag is held for the whole transfer. Clearing it
    // meanwhile (the stop command) cancels the transfer and deletes its
    // partial file.
    QCoro::Task<> downloadCurrentFile(int row);

    // Awaited after the end step of every transfer that kept its row, with
    // the row's 0-based position, before the busy flag is cleared: the
    // automatic site login runs here, so the next row starts only once it
    // has returned. One hook; an empty one removes it.
    using TransferEndHook = std::function<QCoro::Task<>(int row)>;
    void setTransferEndHook(TransferEndHook hook) { m_endHook = std::move(hook); }
    // Asked when a transfer failed: the scheduler's automatic retry.
    void setRetryHook(RetryHook hook) { m_retryHook = std::move(hook); }

    // The referring page sent when a row has none: scheme and host (with any
    // port) of the address, without a trailing "/".
    static QString urlHostPart(const QString& address);

    // The extension a Content-Type gives (type and subtype, parameters
    // dropped): a label of the table, else the header itself when it is a
    // plain token of 1 to 5 letters and digits, else empty.
    static QString fileTypeFromContentType(const QString& contentType);

signals:
    // After the end step of a transfer and its end hook, once the busy flag is
    // clear (not for a row sent back to Waiting).
    void transferEnded(int row, bool success);

private:
    struct Run;
    // The transfer in named steps: the request, its headers, the target,
    // the body and the placing of the file. A step that ends the transfer
    // returns its result; the end step writes it into the row.
    QCoro::Task<bool> downloadFile(RowRef ref, quint64 generation);
    void sendRequest(Run& run);
    std::optional<TransferResult> readHeaders(Run& run);
    std::optional<TransferResult> chooseTarget(Run& run);
    QCoro::Task<TransferResult> receiveBody(Run& run);
    TransferResult placeFile(Run& run, qint64 sizeCell, qint64 length, KnownType known);
    // A transfer that ended early leaves its body to the row for a resume,
    // when the answer allows one; the row's next attempt takes it.
    void keepForResume(Run& run, const TransferResult& result);
    QCoro::Task<TransferResult> fetchWholeBody(RowRef ref, QString target, TransferOptions options,
                                               SameNamePolicy policy);
    bool stopped(const Run& run) const;
    // Moves a complete body into place under the policy and records the file
    // as the row's own.
    PlaceResult placeBody(const QString& temp, QString target, SameNamePolicy policy, int pos);
    PlaceResult placeAndOwn(const QString& temp, const QString& target, bool replace, int pos);
    QString takeNextFreeName(int pos, SameNamePolicy policy);
    static TransferResult skippedResult(const QString& existing);
    // Registers a request as the current one and reports its connection states.
    void watch(TransferRequest* request);
    void endStep(const RowRef& ref, const TransferResult& result);

    DownloadListModel& m_list;
    DownloadWindowState& m_state;
    DownloadHost& m_host;
    bool m_proxyEnabled = false;
    QString m_proxyHost;
    QString m_proxyPort;
    QPointer<TransferRequest> m_current;
    TransferEndHook m_endHook;
    RetryHook m_retryHook;
    quint64 m_generation = 0;  // of the transfer that holds the busy flag
};

} // namespace dh
