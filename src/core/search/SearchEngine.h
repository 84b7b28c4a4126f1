#pragma once
#include "ports/Browser.h"
#include "search/Extraction.h"
#include "search/LinksListModel.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <vector>

namespace dh {

class DownloadListModel;

// The selection rules of a hand-over.
enum class HandOverRule {
    NotHandedOver,  // "分析未分析项" and the automatic timer: Status is empty
    Failed,         // "分析失败项": Status is "分析失败"
    Selected,       // "分析选中项": the row is selected
    All,            // "分析全部": every row
};

// What a command button shows: its caption, whether it is red, whether it
// can be clicked.
struct CommandButton {
    QString caption;
    bool red = false;
    bool enabled = true;
};

// Why the paging of one query ended early (see pagingEnded).
enum class PagingEnd {
    PageRevisited,     // the next page is one this query has shown already
    NextPageTimedOut,  // the next page did not load within the next-page wait
    NextPageFailed,    // the next page could not be loaded
    PageCap,           // the query walked maxPagesPerQuery pages
};

// How one query of a batch ended.
enum class QueryResult {
    Done,     // its result pages were read (with or without links)
    Failed,   // no result page, or a further result page failed
    Stopped,  // the batch stopped during it (the user, the verification page)
};

struct QueryOutcome {
    QString keywords;
    QString type;
    QString url;
    QueryResult result = QueryResult::Done;
    QString reason;  // Failed: the short reason for the summary ("无法连接")
    QString detail;  // Failed: the whole reason ("无法连接（Connection refused）")
    int links = 0;   // rows this query added to the list
};

// How a batch ended.
enum class BatchEnd {
    Running,
    Finished,      // every query was tried
    Verification,  // the service answered with its verification page
    Stopped,       // the user stopped it (or the window closed)
};

struct BatchSummary {
    int planned = 0;  // queries the batch meant to run
    std::vector<QueryOutcome> queries;
    BatchEnd end = BatchEnd::Running;
    int links = 0;  // rows the batch added to the list

    int count(QueryResult r) const;
    // The status bar's lasting line: "8 个查询：6 个完成，2 个失败（无法连接）",
    // "遇到验证码页面，已停止", "已停止（用户）".
    QString text() const;
};

// The search window's engine: batch search, extraction and paging, and the
// hand-over of collected links to the download list. It works on the
// abstract browser, so the same engine drives the window (WebEngine) and the
// command line (headless). Every long operation is a coroutine on the one
// event loop; the stop flags are checked where the window's commands check
// them. The window only mirrors its controls into the option members below
// and shows the button states and texts the engine announces.
//
// Long runs keep the engine alive (shared ownership), so closing the window
// while a run is going on cannot leave a coroutine without its engine; the
// window calls detach() when it closes, which stops every run.
class SearchEngine : public QObject, public std::enable_shared_from_this<SearchEngine> {
    Q_OBJECT
public:
    static std::shared_ptr<SearchEngine> create();
    ~SearchEngine() override;

    // Window flags. A run's waits hear a stop through the commands that set
    // these (the run buttons' second click, detach()), not by looking again
    // on a timer.
    bool navigating = false;
    bool stopBatch = true;
    bool stopAddAll = true;
    bool stopAnalysis = true;
    bool captchaHit = false;

    // Options mirrored from the window's controls; read live by the runs.
    std::array<bool, 4> typeTicked{true, true, true, true};  // pdf, doc, ppt, xls ticks
    bool wholeKeywords = false;  // m_exactPhraseCheck
    ExtractOptions extractOptions;  // m_stripTitleSpacesCheck, m_skipUnknownTypeCheck, excluded domain
    int delaySeconds = 4;        // m_delayCombo; while a run pauses, change it through setDelaySeconds
    QString searchBase;          // the search service's base address
    ServiceProfile profile = defaultServiceProfile();  // how the service is asked and read
    // Result pages one query walks at most (0: no cap), so a service whose
    // page numbers grow for ever cannot keep a batch going for ever.
    int maxPagesPerQuery = 100;

    // Hooks to the surroundings. Unset hooks do nothing.
    // The save-location dialog, shown modally; it sets the process-wide
    // saveFolder, useUrlFileName and saveDialogCancelled.
    std::function<QCoro::Task<void>()> saveLocationDialog;
    // The download list (loading the download window when needed).
    std::function<DownloadListModel*()> downloadList;
    // Shows the download window after a hand-over.
    std::function<void()> showDownloadWindow;
    // Whether a links-list row is selected (rule "分析选中项").
    std::function<bool(int row)> isRowSelected;
    // Whether the automatic hand-over timer is running.
    std::function<bool()> autoModeActive;

    void setBrowser(Browser* browser);
    // The delay box changed: a pause going on takes the new value at once.
    void setDelaySeconds(int seconds);
    Browser* browser() const { return m_browser; }
    LinksListModel* links() const { return m_links; }

    CommandButton batchButton() const { return m_batchButton; }  // batch button
    CommandButton addAllButton() const { return m_addAllButton; }  // add-all button
    // A batch counts as running while its button offers to stop it.
    bool batchRunning() const;
    bool addAllRunning() const { return !stopAddAll; }
    bool handOverRunning() const { return !stopAnalysis; }
    // m_finishedSearchesEdit: the searches finished so far in this batch.
    QString doneLog() const;
    QString progressText() const { return m_progressText; }  // m_handOverProgressLabel
    // The batch running or last run, query by query.
    const BatchSummary& batchSummary() const { return m_summary; }
    // What the status bar says of the batch: its progress while it runs
    // ("查询 3/8 · 第 2 页 · 已收集 57 个链接"), its summary afterwards.
    QString batchStatusText() const { return m_batchStatus; }
    // Rows of the links list not yet handed over to the download list.
    int linksNotHandedOver() const;

    // The window's commands. They return at once; the run goes on as a
    // coroutine. The *Task forms are the same commands, awaitable.
    void batchSearch(const QString& keywordText);
    void addAllPages();
    void addCurrentPage();
    void handOver(HandOverRule rule);
    void stopHandOver() { stopAnalysis = true; }  // "停止" of the progress panel
    QCoro::Task<void> batchSearchTask(QString keywordText);
    QCoro::Task<void> addAllPagesTask();
    QCoro::Task<void> addCurrentPageTask();

    // Ticking "自动分析未分析项": true when the timer may run (the dialog, if
    // it is shown, was not cancelled).
    QCoro::Task<bool> prepareAutoMode();
    // One tick of the automatic timer: a hand-over of the links not yet
    // handed over, unless a hand-over is already running.
    void autoTick();

    // The building blocks.
    // Navigates and waits for the page, 30 s at most, or until a batch stop.
    // True when the page loaded without a network error within the wait.
    QCoro::Task<bool> openSearchPage(QString address);
    // Extracts the page shown into the links list; returns how many rows it added.
    QCoro::Task<int> extractCurrentPage(QString folder);
    // Adds one row; false when the address is listed already.
    bool addToLinksList(const QString& title, const QString& url, const QString& referer, const QString& type,
                const QString& folder, const QString& sixth = {});
    // Extracts the page shown, follows its next-page link, waits and pauses.
    QCoro::Task<bool> nextPage();  // 下一页
    QCoro::Task<void> handOverLinks(HandOverRule rule);
    // Appends one download row; false only when there is no download list.
    bool addToDownloadList(const QString& url, const QString& title, const QString& type, const QString& folder,
                  const QString& referer);
    void revealDownloadWindow();

    // The window is going away: stop every run and drop the hooks.
    void detach();
    bool detached() const { return m_detached; }

signals:
    void buttonsChanged();
    void doneLogChanged(const QString& text);
    void linksCountChanged(int rows);
    void fitColumnsRequested();
    // The progress panel of the hand-over: shown with its text, or hidden.
    void progressPanelChanged(bool visible, const QString& text);
    void queryStarted(const QString& keywords, const QString& type, const QString& url);
    void pageExtracted(const QString& url, int added, int listed);
    void verificationPageMet(const QString& url);
    // The paging of a query ended for a reason other than its last page or a
    // stop; message says why, for the status bar and the command line.
    void pagingEnded(dh::PagingEnd reason, const QString& message);
    // A query's page could not be loaded or was not a result page (the batch
    // goes on with the next query); reason as QueryOutcome::detail.
    void queryFailed(const QString& keywords, const QString& type, const QString& url, const QString& reason);
    void batchStatusChanged(const QString& text);  // see batchStatusText()
    void batchFinished();

private:
    SearchEngine();
    QString extractionFolder() const;
    bool pagingStopped() const;
    QCoro::Task<void> askSaveLocation();
    QCoro::Task<void> letEventsRun();
    void endPaging(PagingEnd reason, const QString& message);
    void setBatchButton(const CommandButton& b);
    void setAddAllButton(const CommandButton& b);
    void setBatchStatus(const QString& text);
    void showBatchProgress();
    QueryOutcome judgeQuery(QueryOutcome q, bool loaded, const QString& loadError) const;
    void logQuery(const QueryOutcome& q);

    QPointer<Browser> m_browser;
    WaitSignal m_runsWake;  // raised when a stop is asked or the delay changes
    QMetaObject::Connection m_completeConn;
    QMetaObject::Connection m_errorConn;
    LinksListModel* m_links = nullptr;
    DocumentPtr m_lastDoc;  // the page the last extraction read
    QString m_loadError;    // network error of the last top-level load, if any
    // Paging state of the running add-all run (one query).
    QSet<QString> m_visited;  // pages shown, without fragments
    int m_pagesShown = 0;
    bool m_firstPageRead = false;
    bool m_firstPageIsResults = false;
    bool m_pageFailed = false;  // a next page timed out or failed
    QString m_pageFailure;      // why, as the paging told it
    CommandButton m_batchButton;
    CommandButton m_addAllButton;
    QString m_doneLog;
    QString m_failedLog;  // failed queries with their reasons, one a line
    QString m_progressText;
    BatchSummary m_summary;
    QString m_batchStatus;
    bool m_detached = false;
};

// The captions the two run buttons show.
namespace captions {
inline QString batchIdle() { return QStringLiteral("开始批量搜索提取"); }
inline QString batchRunning() { return QStringLiteral("停止批量搜索"); }
inline QString addAllIdle() { return QStringLiteral("加入全部到列表"); }
inline QString addAllRunning() { return QStringLiteral("停止加入全部"); }
} // namespace captions

} // namespace dh
