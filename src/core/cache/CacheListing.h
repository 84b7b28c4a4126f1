#pragma once
#include "cache/CacheViewer.h"

#include <QObject>
#include <QTimer>
#include <QMutex>
#include <atomic>
#include <memory>

class QThread;

namespace dh {

// Lists the viewer's index on a worker thread so that a big cache never holds
// up the window: the worker reads the entries' headers, then checks their
// bodies; the owner's thread takes what it found in small batches on a timer
// and adds it to the viewer's rows. Reading headers only, a listing of
// thousands of entries is done in well under a second.
class CacheListing : public QObject {
    Q_OBJECT
public:
    explicit CacheListing(CacheViewer* viewer, QObject* parent = nullptr);
    ~CacheListing() override;  // stops and waits for the worker

    // Empties the viewer's rows and starts listing (a running listing is
    // stopped first).
    void start();
    // Stops the worker; rows listed so far stay.
    void stop() { stopWorker(); }
    bool running() const { return m_running; }
    // True once every row is listed (body checks may still run).
    bool listed() const { return m_listed; }

Q_SIGNALS:
    void rowsAdded(int first, int count);
    void rowsChanged(const QList<int>& rows);
    void listedAll();  // the count label is final
    void finished();   // bodies checked too

private:
    void drain();
    void stopWorker();

    CacheViewer* m_viewer;
    QTimer m_timer;
    QThread* m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    bool m_running = false;
    bool m_listed = false;

    // Shared with the worker.
    QMutex m_mutex;
    std::vector<CacheIndex::Item> m_items;
    std::vector<std::pair<QString, CacheIndex::CheckResult>> m_checks;
    bool m_headersDone = false;
    bool m_checksDone = false;
    bool m_failed = false;
};

} // namespace dh
