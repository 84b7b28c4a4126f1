#pragma once
#include "cache/CacheViewer.h"

#include <QObject>
#include <QTimer>
#include <QMutex>
#include <atomic>
#include <memory>
#include <optional>

class QThread;

namespace dh {

// Lists the viewer's index on a worker thread so that a big cache never holds
// up the window: the worker reads the entries' headers, then checks their
// bodies; the owner's thread takes what it found in small batches on a timer
// and adds it to the viewer's rows. Reading headers only, a listing of
// thousands of entries is done in well under a second.
// It walks the cache folders of all users the same way: the walk runs on the
// worker and hands over plain data, which the owner's thread gives the viewer
// and then announces in steps.
class CacheListing : public QObject {
    Q_OBJECT
public:
    explicit CacheListing(CacheViewer* viewer, QObject* parent = nullptr);
    ~CacheListing() override;  // stops and waits for the worker

    // Empties the viewer's rows and starts listing (a running listing is
    // stopped first).
    void start();
    // Empties the viewer's lists and walks every user's cache folders (a
    // running listing is stopped first).
    void startAllUsers();
    // Stops the worker; rows listed so far stay.
    void stop() { stopWorker(); }
    bool running() const { return m_running; }
    // True once every row is listed (body checks may still run).
    bool listed() const { return m_listed; }

Q_SIGNALS:
    void rowsAdded(int first, int count);
    void rowsChanged(const QList<int>& rows);
    void listedAll();  // the count label is final
    void usersListed();   // the viewer's users and folders of the all-users walk are in
    void countChanged();  // the count label's text moved on while walking
    void finished();   // bodies checked too

private:
    void drain();
    void drainAllUsers();
    void stopWorker();
    void reset();

    CacheViewer* m_viewer;
    QTimer m_timer;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    bool m_listed = false;
    bool m_allUsers = false;     // this listing walks every user's cache folders
    bool m_walkApplied = false;  // ... and the viewer holds what it found
    std::size_t m_shown = 0;     // rows of the walk announced so far
    QString m_finalText;         // the count line once they all are
    std::atomic<int> m_walked{0};

    // Shared with the worker.
    QMutex m_mutex;
    std::vector<CacheIndex::Item> m_items;
    std::vector<std::pair<QString, CacheIndex::CheckResult>> m_checks;
    bool m_headersDone = false;
    bool m_checksDone = false;
    bool m_failed = false;
    std::optional<AllUsersCache> m_found;
};

} // namespace dh
