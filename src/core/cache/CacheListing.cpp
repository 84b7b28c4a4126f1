#include "cache/CacheListing.h"

#include "app/Timings.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

namespace dh {

namespace {
// Rows added to the viewer, and check results applied, per step of a tick.
constexpr std::size_t kRowsPerStep = 100;
constexpr std::size_t kChecksPerStep = 250;
} // namespace

CacheListing::CacheListing(CacheViewer* viewer, QObject* parent) : QObject(parent), m_viewer(viewer)
{
    m_timer.setInterval(timings().cacheListDrain);
    connect(&m_timer, &QTimer::timeout, this, &CacheListing::drain);
}

CacheListing::~CacheListing()
{
    stopWorker();
}

void CacheListing::stopWorker()
{
    m_cancel = true;
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    m_timer.stop();
    m_running = false;
    // A walk stopped half-way is never applied.
    QMutexLocker lock(&m_mutex);
    m_found.reset();
}

void CacheListing::reset()
{
    stopWorker();
    m_cancel = false;
    m_running = true;
    m_listed = false;
    m_allUsers = m_walkApplied = false;
    m_shown = 0;
    m_walked = 0;
    QMutexLocker lock(&m_mutex);
    m_items.clear();
    m_checks.clear();
    m_headersDone = m_checksDone = m_failed = false;
}

void CacheListing::startAllUsers()
{
    reset();
    m_allUsers = true;
    m_viewer->beginAllUsersListing();
    m_thread = QThread::create([this, locations = m_viewer->locations()] {
        AllUsersCache found = walkAllUsersCache(locations, &m_cancel, &m_walked);
        QMutexLocker lock(&m_mutex);
        m_found = std::move(found);
    });
    m_thread->start();
    m_timer.start();
}

void CacheListing::drainAllUsers()
{
    QElapsedTimer slice;
    slice.start();
    if (!m_walkApplied) {
        std::optional<AllUsersCache> found;
        {
            QMutexLocker lock(&m_mutex);
            found.swap(m_found);
        }
        if (!found) {
            const QString text = CacheViewer::listingText(static_cast<std::size_t>(m_walked.load()));
            if (text != m_viewer->countText) {
                m_viewer->countText = text;
                Q_EMIT countChanged();
            }
            return;
        }
        m_walkApplied = true;
        m_viewer->applyAllUsersCache(std::move(*found));
        m_finalText = m_viewer->countText;
        m_viewer->countText = CacheViewer::listingText(0);
        Q_EMIT usersListed();
    }
    // The rows are the viewer's already; the window takes them in steps.
    const std::size_t total = m_viewer->rows.size();
    const qint64 budget = timings().cacheListSlice.count();
    while (m_shown < total) {
        const std::size_t first = m_shown;
        m_shown = std::min(total, m_shown + kRowsPerStep);
        m_viewer->countText = m_shown < total ? CacheViewer::listingText(m_shown) : m_finalText;
        Q_EMIT rowsAdded(static_cast<int>(first), static_cast<int>(m_shown - first));
        if (m_shown < total && slice.elapsed() >= budget)
            return;
    }
    m_listed = true;
    m_viewer->countText = m_finalText;
    Q_EMIT listedAll();
    stopWorker();
    Q_EMIT finished();
}

void CacheListing::start()
{
    reset();
    m_viewer->beginListing();
    CacheIndex* index = m_viewer->index();
    m_thread = QThread::create([this, index] {
        std::vector<QString> toCheck;
        bool failed = false;
        if (index) {
            try {
                index->list(
                    [&](CacheIndex::Item&& item) {
                        if (item.state == CacheIndex::State::Unchecked)
                            toCheck.push_back(item.id);
                        QMutexLocker lock(&m_mutex);
                        m_items.push_back(std::move(item));
                    },
                    &m_cancel);
            } catch (const std::exception&) {
                failed = true;
            }
        }
        {
            QMutexLocker lock(&m_mutex);
            m_headersDone = true;
            m_failed = failed;
        }
        for (const QString& id : toCheck) {
            if (m_cancel || failed)
                break;
            CacheIndex::CheckResult r;
            try {
                r = index->check(id, &m_cancel);
            } catch (const std::exception&) {
                continue;
            }
            QMutexLocker lock(&m_mutex);
            m_checks.emplace_back(id, std::move(r));
        }
        QMutexLocker lock(&m_mutex);
        m_checksDone = true;
    });
    m_thread->start();
    m_timer.start();
}

void CacheListing::drain()
{
    if (m_allUsers) {
        drainAllUsers();
        return;
    }
    // Work in small steps until the time slice is used up, so that the
    // window (which handles each signal) never stalls for long.
    QElapsedTimer slice;
    slice.start();
    const qint64 budget = timings().cacheListSlice.count();
    bool headersDone = false, checksDone = false, failed = false;
    while (true) {
        std::vector<CacheIndex::Item> items;
        std::vector<std::pair<QString, CacheIndex::CheckResult>> checks;
        {
            QMutexLocker lock(&m_mutex);
            const std::size_t n = std::min(kRowsPerStep, m_items.size());
            items.assign(std::make_move_iterator(m_items.begin()), std::make_move_iterator(m_items.begin() + n));
            m_items.erase(m_items.begin(), m_items.begin() + n);
            headersDone = m_headersDone && m_items.empty();
            // Checks only once their rows are in, so that none is lost.
            if (headersDone && items.empty()) {
                const std::size_t c = std::min(kChecksPerStep, m_checks.size());
                checks.assign(std::make_move_iterator(m_checks.begin()),
                              std::make_move_iterator(m_checks.begin() + c));
                m_checks.erase(m_checks.begin(), m_checks.begin() + c);
                checksDone = m_checksDone && m_checks.empty();
            }
            failed = m_failed;
        }
        if (!items.empty()) {
            const int first = static_cast<int>(m_viewer->rows.size());
            for (const CacheIndex::Item& item : items)
                m_viewer->addItem(item);
            const int count = static_cast<int>(m_viewer->rows.size()) - first;
            if (!headersDone)
                m_viewer->countText = m_viewer->listingText();
            if (count > 0)
                Q_EMIT rowsAdded(first, count);
        }
        if (headersDone && !m_listed) {
            m_listed = true;
            m_viewer->finishListing(failed);
            Q_EMIT listedAll();
        }
        if (!checks.empty()) {
            QList<int> changed;
            for (const auto& [id, result] : checks) {
                const int row = m_viewer->applyCheck(id, result);
                if (row >= 0)
                    changed << row;
            }
            if (!changed.isEmpty())
                Q_EMIT rowsChanged(changed);
        }
        if (checksDone) {
            stopWorker();
            Q_EMIT finished();
            return;
        }
        if ((items.empty() && checks.empty()) || slice.elapsed() >= budget)
            return;
    }
}

} // namespace dh
