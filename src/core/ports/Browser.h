#pragma once
#include "html/Document.h"
#include "ports/Wakeup.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace dh {

// The embedded browser as the engine sees it. Two implementations: the
// WebEngine one shown in windows and the headless one (QtNetwork + gumbo)
// for the command line and tests. Everything happens on the one event loop;
// waits are awaitable (see waitUntilLoaded below).
class Browser : public ElementActions {
    Q_OBJECT
public:
    explicit Browser(QObject* parent = nullptr) : ElementActions(parent) {}
    ~Browser() override = default;

    // Starts loading and returns at once. "about:blank" gives an empty page.
    // A text without a scheme is taken as the user would type it.
    virtual void navigate(const QString& url) = 0;
    // True while a page is loading.
    virtual bool busy() const = 0;
    // Address of the page shown (the last committed one).
    virtual QString locationUrl() const = 0;
    virtual QString locationName() const = 0;  // the page title
    // While silent, pages show no script dialogs and report no script errors.
    bool silent() const { return m_silent; }
    virtual void setSilent(bool silent) { m_silent = silent; }
    // Move in the history; false when there is no page in that direction.
    virtual bool goBack() = 0;
    virtual bool goForward() = 0;
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    // Reloads the page shown.
    virtual void refresh() = 0;
    // Stops a load in progress.
    virtual void stop() = 0;
    // Whether a page should be cleared (about:blank) before the next query
    // is loaded: a live page keeps running its scripts and loads until it is
    // replaced. A browser without scripts has nothing to clear.
    virtual bool clearsBetweenQueries() const { return true; }

    // A snapshot of the page shown. The headless browser answers at once;
    // WebEngine fetches the live source. Never null (an empty document when
    // nothing is loaded or the page does not answer).
    virtual QCoro::Task<DocumentPtr> document() = 0;
    // The snapshot taken when the last top-level document completed (or the
    // last document() answer, whichever is newer). Never null.
    virtual DocumentPtr lastDocument() const = 0;

    // Counts page changes: increases when a top-level navigation starts.
    // Documents remember it so actions on stale snapshots are refused.
    quint64 generation() const { return m_generation; }
    // Number of top-level documentComplete events so far.
    quint64 completedLoads() const { return m_completed; }

    // Element actions (ElementActions) are forwarded from Element::click()/setValue().

signals:
    // A document finished loading. topLevel is true for the page itself and
    // false for a frame inside it.
    void documentComplete(bool topLevel, const QString& url);
    void statusTextChange(const QString& text);
    void titleChange(const QString& title);
    // A top-level navigation is about to start.
    void beforeNavigate(const QString& url);
    // A page asked for a new window. No window opens: the browser itself
    // navigates to url (unless it is empty or about:blank).
    void newWindowRequested(const QString& url);
    // A page's script asked to close the browser; the close was refused.
    void windowClosing();
    // A load ended with a network error (the documentComplete still follows).
    void navigateError(const QString& url, const QString& error);

protected:
    // Implementations call these so the counters stay right.
    void beginTopLevelNavigation() { ++m_generation; }
    void emitDocumentComplete(bool topLevel, const QString& url)
    {
        if (topLevel)
            ++m_completed;
        emit documentComplete(topLevel, url);
    }
    // Whether an action on doc may reach this browser's current page.
    bool ownsCurrent(const Document& doc) const
    {
        return doc.origin().browser == this && doc.origin().generation == m_generation;
    }

    bool m_silent = false;

private:
    quint64 m_generation = 0;
    quint64 m_completed = 0;
};

// Resolves when the browser is not busy and a top-level documentComplete has
// arrived since the call (true), or after timeout (false), or as soon as
// stop() answers true (false). stop() is looked at when stopRaised fires (and
// with every browser event), never on a timer: whoever makes it true raises
// the signal. A destroyed browser ends the wait with false.
QCoro::Task<bool> waitUntilLoaded(Browser& browser, std::chrono::milliseconds timeout,
                                  std::function<bool()> stop = {}, const WaitSignal* stopRaised = nullptr);

// General form: resolves true as soon as done() holds, false after timeout or
// when stop() holds. Both are looked at once at the start, then after every
// top-level browser event (a navigation starting, an error, a document
// completing) and every stopRaised; done() must therefore follow the
// browser's state, or the wait sees it only at the time-out.
QCoro::Task<bool> waitUntil(Browser& browser, std::chrono::milliseconds timeout,
                            std::function<bool()> done, std::function<bool()> stop = {},
                            const WaitSignal* stopRaised = nullptr);

// Navigate and wait as above.
QCoro::Task<bool> navigateAndWait(Browser& browser, const QString& url,
                                  std::chrono::milliseconds timeout,
                                  std::function<bool()> stop = {}, const WaitSignal* stopRaised = nullptr);

} // namespace dh
