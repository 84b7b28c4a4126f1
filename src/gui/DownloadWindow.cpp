#include "gui/DownloadWindow.h"
#include "gui/CommandKeys.h"

#include "app/AppInfo.h"
#include "download/TypeCorrection.h"
#include "gui/IdentifyFileDialog.h"
#include "gui/LoginPanel.h"
#include "gui/OptionsDialog.h"
#include "gui/SearchWindow.h"
#include "ports/Sound.h"
#include "app/WindowRegistry.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/MethodOneTransfer.h"
#include "download/TransferMonitor.h"
#include "download/UnfinishedList.h"
#include "gui/DesktopIntegration.h"
#include "gui/ElidedLabel.h"
#include "gui/FlowLayout.h"
#include "gui/StateIcons.h"
#include "gui/Windows.h"
#include "ports/Prompter.h"
#include "ports/Shell.h"
#include "app/Helpers.h"
#include "download/ListOperations.h"
#include "gui/UrlReplaceDialog.h"
#include "gui/CacheWiring.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QProgressBar>
#include <QShowEvent>
#include <QUrl>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QFontMetrics>
#include <QCloseEvent>
#include <QMenuBar>
#include <QRadioButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <chrono>

namespace dh {

namespace {

// scheme://host[:port] of an address, where the login form usually is.
QString siteOf(const QString& url)
{
    const QUrl u(url);
    if (!u.isValid() || u.host().isEmpty())
        return {};
    return u.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toString(QUrl::FullyEncoded);
}

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

DownloadWindow::DownloadWindow(QWidget* parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    WindowRegistry::add(QStringLiteral("fFileDownload"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("文件批量下载")));

    installStateIcons();
    m_list = new DownloadListModel(this);

    auto* central = new QWidget(this);
    auto* lay = new QVBoxLayout(central);
    // Wraps onto further rows on a narrow window rather than cutting captions.
    auto* top = new FlowLayout(nullptr, 6);
    m_methodLabel = new QLabel(central);
    top->addWidget(m_methodLabel);
    m_switchMethodButton = new QPushButton(QStringLiteral("切换"), central);
    m_switchMethodButton->setToolTip(QStringLiteral("更改下载方式"));
    top->addWidget(m_switchMethodButton);
    top->addWidget(new QLabel(QStringLiteral("线程数："), central));
    m_transferCountCombo = new QComboBox(central);
    for (int i = 1; i <= 6; ++i)
        m_transferCountCombo->addItem(QString::number(i));
    top->addWidget(m_transferCountCombo);
    top->addWidget(new QLabel(QStringLiteral("两个文件下载间隔："), central));
    m_pauseCombo = new QComboBox(central);
    top->addWidget(m_pauseCombo);
    top->addWidget(new QLabel(QStringLiteral("秒"), central));
    top->addWidget(new QLabel(sameNamePolicyLabel(), central));
    m_skipExistingRadio = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Skip), central);
    m_overwriteRadio = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Overwrite), central);
    m_renameRadio = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Rename), central);
    top->addWidget(m_skipExistingRadio);
    top->addWidget(m_overwriteRadio);
    top->addWidget(m_renameRadio);
    m_soundCheck = new QCheckBox(QStringLiteral("声音提示"), central);
    top->addWidget(m_soundCheck);
    top->addStretch();
    m_rowCountLabel = new QLabel(QStringLiteral("0条"), central);
    top->addWidget(m_rowCountLabel);
    lay->addLayout(top);

    auto* run = new QHBoxLayout();
    m_startButton = new QPushButton(QStringLiteral("开始下载"), central);
    m_stopButton = new QPushButton(QStringLiteral("停止下载"), central);
    m_runningIndicator = new QLabel(central);
    m_runningIndicator->setFixedSize(14, 14);
    m_runningIndicator->setStyleSheet(QStringLiteral("background-color: #2e9d4f; border-radius: 7px;"));
    m_runningIndicator->setToolTip(QStringLiteral("正在下载"));
    m_runningIndicator->hide();
    run->addWidget(m_startButton);
    run->addWidget(m_stopButton);
    run->addWidget(m_runningIndicator);
    run->addSpacing(16);
    m_autoStartCheck = new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"), central);
    m_autoRedownloadCheck = new QCheckBox(QStringLiteral("自动重新下载："), central);
    m_redownloadChoiceCombo = new QComboBox(central);
    m_redownloadChoiceCombo->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});
    m_stopAfterBadRowsCheck = new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"), central);
    run->addWidget(m_autoStartCheck);
    run->addStretch(1);
    lay->addLayout(run);
    auto* automatic = new QHBoxLayout();
    automatic->addWidget(m_autoRedownloadCheck);
    automatic->addWidget(m_redownloadChoiceCombo);
    automatic->addSpacing(16);
    automatic->addWidget(m_stopAfterBadRowsCheck);
    automatic->addStretch(1);
    lay->addLayout(automatic);

    m_downloadsView = new QTreeView(central);
    m_downloadsView->setObjectName(QStringLiteral("downloadsView"));  // looked up by the hand-over benchmark
    m_downloadsView->setAccessibleName(QStringLiteral("下载列表"));
    m_downloadsView->setRootIsDecorated(false);
    m_downloadsView->setUniformRowHeights(true);
    m_downloadsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_downloadsView->setModel(m_list);
    // Names are not edited in place.
    m_downloadsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_downloadsView->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    m_downloadsView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_downloadsView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        prepareListMenu();
        m_listMenu->popup(m_downloadsView->viewport()->mapToGlobal(pos));
    });
    connect(m_downloadsView, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& i) { rowDoubleClicked(i.row()); });
    connect(m_downloadsView, &QAbstractItemView::clicked, this, [this](const QModelIndex& i) { rowClicked(i.row()); });
    m_downloadsView->header()->setSectionsClickable(true);
    connect(m_downloadsView->header(), &QHeaderView::sectionClicked, this, &DownloadWindow::sortByColumn);
    // New rows (a hand-over) refit the columns once the burst has settled.
    auto* fitColumns = new QTimer(this);
    fitColumns->setSingleShot(true);
    fitColumns->setInterval(200);
    connect(fitColumns, &QTimer::timeout, this, [this] {
        autoSizeColumns(m_downloadsView);
        // Progress cells are still empty when rows arrive: leave room for what they will show.
        const QFontMetrics fm(m_downloadsView->font());
        const struct {
            int column;
            const char* sample;
        } room[] = {{DownloadListModel::ColType, "html"},
                    {DownloadListModel::ColSize, "大文件，跳过"},
                    {DownloadListModel::ColReceived, "9999999999"},
                    {DownloadListModel::ColProgress, "已存在，跳过"}};
        for (const auto& r : room) {
            const int w = fm.horizontalAdvance(QString::fromUtf8(r.sample)) + 16;
            if (m_downloadsView->columnWidth(r.column) < w)
                m_downloadsView->setColumnWidth(r.column, w);
        }
        m_rowCountLabel->setText(m_list->rowCountText());
    });
    connect(m_list, &QAbstractItemModel::rowsInserted, fitColumns, qOverload<>(&QTimer::start));
    m_downloadsView->header()->setStretchLastSection(true);
    stripeListRows(m_downloadsView);
    m_displayTimer = new QTimer(this);
    m_displayTimer->setSingleShot(true);
    m_displayTimer->setInterval(timings().displayHold);
    connect(m_displayTimer, &QTimer::timeout, this, &DownloadWindow::flushDisplay);
    // The view repaints changed rows through this window rather than on every
    // change of the model (other model signals still reach it directly).
    m_rowUpdatesHeld = QObject::disconnect(m_list, SIGNAL(dataChanged(QModelIndex,QModelIndex,QList<int>)), m_downloadsView,
                                           SLOT(dataChanged(QModelIndex,QModelIndex,QList<int>)));
    if (m_rowUpdatesHeld) {
        connect(m_list, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& tl, const QModelIndex& br) { rowsChanged(tl.row(), br.row()); });
        // Rows that move or go take their pending repaint with them: the
        // whole visible list is repainted anyway.
        const auto forget = [this] { m_dirtyFirst = m_dirtyLast = -1; };
        connect(m_list, &QAbstractItemModel::modelReset, this, forget);
        connect(m_list, &QAbstractItemModel::layoutChanged, this, forget);
        connect(m_list, &QAbstractItemModel::rowsRemoved, this, forget);
    }
    lay->addWidget(m_downloadsView, 1);

    // The whole list's progress under it, in a row of its own: beside the
    // status bar's panels it was cut off on any window narrower than a screen.
    auto* totals = new FlowLayout(nullptr, 8);
    m_totalProgressBar = new QProgressBar(central);
    m_totalProgressBar->setFormat(QStringLiteral("0/0"));
    m_totalProgressBar->setFixedWidth(160);
    m_totalProgressBar->setRange(0, 1);
    m_totalProgressBar->setValue(0);
    m_totalProgressLabel = new QLabel(central);
    m_loginHintLabel = new QLabel(central);
    m_loginHintLabel->setStyleSheet(QStringLiteral("color: #b36b00;"));
    m_loginHintLabel->hide();
    totals->addWidget(m_totalProgressBar);
    totals->addWidget(m_totalProgressLabel);
    totals->addWidget(m_loginHintLabel);
    lay->addLayout(totals);
    setCentralWidget(central);

    // A long path or status must not widen the window past a small screen.
    for (int i = 1; i <= 4; ++i) {
        m_statusPanels[i] = new ElidedLabel(i == CurrentFilePanel ? Qt::ElideMiddle : Qt::ElideRight, this);
        // The first panel says nothing: the room goes to the file and the connection.
        statusBar()->addWidget(m_statusPanels[i], i == CurrentFilePanel || i == ConnectionPanel ? 1 : 0);
    }
    m_statusPanels[2]->installEventFilter(this);

    // The engine: the scheduler wires the state's live sources (transfer
    // controls, method one's busy flag, the scheduler timer) to itself.
    m_scheduler = new DownloadScheduler(*m_list, m_state, *this, this);
    m_monitor = new TransferMonitor(*m_list, m_state, *m_scheduler, *this, this);
    m_schedulerTimer = m_scheduler->timer();
    m_monitorTimer = m_monitor->timer();
    m_loginRefreshTimer = new QTimer(this);

    connect(m_startButton, &QPushButton::clicked, this, &DownloadWindow::startDownloading);
    connect(m_stopButton, &QPushButton::clicked, this, &DownloadWindow::stopDownloading);
    connect(m_switchMethodButton, &QPushButton::clicked, this, &DownloadWindow::switchDownloadMethod);
    buildMenus();
    load();
    m_loginPanel = attachLoginPanel(this);
    // Quitting the program skips closeEvent: the unfinished rows are kept all the same.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!m_closed)
            saveUnfinishedRows(false);
        m_list->discardPartials();  // bodies kept for a resume live as long as the run
    });
}

DownloadWindow::~DownloadWindow()
{
    // The engine refers to the state and to this window as its host: it goes first.
    delete m_monitor;
    m_monitor = nullptr;
    delete m_scheduler;
    m_scheduler = nullptr;
}

void DownloadWindow::showDownloadMethod(int method, bool switching)
{
    downloadMethod = method;
    m_methodLabel->setText(QStringLiteral("下载方式：%1").arg(method));
    m_transferCountCombo->setEnabled(method == 2);
    if (method == 2 && switching)
        m_transferCountCombo->setCurrentIndex(m_transferCountCombo->findText(QStringLiteral("1")));
}

void DownloadWindow::buildMenus()
{
    m_listMenu = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    auto add = [this](QMenu* m, const char* caption, auto slot) {
        QAction* a = m->addAction(QString::fromUtf8(caption));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* m = m_listMenu;
    m_selectAllAction = add(m, "全选", [this] { selectAllRows(); });
    m_selectNoneAction = add(m, "全不选", [this] { selectNoRows(); });
    m->addSeparator();
    m_shuffleAction = add(m, "随机排序列表(打乱)", [this] { shuffleRows(); });
    m_autoColumnWidthAction = add(m, "自动调整列宽", [this] { autoSizeListColumns(); });
    m->addSeparator();
    m_redownloadMenu = m->addMenu(QStringLiteral("重新下载"));
    m_redownloadSelectedAction = add(m_redownloadMenu, "选中项", [this] { redownload(RedownloadFilter::Selected); });
    m_redownloadFailedAction = add(m_redownloadMenu, "出错项", [this] { redownload(RedownloadFilter::Failed); });
    m_redownloadPagesAction =
        add(m_redownloadMenu, "网页类型文件(HTM/HTML/xml)项", [this] { redownload(RedownloadFilter::WebPages); });
    m_redownloadFailedAndPagesAction = add(m_redownloadMenu, "重新下载出错项和网页类型文件项",
                                     [this] { redownload(RedownloadFilter::FailedAndWebPages); });
    m_redownloadSmallFilesAction =
        add(m_redownloadMenu, "文件大小小于指定数字的项", [this] { redownloadSmallFiles(); });
    m_removeMenu = m->addMenu(QStringLiteral("清除"));
    m_removeSelectedAction = add(m_removeMenu, "选中项", [this] { removeSelectedRows(); });
    m_removeFailedAction = add(m_removeMenu, "全部出错项", [this] { removeRowsInState(DownloadState::Failed); });
    m_removeFinishedAction = add(m_removeMenu, "完成项", [this] { removeRowsInState(DownloadState::Done); });
    m_removeAllAction = add(m, "清空", [this] { clearAllRows(); });
    m_deleteMenu = m->addMenu(QStringLiteral("删除文件"));
    m_deletePageFilesAction =
        add(m_deleteMenu, "网页类型文件(HTM/HTML/xml)项", [this] { deleteFiles(DeleteFilter::WebPages); });
    m_deleteFailedFilesAction = add(m_deleteMenu, "出错项", [this] { deleteFiles(DeleteFilter::Failed); });
    m->addSeparator();
    m_startAction = add(m, "开始下载", [this] { startDownloading(); });
    m_stopAction = add(m, "停止下载", [this] { stopDownloading(); });
    m_cancelSelectedAction = add(m, "取消下载选中项", [this] { cancelSelectedRows(); });
    m->addSeparator();
    m_openFileAction = add(m, "打开下载文件", [this] { openSelectedFile(); });
    m_openFolderAction = add(m, "打开所在文件夹", [this] { openContainingFolder(); });
    m_openInEditorAction = add(m, "用记事本打开文件", [this] { openInTextEditor(); });
    m_copyNameAction = add(m, "复制名称", [this] { copySelectedName(); });
    m_replaceAddressesAction = add(m, "批量替换网址", [this] { replaceAddresses(); });
    m_openAddressAction = add(m, "打开网址", [this] { openSelectedAddress(); });
    m_exportNamesMenu = m->addMenu(QStringLiteral("导出名称"));
    m_exportAllNamesAction = add(m_exportNamesMenu, "全部", [this] { exportNames(false); });
    m_exportUnfinishedNamesAction = add(m_exportNamesMenu, "未完成项", [this] { exportNames(true); });
    m->addSeparator();
    m_closeWindowAction = add(m, "关闭本下载窗口", [this] { close(); });

    // The keyboard's way through the list: the same start key as the search
    // window's batch, and the platform's own keys for what has one. Keys that
    // line edits use too (select all, copy, delete) act only in the list.
    m_startAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    m_startAction->setShortcutContext(Qt::WindowShortcut);
    keepCommandKeys(this, {m_startAction});
    const auto listKey = [this](QAction* a, QKeySequence::StandardKey key) {
        a->setShortcuts(key);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_downloadsView->addAction(a);
    };
    listKey(m_selectAllAction, QKeySequence::SelectAll);
    listKey(m_removeSelectedAction, QKeySequence::Delete);
    listKey(m_copyNameAction, QKeySequence::Copy);

    QMenu* win = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    m_searchWindowAction = win->addAction(QStringLiteral("资料检索分析窗口"));
    connect(m_searchWindowAction, &QAction::triggered, this, [] {
        SearchWindow* w = windows::search();
        w->show();
        w->raise();
        w->activateWindow();
    });
    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    m_optionsAction = tools->addAction(QStringLiteral("设置"));
    connect(m_optionsAction, &QAction::triggered, this, [this] { showOptionsDialog(this); });
    tools->addSeparator();
    m_autoLocateAction = tools->addAction(QStringLiteral("自动定位到下载项"));
    m_autoLocateAction->setCheckable(true);
    m_autoLocateAction->setChecked(false);
    m_checkFilesExistAction = tools->addAction(QStringLiteral("检查文件是否存在"));
    connect(m_checkFilesExistAction, &QAction::triggered, this, [this] { checkFilesExist(*m_list); });
    m_correctFileTypesAction = tools->addAction(QStringLiteral("检查并纠正磁盘文件类型"));
    connect(m_correctFileTypesAction, &QAction::triggered, this, [this] {
        correctFileTypesOnDisk(*m_list, m_state, Prompter::instance());
        // A renamed file may have turned out a web page, or a page a document.
        m_list->settleAllRows();
        refreshCounters();
    });
    m_clearBrowserCacheAction = tools->addAction(QStringLiteral("清空IE浏览器缓存"));
    connect(m_clearBrowserCacheAction, &QAction::triggered, this, [] { clearBrowserCache(true); });
    m_identifyFileAction = tools->addAction(QStringLiteral("打开文件判断类型"));
    connect(m_identifyFileAction, &QAction::triggered, this, [this] { runIdentifyFileCommand(this); });

    // The search window has one; a user of this window looks for it here too.
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    connect(help->addAction(QStringLiteral("关于(&A)")), &QAction::triggered, this, [] { windows::showAbout(); });
}

SameNamePolicy DownloadWindow::sameNamePolicy() const
{
    if (m_skipExistingRadio->isChecked())
        return SameNamePolicy::Skip;
    if (m_overwriteRadio->isChecked())
        return SameNamePolicy::Overwrite;
    return SameNamePolicy::Rename;
}

void DownloadWindow::setSameNamePolicy(SameNamePolicy p)
{
    (p == SameNamePolicy::Skip ? m_skipExistingRadio : p == SameNamePolicy::Overwrite ? m_overwriteRadio : m_renameRadio)->setChecked(true);
}

void DownloadWindow::cue(int number)
{
    if (m_soundCheck->isChecked())
        playCue(number, dataFolder());
}

void DownloadWindow::load()
{
    auto& st = SettingsStore::instance();
    fitDropDownWidth(m_redownloadChoiceCombo);
    m_redownloadChoiceCombo->setCurrentIndex(0);
    m_state.markTransferEvent();
    m_list->clear();
    downloadMethod = DownloadWindowState::downloadMethodFromSettings(st);
    m_methodLabel->setText(QStringLiteral("下载方式：") + QString::number(downloadMethod));
    m_transferCountCombo->setCurrentIndex(0);
    if (downloadMethod == 1) {
        m_transferCountCombo->setEnabled(false);
    } else {
        const int t = st.getInt(keys::threadIndex);
        m_transferCountCombo->setCurrentIndex(t >= 0 && t < 6 ? t : 2);
        m_transferCountCombo->setEnabled(true);
    }
    setSameNamePolicy(loadSameNamePolicy(st));
    m_scheduler->loadSettings(st);
    // Centred at its default size first: that is where it comes back to from
    // the maximised first start.
    placeWindow(this, QSize(1000, 667));
    restoreWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    for (int i = 0; i <= 600; ++i)
        m_pauseCombo->addItem(QString::number(i));
    m_pauseCombo->setCurrentIndex(0);
    m_schedulerTimer->setInterval(timings().tick);
    m_monitorTimer->setInterval(timings().tick);
    m_monitor->start();
    refreshCounters();
}

void DownloadWindow::startDownloading()
{
    m_scheduler->startDownloading();
}

void DownloadWindow::stopDownloading()
{
    m_scheduler->stopDownloading();
}

void DownloadWindow::switchDownloadMethod()
{
    // Running transfers go on; the next tick uses the new method.
    downloadMethod = downloadMethod == 2 ? 1 : 2;
    showMethod();
}

void DownloadWindow::showMethod()
{
    m_methodLabel->setText(QStringLiteral("下载方式：") + QString::number(downloadMethod));
    m_transferCountCombo->setCurrentIndex(0);
    m_transferCountCombo->setEnabled(downloadMethod != 1);
}

DownloadOptions DownloadWindow::options() const
{
    DownloadOptions o;
    o.pauseSeconds = m_pauseCombo->currentText().toInt();
    o.slotCount = m_transferCountCombo->currentText().toInt();
    o.autoLocate = m_autoLocateAction->isChecked();
    o.sameNamePolicy = sameNamePolicy();
    o.autoStart = m_autoStartCheck->isChecked();
    o.autoRedownload = m_autoRedownloadCheck->isChecked();
    o.redownloadChoice = RedownloadChoice(std::clamp(m_redownloadChoiceCombo->currentIndex(), 0, 2));
    o.errorStop = m_stopAfterBadRowsCheck->isChecked();
    return o;
}

void DownloadWindow::scrollToRow(int row)
{
    m_downloadsView->scrollTo(m_list->index(row, 0));
}

void DownloadWindow::fileStarted(const QString& name)
{
    showStatus(CurrentFilePanel, QStringLiteral("正在下载:") + name);
}

void DownloadWindow::fileFinished(const QString& name)
{
    showStatus(CurrentFilePanel, QStringLiteral("完成下载:") + name);
}

void DownloadWindow::connectionStateChanged(const QString& text)
{
    showStatus(ConnectionPanel, text);
}

void DownloadWindow::countersChanged()
{
    // The counters come with every monitor tick: the total progress follows them.
    updateTotalProgress();
    showStatus(CountersPanel, m_list->updateListCounters());
}

void DownloadWindow::showStatus(StatusPanel panel, const QString& text)
{
    if (m_displayTimer->isActive()) {
        m_pendingStatus[panel] = text;
        m_statusPending[panel] = true;
        return;
    }
    m_statusPending[panel] = false;
    m_statusPanels[panel]->setText(text);
    m_displayTimer->start();
}

void DownloadWindow::transferEnded(int row)
{
    m_list->settleRow(row);
}

void DownloadWindow::updateTotalProgress()
{
    const DownloadListModel::Totals t = m_list->totals();
    const bool running = m_scheduler && m_scheduler->running();
    if (running)
        m_rate.add(steadyMs(), t.received);
    else
        m_rate.reset();
    // The range never shrinks to 0..0, which would draw a busy bar; the text
    // says the real counts, 0/0 for an empty list included.
    m_totalProgressBar->setMaximum(std::max(1, t.rows));
    m_totalProgressBar->setValue(t.ended());
    m_totalProgressBar->setFormat(QStringLiteral("%1/%2").arg(t.ended()).arg(t.rows));
    m_totalProgressLabel->setText(totalProgressText(t, running, m_rate.bytesPerSecond()));
    const int pages = t.count(DownloadState::Page);
    if (running || pages == 0) {
        m_loginPointed = false;
        m_loginHintLabel->hide();
    } else if (!m_loginPointed) {
        m_loginPointed = true;
        pointAtLogin(pages);
    }
}

void DownloadWindow::pointAtLogin(int pages)
{
    m_loginHintLabel->setText(QStringLiteral("%1 个网页不是文档，请先“网页登录”").arg(pages));
    m_loginHintLabel->setToolTip(
        QStringLiteral("网站给出了网页（多半是登录页）而不是文档：点“网页登录”登录网站，再重新下载网页类型文件项"));
    m_loginHintLabel->show();
    if (!m_loginPanel || !m_loginPanel->m_addressEdit->text().trimmed().isEmpty())
        return;
    for (int i = 0; i < m_list->size(); ++i) {
        if (m_list->item(i).state != DownloadState::Page)
            continue;
        const QString site = siteOf(m_list->item(i).url);
        if (!site.isEmpty()) {
            m_loginPanel->m_addressEdit->setText(site);
            return;
        }
    }
}

void DownloadWindow::rowsChanged(int first, int last)
{
    if (m_displayTimer->isActive()) {
        m_dirtyFirst = m_dirtyFirst < 0 ? first : std::min(m_dirtyFirst, first);
        m_dirtyLast = std::max(m_dirtyLast, last);
        return;
    }
    m_downloadsView->dataChanged(m_list->index(first, 0), m_list->index(last, DownloadListModel::ColumnCount - 1));
    m_displayTimer->start();
}

void DownloadWindow::flushDisplay()
{
    bool shown = false;
    for (int panel = 1; panel <= 4; ++panel) {
        if (!m_statusPending[panel])
            continue;
        m_statusPending[panel] = false;
        m_statusPanels[panel]->setText(m_pendingStatus[panel]);
        shown = true;
    }
    const int last = std::min(m_dirtyLast, m_list->rowCount() - 1);
    if (m_dirtyFirst >= 0 && m_dirtyFirst <= last) {
        m_downloadsView->dataChanged(m_list->index(m_dirtyFirst, 0),
                               m_list->index(last, DownloadListModel::ColumnCount - 1));
        shown = true;
    }
    m_dirtyFirst = m_dirtyLast = -1;
    // Changes keep coming: hold the next ones for another window.
    if (shown)
        m_displayTimer->start();
}

void DownloadWindow::clearAutoOptions()
{
    m_autoStartCheck->setChecked(false);
    m_autoRedownloadCheck->setChecked(false);
}

void DownloadWindow::setStartEnabled(bool enabled)
{
    m_startAction->setEnabled(enabled);
}

void DownloadWindow::setRunningIndicator(bool on)
{
    m_runningIndicator->setVisible(on);
}

void DownloadWindow::refreshCounters()
{
    m_statusPending[CountersPanel] = false;
    m_statusPanels[CountersPanel]->setText(m_list->updateListCounters());
    updateTotalProgress();
}

void DownloadWindow::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        m_rowCountLabel->setText(m_list->rowCountText());
    QMainWindow::changeEvent(e);
}

void DownloadWindow::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!m_unfinishedOffered && !e->spontaneous())
        offerUnfinishedRows();
}

void DownloadWindow::offerUnfinishedRows()
{
    if (m_unfinishedOffered)
        return;
    m_unfinishedOffered = true;
    const QString file = unfinishedListFile();
    if (!QFile::exists(file))
        return;
    std::vector<DownloadItem> rows = readUnfinishedList(file);
    // Rows a hand-over brought in the meantime are not offered twice.
    std::erase_if(rows, [this](const DownloadItem& it) { return m_list->containsUrl(it.url); });
    if (!rows.empty()
        && Prompter::instance().question(QStringLiteral("恢复上次未完成的 %1 个下载？").arg(rows.size()))) {
        m_list->addItems(rows);
        showRowCount();
        refreshCounters();
    }
    QFile::remove(file);
}

bool DownloadWindow::saveUnfinishedRows(bool ask)
{
    std::vector<DownloadItem> rows = unfinishedRows(*m_list);
    const QString file = unfinishedListFile();
    if (!m_unfinishedOffered) {
        // The last window's rows were never offered: they stay, with these.
        for (DownloadItem& it : readUnfinishedList(file)) {
            if (!m_list->containsUrl(it.url))
                rows.push_back(std::move(it));
        }
    }
    if (rows.empty())
        return true;
    const auto err = writeUnfinishedList(file, rows);
    if (!err || !ask)
        return true;
    return Prompter::instance().question(QStringLiteral("无法保存未完成的 %1 个下载：%2\n仍要关闭窗口吗？")
                                             .arg(rows.size())
                                             .arg(*err));
}

void DownloadWindow::closeEvent(QCloseEvent* e)
{
    auto& st = SettingsStore::instance();
    saveSameNamePolicy(st, sameNamePolicy());
    st.save(keys::downloadMethod, QString::number(downloadMethod));
    const bool busy = m_state.stillExecuting() || m_state.activeTransfers() > 0 || m_schedulerTimer->isActive()
        || !m_list->isListFinished();
    if (busy
        && !Prompter::instance().question(
            QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？\n有 %1 个下载没有完成：它们会保存下来，"
                           "下次打开本窗口时可以恢复。")
                .arg(m_list->countUnfinished()))) {
        e->ignore();
        return;
    }
    // Kept before the stop, which turns the running rows into failures.
    if (!saveUnfinishedRows(true)) {
        e->ignore();
        return;
    }
    m_closed = true;
    m_monitorTimer->stop();
    m_schedulerTimer->stop();
    m_loginRefreshTimer->stop();
    stopDownloading();
    m_scheduler->methodOne().cancel();
    m_list->discardPartials();  // bodies kept for a resume live as long as the window
    saveWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    st.save(keys::threadIndex, QString::number(m_transferCountCombo->currentIndex()));
    windows::coverBackIfLastMainWindow("fFileDownload");
    e->accept();
}

// --- list commands ----------------------------------------------------------------

template <typename F>
void DownloadWindow::frozen(F&& walk)
{
    // One redraw for the whole walk instead of one per changed row.
    m_downloadsView->setUpdatesEnabled(false);
    walk();
    m_downloadsView->setUpdatesEnabled(true);
}

void DownloadWindow::showRowCount()
{
    m_rowCountLabel->setText(m_list->rowCountText());
}

std::vector<int> DownloadWindow::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& i : m_downloadsView->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int DownloadWindow::selectedItemRow() const
{
    const QModelIndex cur = m_downloadsView->currentIndex();
    if (cur.isValid() && m_downloadsView->selectionModel()->isRowSelected(cur.row(), {}))
        return cur.row();
    const std::vector<int> rows = selectedRows();
    return rows.empty() ? -1 : rows.front();
}

void DownloadWindow::selectAllRows()
{
    m_downloadsView->selectAll();
}

void DownloadWindow::selectNoRows()
{
    m_downloadsView->clearSelection();
}

void DownloadWindow::shuffleRows()
{
    if (!m_state.pass(BusyGuard::ListChanges))
        return;
    frozen([this] { shuffleList(*m_list, shuffleRandom); });
    Prompter::instance().message(QStringLiteral("随机排序完成！"), MessageIcon::Information);
}

void DownloadWindow::autoSizeListColumns()
{
    autoSizeColumns(m_downloadsView);
    stripeListRows(m_downloadsView);
}

void DownloadWindow::redownload(RedownloadFilter filter)
{
    const std::vector<int> selected = selectedRows();
    frozen([&] { redownloadRows(*m_list, filter, selected); });
}

void DownloadWindow::redownloadSmallFiles()
{
    const auto answer = Prompter::instance().input(QStringLiteral("请输入数字："), QString(), QString());
    if (!answer)
        return;
    const auto limit = parseNumber(*answer);
    if (!limit)
        return;
    frozen([&] { redownloadRows(*m_list, RedownloadFilter::SmallComplete, {}, *limit); });
}

void DownloadWindow::removeSelectedRows()
{
    if (!m_state.pass(BusyGuard::ListChanges))
        return;
    if (m_list->size() == 0)
        return;
    const std::vector<int> rows = selectedRows();
    frozen([&] { removeRows(*m_list, rows); });
    showRowCount();
}

void DownloadWindow::removeRowsInState(DownloadState state)
{
    if (!m_state.pass(BusyGuard::ListChanges))
        return;
    if (m_list->size() == 0)
        return;
    frozen([&] { removeRows(*m_list, rowsInState(*m_list, state)); });
    showRowCount();
}

void DownloadWindow::clearAllRows()
{
    if (!m_state.pass(BusyGuard::ListChanges))
        return;
    if (!Prompter::instance().question(QStringLiteral("您确定要清空列表的所有信息吗？")))
        return;
    m_list->clear();
    showRowCount();
}

void DownloadWindow::deleteFiles(DeleteFilter filter)
{
    frozen([&] { deleteFilesOfRows(*m_list, filter); });
}

void DownloadWindow::cancelSelectedRows()
{
    if (!m_state.pass(BusyGuard::Cancelling))
        return;
    const std::vector<int> rows = selectedRows();
    frozen([&] { cancelWaitingRows(*m_list, rows); });
}

void DownloadWindow::sortByColumn(int column)
{
    if (!m_state.pass(BusyGuard::Sorting))
        return;
    // One direction for the whole list: every click flips it.
    m_sortDescending = !m_sortDescending;
    frozen([&] { sortList(*m_list, column, m_sortDescending); });
}

void DownloadWindow::prepareListMenu()
{
    const bool busy = m_state.refuses(BusyGuard::Sorting);
    m_removeMenu->menuAction()->setEnabled(!busy);
    m_removeAllAction->setEnabled(!busy);
    m_selectAllAction->setEnabled(!busy);
    m_stopAction->setEnabled(busy);
}

// --- opening, exporting, addresses -------------------------------------------------------

void DownloadWindow::openDownloadedFile(const QString& path)
{
    if (!fileExists(path)) {
        Prompter::instance().message(QStringLiteral("文件不存在！"), MessageIcon::Error);
        return;
    }
    Shell::instance().openFile(path);
}

QString DownloadWindow::selectedExistingFile()
{
    const int row = selectedItemRow();
    if (row < 0)
        return {};
    const QString path = itemFilePath(m_list->item(row));
    if (!fileExists(path)) {
        Prompter::instance().message(QStringLiteral("该文件不存在！"), MessageIcon::Error);
        return {};
    }
    return path;
}

void DownloadWindow::openSelectedFile()
{
    const QString path = selectedExistingFile();
    if (path.isEmpty())
        return;
    openDownloadedFile(path);
}

void DownloadWindow::openContainingFolder()
{
    const int row = selectedItemRow();
    if (row < 0)
        return;
    const DownloadItem& it = m_list->item(row);
    if (!folderExists(it.folder)) {
        Prompter::instance().message(QStringLiteral("文件夹不存在！"), MessageIcon::Error);
        return;
    }
    const QString path = itemFilePath(it);
    if (!fileExists(path)) {
        Shell::instance().openFolder(it.folder);
        return;
    }
    if (!Shell::instance().showInFolder(path))
        Prompter::instance().message(QStringLiteral("打开失败！"), MessageIcon::Error);
}

void DownloadWindow::openInTextEditor()
{
    const QString path = selectedExistingFile();
    if (path.isEmpty())
        return;
    if (QFileInfo(path).size() > 2048LL * 1024) {
        Prompter::instance().message(QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！"),
                                     MessageIcon::Error);
        return;
    }
    Shell::instance().openAsText(path);
}

void DownloadWindow::copySelectedName()
{
    const int row = selectedItemRow();
    if (row < 0)
        return;
    QClipboard* cb = QGuiApplication::clipboard();
    cb->clear();
    cb->setText(m_list->item(row).name);
}

void DownloadWindow::openSelectedAddress()
{
    // The row's address in the web browser.
    const int row = selectedItemRow();
    if (row < 0)
        return;
    Shell::instance().openInBrowser(m_list->item(row).url);
}

void DownloadWindow::exportNames(bool onlyUnfinished)
{
    if (m_list->size() == 0)
        return;
    const QString file =
        Prompter::instance().saveFile(QStringLiteral("导出名称"), QString(), QStringLiteral("*.txt (*.txt)"));
    if (file.isEmpty())
        return;
    if (const auto err = writeExportFile(file, exportNamesText(*m_list, onlyUnfinished)))
        Prompter::instance().message(*err, MessageIcon::Error);
}

void DownloadWindow::replaceAddresses()
{
    // A running transfer finds its row by address: changing the addresses
    // under it would leave the row downloading for ever.
    if (!m_state.pass(BusyGuard::ListChanges))
        return;
    UrlReplaceDialog dlg(*m_list, this);
    dlg.exec();
}

void DownloadWindow::rowDoubleClicked(int row)
{
    if (row < 0 || row >= m_list->size())
        return;
    const DownloadItem& it = m_list->item(row);
    if (it.state == DownloadState::Done || it.state == DownloadState::Page)
        openDownloadedFile(itemFilePath(it));
    else if (it.state == DownloadState::Failed)
        resetFailedRowOnDoubleClick(*m_list, row);
}

void DownloadWindow::rowClicked(int row)
{
    if (row < 0 || row >= m_list->size())
        return;
    const QString path = itemFilePath(m_list->item(row));
    m_statusPending[CurrentFilePanel] = false;
    m_statusPanels[CurrentFilePanel]->setText(fileExists(path) ? path : QString());
}

void DownloadWindow::statusPanelClicked(int panel)
{
    if (panel != 2)
        return;
    const QString text = m_statusPanels[2]->text();
    if (!text.isEmpty())
        Shell::instance().openInBrowser(text);
}

bool DownloadWindow::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_statusPanels[2] && e->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
        statusPanelClicked(2);
    return QMainWindow::eventFilter(watched, e);
}

} // namespace dh
