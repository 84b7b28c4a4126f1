#pragma once
#include "ports/Browser.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QUrl>

#include <vector>

class QNetworkReply;
class QNetworkCookieJar;

namespace dh {

// The browser of the command line and the tests: QtNetwork (cookie jar,
// redirects) and the gumbo Document. No scripts run. click() on an anchor
// follows its href; click() on a submit control submits its form.
class HeadlessBrowser : public Browser {
    Q_OBJECT
public:
    explicit HeadlessBrowser(QObject* parent = nullptr);
    ~HeadlessBrowser() override;

    void navigate(const QString& url) override;
    bool busy() const override { return m_busy; }
    QString locationUrl() const override;
    QString locationName() const override;
    bool goBack() override;
    bool goForward() override;
    bool canGoBack() const override { return m_historyIndex > 0; }
    bool canGoForward() const override { return m_historyIndex + 1 < int(m_history.size()); }
    void refresh() override;
    void stop() override;
    // No scripts run here: a page is inert once loaded.
    bool clearsBetweenQueries() const override { return false; }

    QCoro::Task<DocumentPtr> document() override;
    DocumentPtr lastDocument() const override { return m_document; }

    bool elementClick(const Document& doc, int node) override;
    bool elementSetValue(const Document& doc, int node, const QString& value) override;

    QNetworkAccessManager* networkAccessManager() { return &m_nam; }
    QNetworkCookieJar* cookieJar() const;
    // HTTP status of the page shown (0 for about:blank, file: or a network error).
    int httpStatus() const { return m_status; }
    void setUserAgent(const QByteArray& ua) { m_userAgent = ua; }

    // One request as the history remembers it.
    struct Request {
        QUrl url;
        QByteArray method = "GET";
        QByteArray body;          // POST data
        QByteArray contentType;   // of the POST data
        QByteArray referer;
    };
    // Loads a request as a new page (what a form submission does).
    void load(const Request& request);

private:
    enum class HistoryMode { Push, Replace, Keep };
    void start(const Request& request, HistoryMode mode, int historyIndex);
    void showBlank(const Request& request, HistoryMode mode, int historyIndex, quint64 token);
    void commit(const Request& request, HistoryMode mode, int historyIndex, const QUrl& finalUrl);
    bool submitForm(const Document& doc, int formNode, int submitter);

    QNetworkAccessManager m_nam;
    QPointer<QNetworkReply> m_reply;
    DocumentPtr m_document;
    std::vector<Request> m_history;
    int m_historyIndex = -1;
    bool m_busy = false;
    int m_status = 0;
    quint64 m_token = 0;  // identifies the load in flight
    QByteArray m_userAgent;
};

} // namespace dh
