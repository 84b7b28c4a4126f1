#include "search/SearchEngine.h"

#include "app/AppGlobals.h"
#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "download/HandOver.h"
#include "download/TransferSupport.h"
#include "net/NetworkErrorText.h"
#include "ports/Prompter.h"
#include "search/SearchQuery.h"

#include <QCoroTimer>
#include <QElapsedTimer>
#include <QUrl>

#include <algorithm>

namespace dh {

namespace {
const CommandButton kBatchIdle{captions::batchIdle(), false, true};
const CommandButton kBatchRunning{captions::batchRunning(), true, true};
const CommandButton kAddAllIdle{captions::addAllIdle(), false, true};
const CommandButton kAddAllRunning{captions::addAllRunning(), true, true};

// How long a hand-over works before it lets the window repaint and handle
// clicks. Short enough that "停止" and the window stay live.
constexpr qint64 kHandOverSliceMs = 8;

// A page as the paging remembers it: the address without its fragment.
QString pageKey(const QString& address)
{
    QUrl u(address);
    u.setFragment(QString());
    return u.toString(QUrl::FullyEncoded);
}
} // namespace

int BatchSummary::count(QueryResult r) const
{
    return int(std::count_if(queries.begin(), queries.end(), [r](const QueryOutcome& q) { return q.result == r; }));
}

QString BatchSummary::text() const
{
    switch (end) {
    case BatchEnd::Running:
        return {};
    case BatchEnd::Verification:
        return QStringLiteral("遇到验证码页面，已停止");
    case BatchEnd::Stopped:
        return QStringLiteral("已停止（用户）");
    case BatchEnd::Finished:
        break;
    }
    QString out = QStringLiteral("%1 个查询：%2 个完成").arg(int(queries.size())).arg(count(QueryResult::Done));
    const int failed = count(QueryResult::Failed);
    if (failed > 0) {
        QStringList reasons;
        for (const QueryOutcome& q : queries)
            if (q.result == QueryResult::Failed && !reasons.contains(q.reason))
                reasons << q.reason;
        out += QStringLiteral("，%1 个失败（%2）").arg(failed).arg(reasons.join(QStringLiteral("、")));
    }
    return out;
}

std::shared_ptr<SearchEngine> SearchEngine::create()
{
    // Deleted through deleteLater so that a run may drop the last reference
    // from inside one of the engine's own signal emissions.
    return std::shared_ptr<SearchEngine>(new SearchEngine(), [](SearchEngine* e) { e->deleteLater(); });
}

SearchEngine::SearchEngine() : m_links(new LinksListModel(this)), m_batchButton(kBatchIdle), m_addAllButton(kAddAllIdle) {}

SearchEngine::~SearchEngine() = default;

void SearchEngine::setBrowser(Browser* browser)
{
    if (m_completeConn)
        disconnect(m_completeConn);
    if (m_errorConn)
        disconnect(m_errorConn);
    m_browser = browser;
    if (browser) {
        // Only the page itself ends a pending navigation, not a frame in it.
        m_completeConn = connect(browser, &Browser::documentComplete, this, [this](bool topLevel, const QString&) {
            if (topLevel)
                navigating = false;
        });
        m_errorConn = connect(browser, &Browser::navigateError, this,
                              [this](const QString&, const QString& error) { m_loadError = error; });
    }
}

bool SearchEngine::batchRunning() const
{
    return m_batchButton.caption == captions::batchRunning();
}

void SearchEngine::setBatchButton(const CommandButton& b)
{
    m_batchButton = b;
    emit buttonsChanged();
}

void SearchEngine::setAddAllButton(const CommandButton& b)
{
    m_addAllButton = b;
    emit buttonsChanged();
}

void SearchEngine::setBatchStatus(const QString& text)
{
    if (text == m_batchStatus)
        return;
    m_batchStatus = text;
    emit batchStatusChanged(text);
}

void SearchEngine::showBatchProgress()
{
    const int current = int(m_summary.queries.size()) + 1;
    setBatchStatus(QStringLiteral("查询 %1/%2 · 第 %3 页 · 已收集 %4 个链接")
                       .arg(current)
                       .arg(std::max(current, m_summary.planned))
                       .arg(std::max(1, m_pagesShown))
                       .arg(m_summary.links));
}

int SearchEngine::linksNotHandedOver() const
{
    int n = 0;
    for (const LinkItem& it : m_links->items())
        if (it.status.isEmpty())
            ++n;
    return n;
}

QString SearchEngine::extractionFolder() const
{
    return globals().promptOnExtract ? globals().saveFolder : QString();
}

bool SearchEngine::pagingStopped() const
{
    return stopAddAll || (batchRunning() && stopBatch);
}

void SearchEngine::endPaging(PagingEnd reason, const QString& message)
{
    emit pagingEnded(reason, message);
}

QCoro::Task<void> SearchEngine::letEventsRun()
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
}

QCoro::Task<void> SearchEngine::askSaveLocation()
{
    if (saveLocationDialog && !m_detached)
        co_await saveLocationDialog();
}

// ---------------------------------------------------------------- commands

namespace {
// Fire-and-forget starters: each run keeps the engine alive until it ends.
QCoro::Task<void> runBatchSearch(std::shared_ptr<SearchEngine> self, QString text)
{
    co_await self->batchSearchTask(std::move(text));
}
QCoro::Task<void> runAddAllPages(std::shared_ptr<SearchEngine> self)
{
    co_await self->addAllPagesTask();
}
QCoro::Task<void> runAddCurrentPage(std::shared_ptr<SearchEngine> self)
{
    co_await self->addCurrentPageTask();
}
QCoro::Task<void> runHandOver(std::shared_ptr<SearchEngine> self, HandOverRule rule)
{
    co_await self->handOverLinks(rule);
}
} // namespace

void SearchEngine::batchSearch(const QString& keywordText)
{
    runBatchSearch(shared_from_this(), keywordText);
}

void SearchEngine::addAllPages()
{
    runAddAllPages(shared_from_this());
}

void SearchEngine::addCurrentPage()
{
    runAddCurrentPage(shared_from_this());
}

void SearchEngine::handOver(HandOverRule rule)
{
    runHandOver(shared_from_this(), rule);
}

void SearchEngine::autoTick()
{
    // A tick that comes while a hand-over is still running waits for the next
    // one: two runs over the same list would end each other.
    if (!stopAnalysis || m_detached)
        return;
    handOver(HandOverRule::NotHandedOver);
}

QCoro::Task<bool> SearchEngine::prepareAutoMode()
{
    if (globals().promptOnExtract)
        globals().saveDialogCancelled = false;
    else
        co_await askSaveLocation();
    co_return !globals().saveDialogCancelled && !m_detached;
}

// ------------------------------------------------------------------ batch

QCoro::Task<void> SearchEngine::batchSearchTask(QString keywordText)
{
    if (batchRunning()) {
        // Stop: the running batch ends at its next check and restores the button.
        stopBatch = true;
        m_runsWake.raise();
        setBatchButton({m_batchButton.caption, m_batchButton.red, false});
        co_return;
    }
    if (!stopAddAll) {
        Prompter::instance().message(QStringLiteral("正在提取网页信息，请停止以后使用该功能！"), MessageIcon::Error);
        co_return;
    }
    if (m_detached)
        co_return;

    setBatchButton(kBatchRunning);
    stopBatch = false;
    captchaHit = false;
    m_doneLog.clear();
    m_failedLog.clear();
    emit doneLogChanged(m_doneLog);

    const QStringList lines = splitKeywordLines(keywordText);
    m_summary = {};
    for (const QString& line : lines)
        if (!trimSpaces(line).isEmpty())
            m_summary.planned += int(std::count(typeTicked.begin(), typeTicked.end(), true));
    m_pagesShown = 0;
    showBatchProgress();

    if (globals().promptOnExtract)
        co_await askSaveLocation();

    for (qsizetype li = 0; li < lines.size(); ++li) {
        co_await letEventsRun();
        if (stopBatch || captchaHit)
            break;
        const QString line = trimSpaces(lines.at(li));
        if (line.isEmpty())
            continue;
        const bool whole = wholeKeywords;
        bool leave = false;
        for (int i = 0; i < 4; ++i) {
            if (typeTicked[size_t(i)]) {
                const QString type = searchTypes().at(i);
                const bool clearFirst = m_browser && m_browser->clearsBetweenQueries();
                if (clearFirst)
                    co_await openSearchPage(QStringLiteral("about:blank"));
                const QString address = profile.queryAddress(searchBase, line, type, whole);
                extractOptions.queryType = type;
                m_pagesShown = 0;
                showBatchProgress();
                emit queryStarted(line, type, address);
                const bool loaded = co_await openSearchPage(address);
                const QString loadError = m_loadError;
                // Without the blank step, a page that did not arrive (in
                // time, or before a stop) leaves the page shown before it:
                // that page must not be read as this query's. (A failed load
                // shows its own error answer.) A blank page loads at once
                // without a network, so no stop is needed here.
                if (!loaded && loadError.isEmpty() && !clearFirst && m_browser)
                    co_await navigateAndWait(*m_browser, QStringLiteral("about:blank"), timings().pageLoadWait);
                const int linksBefore = m_summary.links;
                co_await addAllPagesTask();
                QueryOutcome q;
                q.keywords = line;
                q.type = type;
                q.url = address;
                q.links = m_summary.links - linksBefore;
                q = judgeQuery(std::move(q), loaded, loadError);
                if (q.result == QueryResult::Failed)
                    emit queryFailed(line, type, address, q.detail);
                m_summary.queries.push_back(q);
                logQuery(q);
                co_await letEventsRun();
            }
            if (stopBatch || captchaHit) {
                leave = true;
                break;
            }
        }
        if (leave)
            break;
        co_await letEventsRun();
    }

    // After the verification page the browser keeps it, so the user can answer it.
    if (!captchaHit && !m_detached)
        co_await openSearchPage(profile.homeAddress(searchBase));

    m_summary.end = captchaHit ? BatchEnd::Verification
                  : stopBatch  ? BatchEnd::Stopped
                               : BatchEnd::Finished;
    setBatchButton(kBatchIdle);
    stopBatch = true;
    setBatchStatus(m_summary.text());
    emit batchFinished();
}

QueryOutcome SearchEngine::judgeQuery(QueryOutcome q, bool loaded, const QString& loadError) const
{
    if (stopBatch || captchaHit || m_detached) {
        q.result = QueryResult::Stopped;
        return q;
    }
    if (!loaded && !loadError.isEmpty()) {
        const NetworkFailure f = describeNetworkError(loadError);
        q.reason = f.reason;
        q.detail = f.text();
    } else if (!loaded) {
        q.reason = QStringLiteral("页面超时");
        q.detail = QStringLiteral("页面在 %1 秒内没有打开").arg(timings().pageLoadWait.count() / 1000.0);
    } else if (!m_firstPageIsResults) {
        q.reason = QStringLiteral("不是结果页");
        q.detail = QStringLiteral("打开的页面不是搜索结果页");
    } else if (m_pageFailed) {
        q.reason = QStringLiteral("翻页失败");
        q.detail = m_pageFailure;
    } else {
        return q;
    }
    q.result = QueryResult::Failed;
    return q;
}

// 已经完成 lists the queries that ran; the failed ones follow apart, each
// with its reason, so a failure never reads as a finished search.
void SearchEngine::logQuery(const QueryOutcome& q)
{
    const QString name = q.keywords + QStringLiteral("(") + q.type + QStringLiteral(")");
    if (q.result == QueryResult::Failed)
        m_failedLog += name + QStringLiteral(" ") + q.detail + QLatin1Char('\n');
    else
        m_doneLog += name + QStringLiteral(" ");
    emit doneLogChanged(doneLog());
}

QString SearchEngine::doneLog() const
{
    if (m_failedLog.isEmpty())
        return m_doneLog;
    return m_doneLog + (m_doneLog.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("失败：\n") + m_failedLog;
}

QCoro::Task<bool> SearchEngine::openSearchPage(QString address)
{
    if (!m_browser)
        co_return false;
    navigating = true;
    m_loadError.clear();
    m_browser->navigate(address);
    // Named, not written inline: g++ 12 destroys lambda temporaries inside a
    // co_await expression twice.
    QPointer<Browser> b = m_browser;
    std::function<bool()> loaded = [this, b] { return b && !b->busy() && !navigating; };
    std::function<bool()> stop = [this] { return stopBatch; };
    const bool arrived =
        co_await waitUntil(*m_browser, timings().pageLoadWait, std::move(loaded), std::move(stop), &m_runsWake);
    co_return arrived && m_loadError.isEmpty();
}

// ---------------------------------------------------------------- add all

QCoro::Task<void> SearchEngine::addAllPagesTask()
{
    if (m_addAllButton.caption != captions::addAllIdle()) {
        stopAddAll = true;
        m_runsWake.raise();
        setAddAllButton({m_addAllButton.caption, m_addAllButton.red, false});
        emit fitColumnsRequested();
        co_return;
    }
    if (m_detached)
        co_return;
    setAddAllButton(kAddAllRunning);
    stopAddAll = false;

    if (!batchRunning()) {
        if (globals().promptOnExtract)
            co_await askSaveLocation();
        captchaHit = false;
    }
    m_visited.clear();
    if (m_browser)
        m_visited.insert(pageKey(m_browser->locationUrl()));
    m_pagesShown = 1;
    m_firstPageRead = false;
    m_firstPageIsResults = false;
    m_pageFailed = false;
    m_pageFailure.clear();

    for (;;) {
        co_await letEventsRun();
        if (stopAddAll || captchaHit || (batchRunning() && stopBatch))
            break;
        const bool followed = co_await nextPage();
        if (!followed)
            break;
        co_await extractCurrentPage(extractionFolder());
        co_await letEventsRun();
    }
    // The last page shown is always extracted.
    co_await extractCurrentPage(extractionFolder());

    setAddAllButton(kAddAllIdle);
    stopAddAll = true;
    emit fitColumnsRequested();
}

QCoro::Task<void> SearchEngine::addCurrentPageTask()
{
    if (globals().promptOnExtract) {
        co_await askSaveLocation();
        co_await extractCurrentPage(globals().saveFolder);
    } else {
        co_await extractCurrentPage(QString());
    }
    emit fitColumnsRequested();
}

QCoro::Task<int> SearchEngine::extractCurrentPage(QString folder)
{
    if (!m_browser)
        co_return 0;
    DocumentPtr doc = co_await m_browser->document();
    if (!doc)
        co_return 0;
    m_lastDoc = doc;
    const PageExtraction page = extractResultLinks(*doc, extractOptions, profile);
    if (!m_firstPageRead) {
        m_firstPageRead = true;
        m_firstPageIsResults = page.hasContainer;
    }
    if (page.verificationPage) {
        captchaHit = true;
        m_runsWake.raise();
        emit verificationPageMet(doc->URL());
        co_return 0;
    }
    const QString referer = doc->URL();
    int added = 0;
    for (const ExtractedLink& l : page.links) {
        if (addToLinksList(l.title, l.url, referer, l.type, folder))
            ++added;
    }
    emit linksCountChanged(m_links->size());
    if (batchRunning() && !stopBatch) {
        m_summary.links += added;
        showBatchProgress();
    }
    emit pageExtracted(referer, added, m_links->size());
    co_return added;
}

bool SearchEngine::addToLinksList(const QString& title, const QString& url, const QString& referer, const QString& type,
                          const QString& folder, const QString& sixth)
{
    Q_UNUSED(sixth);  // the fifth column stays empty
    return m_links->add({title, url, type, QString(), folder, referer});
}

QCoro::Task<bool> SearchEngine::nextPage()
{
    co_await extractCurrentPage(extractionFolder());
    const DocumentPtr doc = m_lastDoc;
    if (!doc || !m_browser)
        co_return false;

    Element next;
    const ElementCollection pager = nextPageCandidates(*doc, profile);
    for (int i = 0; i < pager.length(); ++i) {
        co_await letEventsRun();
        if (stopAddAll || captchaHit || (batchRunning() && stopBatch))
            co_return false;
        const Element e = pager.item(i);
        if (isNextPageLink(e, profile)) {
            next = e;
            break;
        }
    }
    if (next.isNull() || !m_browser)
        co_return false;

    // A hostile or broken service must not keep a query paging for ever: a
    // next page already shown (a link to the page itself, an empty address,
    // two pages pointing at each other) ends the paging, and so does the cap.
    const QString target = next.href();
    if (!target.isEmpty() && !isWebAddress(target))
        co_return false;  // leads nowhere a page may go: like no next page
    if (!target.isEmpty() && m_visited.contains(pageKey(target))) {
        endPaging(PagingEnd::PageRevisited,
                  QStringLiteral("下一页已经打开过，停止翻页：%1").arg(target));
        co_return false;
    }
    if (maxPagesPerQuery > 0 && m_pagesShown >= maxPagesPerQuery) {
        endPaging(PagingEnd::PageCap,
                  QStringLiteral("已达到每次查询的最大页数 %1，停止翻页").arg(maxPagesPerQuery));
        co_return false;
    }

    navigating = true;
    m_loadError.clear();
    if (!next.click()) {
        // The page changed under the snapshot, or the link leads nowhere a
        // page may go: there is nothing to follow.
        navigating = false;
        co_return false;
    }
    co_await letEventsRun();
    // Wait for the new page itself to complete: a click starts its navigation
    // a moment later, so "not busy" alone would end the wait too early.
    if (m_browser) {
        QPointer<Browser> b = m_browser;
        std::function<bool()> loaded = [this, b] { return b && !b->busy() && !navigating; };
        std::function<bool()> stop = [this] { return pagingStopped(); };
        const bool arrived =
            co_await waitUntil(*m_browser, timings().nextPageWait, std::move(loaded), std::move(stop), &m_runsWake);
        if (!arrived && !pagingStopped() && m_browser) {
            // What the page holds by now is still extracted by the caller.
            m_browser->stop();
            navigating = false;
            m_pageFailed = true;
            m_pageFailure = QStringLiteral("下一页在 %1 秒内没有打开").arg(timings().nextPageWait.count() / 1000.0);
            endPaging(PagingEnd::NextPageTimedOut, m_pageFailure + QStringLiteral("，停止翻页"));
            co_return false;
        }
    }
    if (!m_browser || pagingStopped())
        co_return false;
    if (!m_loadError.isEmpty()) {
        m_pageFailed = true;
        m_pageFailure = QStringLiteral("下一页没有打开：") + describeNetworkError(m_loadError).text();
        endPaging(PagingEnd::NextPageFailed, m_pageFailure + QStringLiteral("，停止翻页"));
        co_return false;
    }
    const QString landed = pageKey(m_browser->locationUrl());
    if (m_visited.contains(landed)) {
        endPaging(PagingEnd::PageRevisited, QStringLiteral("下一页已经打开过，停止翻页：%1").arg(landed));
        co_return false;
    }
    m_visited.insert(landed);
    if (!target.isEmpty())
        m_visited.insert(pageKey(target));
    ++m_pagesShown;
    if (batchRunning() && !stopBatch)
        showBatchProgress();  // the page shown now, through the pause before it is read

    // The rate-limit pause. It wakes when its time is up, on a stop, and when
    // the delay box changes (the new delay counts from the pause's start).
    QElapsedTimer t1;
    t1.start();
    Wakeup wake;
    wake.listen(&m_runsWake, &WaitSignal::raised);
    co_await letEventsRun();
    for (;;) {
        const qint64 wanted = qint64(std::max(0, delaySeconds)) * timings().secondUnit.count();
        if (t1.elapsed() >= wanted || pagingStopped() || m_detached)
            break;
        wake.wakeAfter(std::chrono::milliseconds(wanted - t1.elapsed()));
        co_await wake.next();
    }
    co_return true;
}

// -------------------------------------------------------------- hand-over

QCoro::Task<void> SearchEngine::handOverLinks(HandOverRule rule)
{
    if (!stopAnalysis)
        co_return;  // one hand-over at a time
    m_progressText = QStringLiteral("正在分析,请稍候...");
    emit progressPanelChanged(true, m_progressText);
    stopAnalysis = false;
    co_await letEventsRun();

    if (m_links->size() > 0 && !m_detached) {
        bool goOn = false;
        if (rule == HandOverRule::NotHandedOver && autoModeActive && autoModeActive()) {
            goOn = true;
        } else if (globals().promptOnExtract) {
            globals().saveDialogCancelled = false;
            goOn = true;
        } else {
            co_await askSaveLocation();
            goOn = !globals().saveDialogCancelled && !m_detached;
        }

        if (goOn) {
            const int count = m_links->size();
            QElapsedTimer slice;
            slice.start();
            for (int row = 0; row < count; ++row) {
                if (row >= m_links->size())
                    break;
                const LinkItem& it = m_links->item(row);
                bool match = false;
                switch (rule) {
                case HandOverRule::NotHandedOver: match = it.status.isEmpty(); break;
                case HandOverRule::Failed: match = it.status == statusFailed(); break;
                case HandOverRule::Selected: match = isRowSelected && isRowSelected(row); break;
                case HandOverRule::All: match = true; break;
                }
                if (!match)
                    continue;
                if (rule != HandOverRule::NotHandedOver)
                    m_links->setStatus(row, QString());
                const LinkItem copy = m_links->item(row);
                if (!isDownloadableAddress(copy.url)) {
                    // A hostile result link (file:, data:, qrc:) would copy a
                    // local file into the save folder: it is not handed over.
                    m_links->setStatus(row, statusFailed());
                    continue;
                }
                if (!addToDownloadList(copy.url, copy.title, copy.fileType, copy.folder, copy.referer))
                    break;  // no download list to hand over to
                m_links->setStatus(row, statusHandedOver());
                if (stopAnalysis)
                    break;
                if (slice.elapsed() >= kHandOverSliceMs) {
                    co_await letEventsRun();
                    slice.restart();
                    if (stopAnalysis)
                        break;
                }
            }
        }
    }

    emit progressPanelChanged(false, m_progressText);
    stopAnalysis = true;
    if (!m_detached)
        revealDownloadWindow();
}

bool SearchEngine::addToDownloadList(const QString& url, const QString& title, const QString& type, const QString& folder,
                             const QString& referer)
{
    DownloadListModel* list = downloadList ? downloadList() : nullptr;
    if (!list)
        return false;
    const QString saveFolder = folder.isEmpty() ? globals().saveFolder : folder;
    list->addItem(url, handOverName(url, title, globals().useUrlFileName), type, saveFolder, referer);
    return true;
}

void SearchEngine::revealDownloadWindow()
{
    if (showDownloadWindow)
        showDownloadWindow();
}

void SearchEngine::setDelaySeconds(int seconds)
{
    delaySeconds = seconds;
    m_runsWake.raise();
}

void SearchEngine::detach()
{
    m_detached = true;
    stopBatch = true;
    stopAddAll = true;
    stopAnalysis = true;
    m_runsWake.raise();
    saveLocationDialog = {};
    showDownloadWindow = {};
    isRowSelected = {};
    autoModeActive = {};
    downloadList = {};
}

} // namespace dh
