#pragma once
#include "ports/Browser.h"

#include <QPointer>
#include <QVariant>

#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;

namespace dh {

class WebEngineBrowserPage;  // QWebEnginePage subclass, defined with the browser

// The browser shown in the program's windows: a QWebEnginePage in a
// QWebEngineView, on the one persistent "DocHarvest" profile. The document
// model is a snapshot of the live page source parsed like any other page;
// element actions run JavaScript on the element found by its index path.
//
// The view is created by the browser; a window embeds it with view().
// Destroy the browser before (or together with) the window holding the view.
class WebEngineBrowser : public Browser {
    Q_OBJECT
public:
    explicit WebEngineBrowser(QObject* parent = nullptr);
    ~WebEngineBrowser() override;

    // Call before the QApplication is created: the web engine refuses to
    // start its sandbox as root, so the sandbox is switched off there.
    static void prepareEnvironment();
    // The shared persistent profile, created on first use.
    static QWebEngineProfile* profile();
    // Root of the profile's cache (~/.cache/DocHarvest/webengine).
    static QString cachePath();
    // The folder holding the disk HTTP cache entry files (<hash>_0 ...).
    static QString httpCacheDirectory();

    QWebEngineView* view() const { return m_view; }
    QWebEnginePage* page() const;

    void navigate(const QString& url) override;
    bool busy() const override { return m_busy; }
    QString locationUrl() const override;
    QString locationName() const override;
    void setSilent(bool silent) override;
    bool goBack() override;
    bool goForward() override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    void refresh() override;
    void stop() override;

    QCoro::Task<DocumentPtr> document() override;
    DocumentPtr lastDocument() const override { return m_document; }

    bool elementClick(const Document& doc, int node) override;
    bool elementSetValue(const Document& doc, int node, const QString& value) override;

    // Runs a script in the program's own JavaScript world and awaits its
    // result (an invalid QVariant after the time-out or without a page).
    QCoro::Task<QVariant> evaluate(const QString& script, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

    // Script dialogs swallowed while silent (for tests and diagnostics).
    int suppressedDialogs() const { return m_suppressedDialogs; }

private:
    friend class WebEngineBrowserPage;  // QWebEnginePage subclass, defined with the browser
    QCoro::Task<void> completeLoad(bool ok, quint64 generationAtFinish);
    void refuseNavigation(const QString& url);
    bool runOnElement(const Document& doc, int node, const QString& body);

    QPointer<QWebEngineView> m_view;
    QPointer<WebEngineBrowserPage> m_page;
    DocumentPtr m_document;
    bool m_busy = false;
    QString m_loadFailure;  // Chromium's error name for the load that failed last
    int m_suppressedDialogs = 0;
};

} // namespace dh
