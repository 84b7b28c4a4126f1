#include "download/DownloadScheduler.h"

#include "app/AppGlobals.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/TypeCorrection.h"
#include "download/DownloadHost.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/Downloader.h"
#include "download/MethodOneTransfer.h"
#include "download/RetryPolicy.h"
#include "download/TransferEnd.h"
#include "download/ListOperations.h"
#include "download/Naming.h"
#include "download/TransferMonitor.h"
#include "ports/Sound.h"

#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <limits>

namespace dh {

DownloadScheduler::DownloadScheduler(DownloadListModel& list, DownloadWindowState& state, DownloadHost& host,
                                     QObject* parent)
    : QObject(parent), m_list(list), m_state(state), m_host(host)
{
    m_methodOne = new MethodOneTransfer(list, state, host, this);
    m_timer.setInterval(timings().tick);
    connect(&m_timer, &QTimer::timeout, this, &DownloadScheduler::tick);
    m_refill.setSingleShot(true);
    connect(&m_refill, &QTimer::timeout, this, &DownloadScheduler::refill);
    m_holdLimit.setSingleShot(true);
    connect(&m_holdLimit, &QTimer::timeout, this, &DownloadScheduler::releaseHolds);
    m_clock.start();
    m_retryWake.setSingleShot(true);
    connect(&m_retryWake, &QTimer::timeout, this, &DownloadScheduler::requestRefill);
    m_retryShow.setInterval(timings().retryShowTick);
    connect(&m_retryShow, &QTimer::timeout, this, &DownloadScheduler::showRetryCountdown);
    m_methodOne->setRetryHook([this](int pos, const TransferResult& r) { return scheduleRetry(pos, r); });
    // Method one is free for the next row once its end step (type check,
    // rename, automatic login) is over.
    connect(m_methodOne, &MethodOneTransfer::transferEnded, this, [this](int row) {
        checkErrorStop(row);
        requestRefill();
        reportIfSettled();
    });
    m_state.setActiveTransfersSource([this] { return activeTransfers(); });
    m_state.setStillExecutingSource([this] { return m_methodOne->stillExecuting(); });
    m_state.setSchedulerTimerSource([this] { return m_timer.isActive(); });
}

DownloadScheduler::~DownloadScheduler()
{
    m_timer.stop();
    m_refill.stop();
    m_holdLimit.stop();
    m_retryWake.stop();
    m_retryShow.stop();
    m_state.setActiveTransfersSource({});
    m_state.setStillExecutingSource({});
    m_state.setSchedulerTimerSource({});
    // Transfers end without reporting: nothing they would report to is left.
    for (int j = 0; j < kMaxSlots; ++j) {
        if (Downloader* d = m_slots[size_t(j)]) {
            d->disconnect(this);
            delete d;
        }
    }
}

Downloader* DownloadScheduler::downloader(int j) const
{
    return j >= 0 && j < kMaxSlots ? m_slots[size_t(j)].data() : nullptr;
}

int DownloadScheduler::activeTransfers() const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [](const QPointer<Downloader>& d) { return !d.isNull(); }));
}

void DownloadScheduler::setTransferEndHook(TransferEndHook hook)
{
    m_methodOne->setTransferEndHook(hook);
    m_endHook = std::move(hook);
}

void DownloadScheduler::loadSettings(const SettingsStore& store)
{
    m_methodOne->loadSettings(store);
    globals().maxFileSizeMB = readMaxFileSizeMB();
    // A stored value that is not a number reads as the default.
    const auto count = [&store](const SettingKey& key) {
        const int n = store.getInt(key);
        return n < 0 ? QString::fromUtf8(key.defaultValue).toInt() : n;
    };
    setRetries(count(keys::retryCount));
    setPerHostLimit(count(keys::perHostLimit));
}

void DownloadScheduler::startDownloading()
{
    switchOn();
}

void DownloadScheduler::switchOn()
{
    if (m_timer.isActive())
        return;
    // A run looks at each folder once; the next run looks again.
    m_state.madeFolders.clear();
    m_hostOf.clear();
    removeStaleTemporaries(m_list);
    m_timer.start(timings().tick);
    // The first rows need not wait a whole tick either.
    requestRefill();
}

void DownloadScheduler::switchOff()
{
    m_timer.stop();
    m_refill.stop();
    m_spares->clear();
}

void DownloadScheduler::stopDownloading()
{
    m_host.clearAutoOptions();
    m_methodOne->cancel();
    m_timer.stop();
    m_refill.stop();
    // Method one's transfer sees the flag gone and gives up.
    m_state.endTransfer();
    for (int j = 0; j < kMaxSlots; ++j)
        unload(j);
    m_spares->clear();
    for (int i = 0; i < m_list.size(); ++i) {
        if (m_list.item(i).state == DownloadState::Downloading)
            m_list.setFailed(i, QStringLiteral("下载取消"), FailCode::Cancelled);
    }
    cancelRetryWaits();
}

void DownloadScheduler::cancelRetryWaits()
{
    m_retryWake.stop();
    m_retryShow.stop();
    m_hostNotBefore.clear();
    for (int i = 0; i < m_list.size(); ++i) {
        const DownloadItem& it = m_list.item(i);
        if (it.state != DownloadState::Waiting || it.note != RowNote::RetryWaiting)
            continue;
        // The row fails with the failure it was waiting to mend.
        const QString reason = it.failReason;
        const FailCode code = it.failCode;
        const int status = it.httpStatus;
        m_list.setNote(i, RowNote::None);
        m_list.setFailed(i, reason, code, status);
    }
}

bool DownloadScheduler::scheduleRetry(int pos, const TransferResult& r)
{
    if (!running() || m_retries <= 0 || pos < 0 || pos >= m_list.size())
        return false;
    DownloadItem it = m_list.item(pos);
    // An attempt that added to the body kept for a resume got somewhere:
    // the retries count the attempts in a row that did not.
    const bool gotSomewhere = it.partial.isSet() && it.partial.gained > 0;
    if (gotSomewhere)
        it.retries = 0;
    if (it.retries >= m_retries || !isTransientFailure(r.code, r.httpStatus, r.retryAfterMs >= 0))
        return false;
    const qint64 now = m_clock.elapsed();
    const qint64 wait = r.retryAfterMs >= 0                               ? r.retryAfterMs
        : gotSomewhere && it.partial.gained >= kPromptResumeGain ? 0
        : backOffWait(it.retries + 1, QRandomGenerator::global()->generateDouble()).count();
    if (r.retryAfterMs >= 0) {
        // The server asked for a pause: its other rows keep it too.
        qint64& until = m_hostNotBefore[hostKey(it.url)];
        until = std::max(until, now + wait);
    }
    it.retries += 1;
    it.retryAt = now + wait;
    it.retryLimit = m_retries;
    it.retrySeconds = int((wait + 999) / 1000);
    if (r.hasCells) {
        it.size = r.size;
        it.received = r.received;
        it.percent = r.percent;
    }
    it.state = DownloadState::Waiting;
    it.note = RowNote::RetryWaiting;
    it.failReason = r.reason;
    it.failCode = r.code;
    it.httpStatus = r.httpStatus;
    m_list.setItem(pos, it);
    if (!m_retryShow.isActive())
        m_retryShow.start(timings().retryShowTick);
    wakeAt(it.retryAt);
    return true;
}

void DownloadScheduler::showRetryCountdown()
{
    const qint64 now = m_clock.elapsed();
    bool waiting = false;
    for (int i = 0; i < m_list.size(); ++i) {
        const DownloadItem& it = m_list.item(i);
        if (it.state != DownloadState::Waiting || it.note != RowNote::RetryWaiting)
            continue;
        waiting = true;
        const int left = int(std::max<qint64>(0, (it.retryAt - now + 999) / 1000));
        if (left != it.retrySeconds) {
            DownloadItem next = it;
            next.retrySeconds = left;
            m_list.setItem(i, next);
        }
    }
    if (!waiting)
        m_retryShow.stop();
}

bool DownloadScheduler::mayStart(const DownloadItem& row, const QHash<QString, int>* busy, qint64* wake) const
{
    const qint64 now = m_clock.elapsed();
    qint64 at = row.note == RowNote::RetryWaiting && row.retryAt > now ? row.retryAt : 0;
    const bool perHost = busy && m_perHost > 0;
    if (!perHost && m_hostNotBefore.isEmpty() && at == 0)
        return true;
    const QString host = hostOf(row.url);
    if (const qint64 until = m_hostNotBefore.value(host, 0); until > now)
        at = std::max(at, until);
    if (at > 0) {
        *wake = std::min(*wake, at);
        return false;
    }
    return !perHost || busy->value(host) < m_perHost;
}

QString DownloadScheduler::hostOf(const QString& url) const
{
    auto it = m_hostOf.find(url);
    if (it == m_hostOf.end())
        it = m_hostOf.insert(url, hostKey(url));
    return *it;
}

void DownloadScheduler::wakeAt(qint64 when)
{
    // A tick then finds the row ready (one millisecond late rather than early).
    const qint64 wait = std::max<qint64>(0, when - m_clock.elapsed()) + 1;
    if (!m_retryWake.isActive() || m_retryWake.remainingTime() > wait)
        m_retryWake.start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

int DownloadScheduler::pauseRemainingMs() const
{
    // The pause between files counts from the last transfer event; it is
    // over once more time than the pause has passed.
    const qint64 pause = qint64(m_host.options().pauseSeconds) * qint64(timings().secondUnit.count());
    // No pause means none: a tick in the same millisecond as the last
    // transfer event must not wait for the next one.
    if (pause <= 0)
        return 0;
    const qint64 elapsed = m_state.msSinceTransferEvent();
    if (elapsed > pause)
        return 0;
    // One millisecond past the pause; a timer may fire a little early, so
    // the refill checks again rather than trusting this to the millisecond.
    return int(pause - elapsed) + 1;
}

void DownloadScheduler::requestRefill()
{
    if (!m_timer.isActive())
        return;
    const int wait = pauseRemainingMs();
    if (m_refill.isActive() && m_refill.remainingTime() <= wait)
        return;
    m_refill.start(wait);
}

void DownloadScheduler::refill()
{
    if (!m_timer.isActive())
        return;
    if (const int wait = pauseRemainingMs(); wait > 0) {
        m_refill.start(wait);
        return;
    }
    tick();
}

void DownloadScheduler::tick()
{
    if (m_list.size() == 0) {
        m_timer.stop();
        reportIfSettled();
        return;
    }
    if (pauseRemainingMs() > 0)
        return;
    // An automatic login after a method-two transfer: rows started now would
    // meet the login page too.
    if (held())
        return;
    if (m_state.downloadMethod == 1)
        tickMethodOne();
    else
        tickMethodTwo();
    reportIfSettled();
}

bool DownloadScheduler::settled() const
{
    if (activeTransfers() > 0 || m_methodOne->stillExecuting()
        || (m_state.downloadMethod == 1 && m_state.transferBusy()))
        return false;
    return !running() || m_list.isListFinished();
}

void DownloadScheduler::reportIfSettled()
{
    if (!settled())
        return;
    // No transfer is left to take a spare placeholder.
    m_spares->clear();
    emit listFinished();
}

bool DownloadScheduler::prepareRow(int row, bool createFolder)
{
    DownloadItem it = m_list.item(row);
    const DownloadItem before = it;
    it.name = sanitizeFileName(it.name);
    if (createFolder) {
        const QString folder = runFolderPath(m_state, it.folder);
        if (folder.isEmpty()) {
            // A folder that cannot be made would put the file at the root.
            it.state = DownloadState::Failed;
            it.failReason = folderFailText(it.folder);
            m_list.setItem(row, it);
            return false;
        }
        it.folder = folder;
    }
    if (!it.folder.endsWith(QLatin1Char('/')))
        it.folder += QLatin1Char('/');
    if (it.name != before.name || it.folder != before.folder)
        m_list.setItem(row, it);
    return needsDownload(m_list, row, m_host.options().sameNamePolicy);
}

void DownloadScheduler::startRow(int row)
{
    m_list.setState(row, DownloadState::Downloading);
    if (m_host.options().autoLocate)
        m_host.scrollToRow(row);
    m_list.clearProgress(row);
}

void DownloadScheduler::tickMethodOne()
{
    if (m_state.transferBusy())
        return;
    int chosen = -1;
    qint64 wake = std::numeric_limits<qint64>::max();
    for (int i = 0; i < m_list.size(); ++i) {
        if (m_list.item(i).state != DownloadState::Waiting || !mayStart(m_list.item(i), nullptr, &wake))
            continue;
        if (prepareRow(i, false)) {
            chosen = i;
            break;
        }
        if (m_list.item(i).state == DownloadState::Failed && checkErrorStop(i))
            return;
    }
    if (wake != std::numeric_limits<qint64>::max())
        wakeAt(wake);
    if (chosen < 0)
        return;
    startRow(chosen);
    // Runs on by itself; the tick does not wait for it. Nested ticks find
    // the transfer busy and end at once.
    QCoro::Task<> transfer = m_methodOne->downloadCurrentFile(chosen);
    Q_UNUSED(transfer);
    emit rowStarted(chosen);
}

void DownloadScheduler::tickMethodTwo()
{
    const DownloadOptions options = m_host.options();
    const int slotCount = std::clamp(options.slotCount, 1, kMaxSlots);
    // Rows above a chosen one are no longer Waiting, so each slot's walk can
    // go on where the previous one stopped.
    int from = 0;
    // Transfers per server, for the per-host limit.
    QHash<QString, int> busy;
    if (m_perHost > 0) {
        for (int j = 0; j < kMaxSlots; ++j) {
            if (m_slots[size_t(j)])
                ++busy[hostOf(m_slotRows[size_t(j)].url)];
        }
    }
    qint64 wake = std::numeric_limits<qint64>::max();
    const auto armWake = qScopeGuard([&] {
        if (wake != std::numeric_limits<qint64>::max())
            wakeAt(wake);
    });
    for (int j = 0; j < slotCount; ++j) {
        if (m_slots[size_t(j)])
            continue;
        int chosen = -1;
        for (int i = from; i < m_list.size(); ++i) {
            if (m_list.item(i).state != DownloadState::Waiting || !mayStart(m_list.item(i), &busy, &wake))
                continue;
            if (prepareRow(i, true)) {
                chosen = i;
                break;
            }
            // A row that failed before its start may have been the last bad one allowed.
            if (m_list.item(i).state == DownloadState::Failed && checkErrorStop(i))
                return;
        }
        if (chosen < 0)
            return;
        from = chosen + 1;
        const DownloadItem& row = m_list.item(chosen);
        startRow(chosen);
        QString name;
        const QString target = renameForSavePath(row.folder, row.name, row.fileType,
                                                 savePolicyFor(row, options.sameNamePolicy), &name);
        if (name != row.name) {
            DownloadItem it = row;
            it.name = name;
            m_list.setItem(chosen, it);
        }
        if (m_perHost > 0)
            ++busy[hostOf(m_list.item(chosen).url)];
        startSlot(j, chosen, target);
        emit rowStarted(chosen);
    }
}

void DownloadScheduler::startSlot(int j, int row, const QString& target)
{
    if (j < 0 || j >= kMaxSlots || row < 0 || row >= m_list.size())
        return;
    unload(j);
    auto* d = new Downloader(this);
    m_slots[size_t(j)] = d;
    m_slotRows[size_t(j)] = RowRef{row, m_list.item(row).url};
    connect(d, &Downloader::downloadProgress, this,
            [this, j](qint64 read, qint64 expected, const QString&) { onProgress(j, read, expected); });
    connect(d, &Downloader::downloadComplete, this,
            [this, j](qint64 read, qint64 expected, const QString&) { onComplete(j, read, expected); });
    connect(d, &Downloader::downloadError, this, [this, j](const QString&, const QString&) { onError(j); });
    connect(d, &Downloader::pageKept, this,
            [this, j](const QString& path, const QString& name) { onPage(j, path, name); });
    // The row owns what its transfer created, and nothing else.
    connect(d, &Downloader::fileCreated, this, [this, j](const OwnedFile& file) { m_list.setOwnedFile(slotRow(j), file); });
    m_state.beginTransfer();
    startRow(row);
    // A body kept from the row's last attempt is the transfer's to go on from.
    d->setResume(m_list.takePartial(row));
    d->setSparePlaceholders(m_spares);
    d->beginDownload(m_list.item(row).url, target, m_list.item(row).referer);
}

int DownloadScheduler::slotRow(int j) const
{
    if (j < 0 || j >= kMaxSlots)
        return -1;
    return m_slotRows[size_t(j)].resolve(m_list);
}

void DownloadScheduler::unload(int j)
{
    if (j < 0 || j >= kMaxSlots)
        return;
    QPointer<Downloader> d = m_slots[size_t(j)];
    const int row = slotRow(j);
    m_slots[size_t(j)] = nullptr;
    if (!d)
        return;
    d->disconnect(this);
    d->cancelAsyncRead();
    // What the transfer kept for a resume goes to its row (the row's end
    // decides whether it stays), or away with a row that is gone.
    if (d->resumed())
        m_list.markResumed(row);
    PartialBody kept = d->takeKeptPartial();
    if (row >= 0)
        m_list.setPartial(row, kept);
    else
        discardPartial(kept);
    // It may be inside one of its own signals right now.
    d->deleteLater();
}

void DownloadScheduler::onProgress(int j, qint64 read, qint64 expected)
{
    const int row = slotRow(j);
    if (row < 0 || !(expected > 0 && expected >= read))
        return;
    m_list.setProgress(row, expected, read, percentOf(read, expected));
    if (aboveSizeLimit(expected)) {
        TransferResult r = TransferResult::of(RowOutcome::SkippedTooLarge);
        r.announce = false;
        finishSlot(j, r);
    }
}

void DownloadScheduler::onComplete(int j, qint64 read, qint64 expected)
{
    const int row = slotRow(j);
    if (row < 0) {
        finishSlot(j, {});
        return;
    }
    const Downloader* d = m_slots[size_t(j)];
    const DownloadItem& it = m_list.item(row);
    TransferResult r;
    if (expected > 0 && expected >= read)
        r.cells(expected, read, percentOf(read, expected));
    else
        r.cells(it.size, it.received, it.percent);
    if (r.percent == 100 && (r.hasCells || it.note == RowNote::None)) {
        r.outcome = RowOutcome::Done;
    } else {
        r.reason = d && !d->failureText().isEmpty() ? d->failureText() : failReasonText(FailReason::CutShort);
        r.code = d && d->failCode() != FailCode::None ? d->failCode() : FailCode::CutShort;
        r.httpStatus = d ? d->httpStatus() : 0;
        r.retryAfterMs = d ? d->retryAfterMs() : -1;
    }
    r.checkType = true;
    if (d)
        r.knownType = d->knownType();
    finishSlot(j, r);
}

void DownloadScheduler::onError(int j)
{
    const Downloader* d = m_slots[size_t(j)];
    TransferResult r = d ? TransferResult::failed(d->failureText(), d->failCode(), d->httpStatus()) : TransferResult{};
    r.retryAfterMs = d ? d->retryAfterMs() : -1;
    // Given up before there was a result to show: the row fails quietly.
    r.announce = false;
    finishSlot(j, r);
}

void DownloadScheduler::onPage(int j, const QString& path, const QString& name)
{
    TransferResult r = TransferResult::of(RowOutcome::WebPage);
    r.pagePath = path;
    r.pageName = name;
    finishSlot(j, r);
}

void DownloadScheduler::finishSlot(int j, const TransferResult& result)
{
    const RowRef ref = m_slotRows[size_t(j)];
    const int row = slotRow(j);
    // The slot is freed even when its row is gone, or it would stay taken.
    unload(j);
    if (row < 0) {
        requestRefill();
        return;
    }
    const int pos = endRowTransfer(m_list, m_state, m_host, ref, result,
                                   [this](int p, const TransferResult& r) { return scheduleRetry(p, r); });
    // A row put back for its retry has not ended.
    const bool retried = pos >= 0 && m_list.item(pos).state == DownloadState::Waiting;
    if (result.announce && m_endHook && !retried) {
        QCoro::Task<> hook = holdForEndHook(row);
        Q_UNUSED(hook);
    }
    if (result.outcome != RowOutcome::SkippedTooLarge)
        checkErrorStop(row);
    requestRefill();
    reportIfSettled();
}

QCoro::Task<> DownloadScheduler::holdForEndHook(int row)
{
    QPointer<DownloadScheduler> self(this);
    const quint64 epoch = m_holdEpoch;
    if (m_holds++ == 0)
        m_holdLimit.start(timings().loginHold);
    TransferEndHook hook = m_endHook;  // may be replaced while it runs
    QCoro::Task<> ending = hook(row);
    co_await ending;
    if (!self || epoch != m_holdEpoch)
        co_return;
    if (--m_holds == 0) {
        m_holdLimit.stop();
        requestRefill();
    }
}

void DownloadScheduler::releaseHolds()
{
    // A login that never ends must not freeze the list.
    m_holdLimit.stop();
    m_holds = 0;
    ++m_holdEpoch;
    requestRefill();
}

bool DownloadScheduler::checkErrorStop(int row)
{
    // Only a bad row can bring the count to the limit, and counting is a walk
    // over the whole list.
    if (!m_timer.isActive() || !m_host.options().errorStop)
        return false;
    if (row >= 0 && row < m_list.size()) {
        const DownloadItem& it = m_list.item(row);
        if (it.state != DownloadState::Failed && !isWebPageType(it.fileType))
            return false;
    }
    if (m_list.countBadRows() < TransferMonitor::kErrorStopRows)
        return false;
    switchOff();
    m_host.cue(CueListFinished);
    return true;
}

} // namespace dh
