#pragma once
#include "gui/WindowTestFriends.h"
#include "download/DownloadHost.h"
#include "download/DownloadWindowState.h"
#include "download/ListOperations.h"
#include "download/Naming.h"

#include <QMainWindow>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QTimer;
class QTreeView;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QAction;
class QMenu;
class QProgressBar;

namespace dh {

class DownloadListModel;
class DownloadScheduler;
class TransferMonitor;
class MethodOneTransfer;
class LoginPanel;

// The download window: the job list, the scheduler's and the monitor's
// controls and the status bar. It is the download engine's host: the engine
// reads the window's options and tells its events through the DownloadHost
// interface, and the window decides where each shows.
class DownloadWindow : public QMainWindow, public DownloadHost {
    Q_OBJECT
public:
    explicit DownloadWindow(QWidget* parent = nullptr);
    ~DownloadWindow() override;

    DownloadListModel* list() const { return m_list; }
    DownloadScheduler* scheduler() const { return m_scheduler; }
    TransferMonitor* monitor() const { return m_monitor; }

private:
    // The controls: only the window itself, its login panel and its tests reach them.
    friend class LoginPanel;
    friend LoginPanel* attachLoginPanel(DownloadWindow* window);
    DH_WINDOW_TEST_FRIENDS

    QTreeView* m_downloadsView = nullptr;                  // the download list
    QLabel* m_rowCountLabel = nullptr;                     // "N条"
    QLabel* m_methodLabel = nullptr;                       // "下载方式：N"
    QComboBox* m_transferCountCombo = nullptr;             // thread count "1".."6"
    QComboBox* m_pauseCombo = nullptr;                     // pause between files "0".."600"
    QTimer* m_schedulerTimer = nullptr;                    // scheduler tick (the scheduler's timer)
    QTimer* m_monitorTimer = nullptr;                      // monitor tick (the monitor's timer)
    QTimer* m_loginRefreshTimer = nullptr;                 // login page refresh
    QLabel* m_statusPanels[5] = {};                        // status-bar panels 1..4 (index 0 unused): 2 current file, 3 connection, 4 counters
    QProgressBar* m_totalProgressBar = nullptr;            // rows ended of all rows
    QLabel* m_totalProgressLabel = nullptr;                // counts, bytes, speed, time left
    QLabel* m_loginHintLabel = nullptr;                    // points at 网页登录 after a run that met web pages
    LoginPanel* m_loginPanel = nullptr;

    QPushButton* m_startButton = nullptr;                  // 开始下载
    QPushButton* m_stopButton = nullptr;                   // 停止下载
    QPushButton* m_switchMethodButton = nullptr;           // 切换 (download method)

    QRadioButton* m_skipExistingRadio = nullptr;           // 跳过
    QRadioButton* m_overwriteRadio = nullptr;              // 覆盖
    QRadioButton* m_renameRadio = nullptr;                 // 重命名
    QCheckBox* m_soundCheck = nullptr;                     // 声音提示

    // Monitor options.
    QCheckBox* m_autoStartCheck = nullptr;                 // 当有待下载项时，自动启动下载
    QCheckBox* m_autoRedownloadCheck = nullptr;            // 自动重新下载：
    QComboBox* m_redownloadChoiceCombo = nullptr;          // what the automatic re-download resets
    QCheckBox* m_stopAfterBadRowsCheck = nullptr;          // 有5个以上下载出错或者网页文件，就停止下载
    QLabel* m_runningIndicator = nullptr;                  // shown while the scheduler runs

    QMenu* m_listMenu = nullptr;  // 列表操作(&D), also the list's context menu
    QAction* m_selectAllAction = nullptr;
    QAction* m_selectNoneAction = nullptr;
    QAction* m_shuffleAction = nullptr;
    QAction* m_autoColumnWidthAction = nullptr;
    QMenu* m_redownloadMenu = nullptr;
    QAction* m_redownloadSelectedAction = nullptr;
    QAction* m_redownloadFailedAction = nullptr;
    QAction* m_redownloadPagesAction = nullptr;
    QAction* m_redownloadFailedAndPagesAction = nullptr;
    QAction* m_redownloadSmallFilesAction = nullptr;
    QMenu* m_removeMenu = nullptr;
    QAction* m_removeSelectedAction = nullptr;
    QAction* m_removeFailedAction = nullptr;
    QAction* m_removeFinishedAction = nullptr;
    QAction* m_removeAllAction = nullptr;
    QMenu* m_deleteMenu = nullptr;
    QAction* m_deletePageFilesAction = nullptr;
    QAction* m_deleteFailedFilesAction = nullptr;
    QAction* m_startAction = nullptr;
    QAction* m_stopAction = nullptr;
    QAction* m_cancelSelectedAction = nullptr;
    QAction* m_openFileAction = nullptr;
    QAction* m_openFolderAction = nullptr;
    QAction* m_openInEditorAction = nullptr;
    QAction* m_copyNameAction = nullptr;
    QAction* m_replaceAddressesAction = nullptr;
    QAction* m_openAddressAction = nullptr;
    QMenu* m_exportNamesMenu = nullptr;
    QAction* m_exportAllNamesAction = nullptr;
    QAction* m_exportUnfinishedNamesAction = nullptr;
    QAction* m_closeWindowAction = nullptr;
    QAction* m_searchWindowAction = nullptr;
    QAction* m_optionsAction = nullptr;
    QAction* m_autoLocateAction = nullptr;
    QAction* m_identifyFileAction = nullptr;
    QAction* m_correctFileTypesAction = nullptr;
    QAction* m_checkFilesExistAction = nullptr;
    QAction* m_clearBrowserCacheAction = nullptr;

public:

    // Transfer state shared by the scheduler, the transfers and the list commands.
    DownloadWindowState m_state;
    int& downloadMethod = m_state.downloadMethod;

    // The same-name policy chosen by the option buttons right now.
    SameNamePolicy sameNamePolicy() const;
    void setSameNamePolicy(SameNamePolicy p);
    // Plays a cue when "声音提示" is ticked.
    void cue(int number) override;

    // Refreshes the row count label and the counters panel.
    void refreshCounters();

    // The commands of the scheduler.
    void startDownloading();
    void stopDownloading();
    // Takes the method chosen in the options dialog: the caption, and the
    // thread count (method two only; from "1" when switching to it).
    void showDownloadMethod(int method, bool switching);
    // 切换: switches between method one and method two.
    void switchDownloadMethod();

    // --- list commands ----------------------------------------------------------
    // Selected rows (0-based, list order) and the row the single-row commands
    // act on (the current row when selected, else the first selected; -1: none).
    std::vector<int> selectedRows() const;
    int selectedItemRow() const;
    // The selected row's file, or "" after telling the user it does not exist.
    QString selectedExistingFile();
    void selectAllRows();
    void selectNoRows();
    // 随机排序列表(打乱); shuffleRandom (1..remaining) replaces the random source.
    void shuffleRows();  // 随机排序列表
    std::function<int(int)> shuffleRandom;
    void autoSizeListColumns();
    void redownload(RedownloadFilter filter);
    // 文件大小小于指定数字的项: asks for the number first.
    void redownloadSmallFiles();
    void removeSelectedRows();
    void removeRowsInState(DownloadState state);
    void clearAllRows();
    void deleteFiles(DeleteFilter filter);
    void cancelSelectedRows();
    // A click on a column header.
    void sortByColumn(int column);
    bool sortDescending() const { return m_sortDescending; }
    // Enables the list menu's items for a right-click (the sorting guard).
    void prepareListMenu();

    // --- opening, exporting, addresses -------------------------------------------
    void openDownloadedFile(const QString& path);
    void openSelectedFile();      // 打开下载文件
    void openContainingFolder();  // 打开所在文件夹
    void openInTextEditor();      // 用记事本打开文件
    void copySelectedName();      // 复制名称
    void openSelectedAddress();   // 打开网址
    void exportNames(bool onlyUnfinished);
    // Opens UrlReplaceDialog modally; tests call UrlReplaceDialog directly.
    void replaceAddresses();  // 批量替换网址
    void rowDoubleClicked(int row);
    void rowClicked(int row);
    void statusPanelClicked(int panel);

    // --- DownloadHost ---------------------------------------------------------
    DownloadOptions options() const override;
    void fileStarted(const QString& name) override;
    void fileFinished(const QString& name) override;
    // The connection panel; the login page's title shows there too.
    void connectionStateChanged(const QString& text) override;
    void countersChanged() override;
    void scrollToRow(int row) override;
    void clearAutoOptions() override;
    void setStartEnabled(bool enabled) override;
    void setRunningIndicator(bool on) override;
    void transferEnded(int row) override;

    // Asks whether to bring back the rows the last window left unfinished
    // (once per window, when it is first shown).
    void offerUnfinishedRows();
    // The total progress bar and its text, and the hint at 网页登录 once a
    // run has ended with web pages; on every counter refresh.
    void updateTotalProgress();

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void load();
    void buildMenus();
    void showMethod();
    // Runs a walk over the list with its view frozen, redrawn once afterwards.
    template <typename F>
    void frozen(F&& walk);
    void showRowCount();
    enum StatusPanel { CurrentFilePanel = 2, ConnectionPanel = 3, CountersPanel = 4 };
    void showStatus(StatusPanel panel, const QString& text);
    // Status texts and row repaints during a run: the first change shows at
    // once, later ones within the same short window are shown together when
    // it ends, so that thousands of small files do not repaint the window
    // for every file and every progress step.
    void rowsChanged(int first, int last);
    void flushDisplay();

    bool m_sortDescending = true;  // the first header click sorts ascending

    DownloadListModel* m_list = nullptr;
    DownloadScheduler* m_scheduler = nullptr;
    TransferMonitor* m_monitor = nullptr;
    QTimer* m_displayTimer = nullptr;
    bool m_rowUpdatesHeld = false;  // the view's own dataChanged connection is replaced
    QString m_pendingStatus[5];
    bool m_statusPending[5] = {};
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;

    // Saves the unfinished rows for the next window. With ask, a failure to
    // write asks whether to close anyway; false: keep the window open.
    bool saveUnfinishedRows(bool ask);
    void pointAtLogin(int pages);

    bool m_unfinishedOffered = false;
    bool m_closed = false;
    bool m_loginPointed = false;  // for the run that ended last
    TransferRate m_rate;
};

} // namespace dh
