#include "gui/fFileDownload.h"

#include "app/AppInfo.h"
#include "content/TypeCorrection.h"
#include "gui/IdentifyFileDialog.h"
#include "gui/LoginPanel.h"
#include "gui/fOption.h"
#include "gui/fWebSearch.h"
#include "platform/Sound.h"
#include "app/FormRegistry.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/MethodOneTransfer.h"
#include "download/TransferMonitor.h"
#include "gui/DesktopIntegration.h"
#include "gui/StateIcons.h"
#include "gui/Windows.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "app/Helpers.h"
#include "download/ListOperations.h"
#include "gui/UrlReplace.h"
#include "gui/CacheWiring.h"

#include <QCheckBox>
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
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace dh {

fFileDownload::fFileDownload(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fFileDownload"));
    setAttribute(Qt::WA_DeleteOnClose);
    FormRegistry::add(QStringLiteral("fFileDownload"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("文件批量下载")));

    installStateIcons();
    m_list = new DownloadListModel(this);

    auto* central = new QWidget(this);
    auto* lay = new QVBoxLayout(central);
    auto* top = new QHBoxLayout();
    Label7 = new QLabel(central);
    top->addWidget(Label7);
    Command26 = new QPushButton(QStringLiteral("切换"), central);
    Command26->setToolTip(QStringLiteral("更改下载方式"));
    top->addWidget(Command26);
    top->addWidget(new QLabel(QStringLiteral("线程数："), central));
    Combo1 = new QComboBox(central);
    for (int i = 1; i <= 6; ++i)
        Combo1->addItem(QString::number(i));
    top->addWidget(Combo1);
    top->addWidget(new QLabel(QStringLiteral("两个文件下载间隔："), central));
    Combo2 = new QComboBox(central);
    top->addWidget(Combo2);
    top->addWidget(new QLabel(QStringLiteral("秒"), central));
    top->addSpacing(16);
    top->addWidget(new QLabel(sameNamePolicyLabel(), central));
    Option1 = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Skip), central);
    Option2 = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Overwrite), central);
    Option3 = new QRadioButton(sameNamePolicyCaption(SameNamePolicy::Rename), central);
    top->addWidget(Option1);
    top->addWidget(Option2);
    top->addWidget(Option3);
    top->addSpacing(16);
    Check6 = new QCheckBox(QStringLiteral("声音提示"), central);
    top->addWidget(Check6);
    top->addStretch(1);
    Label1 = new QLabel(QStringLiteral("0条"), central);
    top->addWidget(Label1);
    lay->addLayout(top);

    auto* run = new QHBoxLayout();
    Command4 = new QPushButton(QStringLiteral("开始下载"), central);
    Command31 = new QPushButton(QStringLiteral("停止下载"), central);
    Shape1 = new QLabel(central);
    Shape1->setFixedSize(14, 14);
    Shape1->setStyleSheet(QStringLiteral("background-color: #2e9d4f; border-radius: 7px;"));
    Shape1->setToolTip(QStringLiteral("正在下载"));
    Shape1->hide();
    run->addWidget(Command4);
    run->addWidget(Command31);
    run->addWidget(Shape1);
    run->addSpacing(16);
    Check4 = new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"), central);
    Check3 = new QCheckBox(QStringLiteral("自动重新下载："), central);
    Combo4 = new QComboBox(central);
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});
    Check5 = new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"), central);
    run->addWidget(Check4);
    run->addStretch(1);
    lay->addLayout(run);
    auto* automatic = new QHBoxLayout();
    automatic->addWidget(Check3);
    automatic->addWidget(Combo4);
    automatic->addSpacing(16);
    automatic->addWidget(Check5);
    automatic->addStretch(1);
    lay->addLayout(automatic);

    ListView3 = new QTreeView(central);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setRootIsDecorated(false);
    ListView3->setUniformRowHeights(true);
    ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView3->setModel(m_list);
    // Names are not edited in place.
    ListView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView3->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        prepareListMenu();
        menu下载->popup(ListView3->viewport()->mapToGlobal(pos));
    });
    connect(ListView3, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& i) { rowDoubleClicked(i.row()); });
    connect(ListView3, &QAbstractItemView::clicked, this, [this](const QModelIndex& i) { rowClicked(i.row()); });
    ListView3->header()->setSectionsClickable(true);
    connect(ListView3->header(), &QHeaderView::sectionClicked, this, &fFileDownload::sortByColumn);
    // New rows (a hand-over) refit the columns once the burst has settled.
    auto* fitColumns = new QTimer(this);
    fitColumns->setSingleShot(true);
    fitColumns->setInterval(200);
    connect(fitColumns, &QTimer::timeout, this, [this] {
        AutoSizeColumns(ListView3);
        // Progress cells are still empty when rows arrive: leave room for what they will show.
        const QFontMetrics fm(ListView3->font());
        const struct {
            int column;
            const char* sample;
        } room[] = {{DownloadListModel::ColType, "html"},
                    {DownloadListModel::ColSize, "大文件，跳过"},
                    {DownloadListModel::ColReceived, "9999999999"},
                    {DownloadListModel::ColProgress, "已存在，跳过"}};
        for (const auto& r : room) {
            const int w = fm.horizontalAdvance(QString::fromUtf8(r.sample)) + 16;
            if (ListView3->columnWidth(r.column) < w)
                ListView3->setColumnWidth(r.column, w);
        }
        Label1->setText(m_list->rowCountText());
    });
    connect(m_list, &QAbstractItemModel::rowsInserted, fitColumns, qOverload<>(&QTimer::start));
    ListView3->header()->setStretchLastSection(true);
    StripeListRows(ListView3);
    m_displayTimer = new QTimer(this);
    m_displayTimer->setSingleShot(true);
    m_displayTimer->setInterval(timings().displayHold);
    connect(m_displayTimer, &QTimer::timeout, this, &fFileDownload::flushDisplay);
    // The view repaints changed rows through this window rather than on every
    // change of the model (other model signals still reach it directly).
    m_rowUpdatesHeld = QObject::disconnect(m_list, SIGNAL(dataChanged(QModelIndex,QModelIndex,QList<int>)), ListView3,
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
    lay->addWidget(ListView3, 1);
    setCentralWidget(central);

    for (int i = 1; i <= 4; ++i) {
        StatusPanel[i] = new QLabel(this);
        statusBar()->addWidget(StatusPanel[i], i == 4 ? 0 : 1);
    }
    StatusPanel[2]->installEventFilter(this);

    // The engine: the scheduler wires State's live sources (transfer
    // controls, Inet1.StillExecuting, Timer_Down) to itself.
    m_scheduler = new DownloadScheduler(*m_list, State, *this, this);
    m_monitor = new TransferMonitor(*m_list, State, *m_scheduler, *this, this);
    Timer_Down = m_scheduler->timer();
    Timer1 = m_monitor->timer();
    Timer2 = new QTimer(this);

    connect(Command4, &QPushButton::clicked, this, &fFileDownload::StartDownloading);
    connect(Command31, &QPushButton::clicked, this, &fFileDownload::StopDownloading);
    connect(Command26, &QPushButton::clicked, this, &fFileDownload::switchDownloadMethod);
    buildMenus();
    Form_Load();
    attachLoginPanel(this);
}

fFileDownload::~fFileDownload()
{
    // The engine refers to State and to this window as its host: it goes first.
    delete m_monitor;
    m_monitor = nullptr;
    delete m_scheduler;
    m_scheduler = nullptr;
}

void fFileDownload::buildMenus()
{
    menu下载 = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    auto add = [this](QMenu* m, const char* caption, auto slot) {
        QAction* a = m->addAction(QString::fromUtf8(caption));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* m = menu下载;
    menu全选专利列表 = add(m, "全选", [this] { selectAllRows(); });
    menu全不选 = add(m, "全不选", [this] { selectNoRows(); });
    m->addSeparator();
    menu随机排序列表 = add(m, "随机排序列表(打乱)", [this] { 随机排序列表(); });
    menu自动列宽 = add(m, "自动调整列宽", [this] { autoSizeListColumns(); });
    m->addSeparator();
    menu重新下载 = m->addMenu(QStringLiteral("重新下载"));
    menu重新下载选中项 = add(menu重新下载, "选中项", [this] { redownload(RedownloadFilter::Selected); });
    menu重新下载出错项 = add(menu重新下载, "出错项", [this] { redownload(RedownloadFilter::Failed); });
    menu重新下载文件类型为HTM和HTML项 =
        add(menu重新下载, "网页类型文件(HTM/HTML/xml)项", [this] { redownload(RedownloadFilter::WebPages); });
    menu重新下载出错项和网页项 = add(menu重新下载, "重新下载出错项和网页类型文件项",
                                     [this] { redownload(RedownloadFilter::FailedAndWebPages); });
    menu重新下载文件大小小于指定数字的项 =
        add(menu重新下载, "文件大小小于指定数字的项", [this] { redownloadSmallFiles(); });
    menu清除 = m->addMenu(QStringLiteral("清除"));
    menu清除选中项 = add(menu清除, "选中项", [this] { removeSelectedRows(); });
    menu清除全部出错项 = add(menu清除, "全部出错项", [this] { removeRowsInState(DownloadState::Failed); });
    menu清除完成项 = add(menu清除, "完成项", [this] { removeRowsInState(DownloadState::Done); });
    menu清空 = add(m, "清空", [this] { clearAllRows(); });
    menu删除 = m->addMenu(QStringLiteral("删除文件"));
    menu删除网页类型文件项 =
        add(menu删除, "网页类型文件(HTM/HTML/xml)项", [this] { deleteFiles(DeleteFilter::WebPages); });
    menu删除出错项 = add(menu删除, "出错项", [this] { deleteFiles(DeleteFilter::Failed); });
    m->addSeparator();
    menu下载全部 = add(m, "开始下载", [this] { StartDownloading(); });
    menu停止下载 = add(m, "停止下载", [this] { StopDownloading(); });
    menu取消下载选中项 = add(m, "取消下载选中项", [this] { cancelSelectedRows(); });
    m->addSeparator();
    menu打开下载文件 = add(m, "打开下载文件", [this] { 打开下载文件(); });
    menu打开文件所在文件夹 = add(m, "打开所在文件夹", [this] { 打开所在文件夹(); });
    menu用记事本打开文件 = add(m, "用记事本打开文件", [this] { 用记事本打开文件(); });
    menu复制名称 = add(m, "复制名称", [this] { 复制名称(); });
    menu批量替换网址 = add(m, "批量替换网址", [this] { 批量替换网址(); });
    menu打开网址 = add(m, "打开网址", [this] { 打开网址(); });
    menu导出名称 = m->addMenu(QStringLiteral("导出名称"));
    menu导出全部名称 = add(menu导出名称, "全部", [this] { exportNames(false); });
    menu导出未完成项名称 = add(menu导出名称, "未完成项", [this] { exportNames(true); });
    m->addSeparator();
    menu退出本下载窗口 = add(m, "关闭本下载窗口", [this] { close(); });

    QMenu* win = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    menu资料检索分析窗口 = win->addAction(QStringLiteral("资料检索分析窗口"));
    connect(menu资料检索分析窗口, &QAction::triggered, this, [] {
        fWebSearch* w = windows::search();
        w->show();
        w->raise();
        w->activateWindow();
    });
    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    menu设置 = tools->addAction(QStringLiteral("设置"));
    connect(menu设置, &QAction::triggered, this, [this] { showOptionsDialog(this); });
    tools->addSeparator();
    menu自动定位到下载项 = tools->addAction(QStringLiteral("自动定位到下载项"));
    menu自动定位到下载项->setCheckable(true);
    menu自动定位到下载项->setChecked(false);
    menu检查文件是否存在 = tools->addAction(QStringLiteral("检查文件是否存在"));
    connect(menu检查文件是否存在, &QAction::triggered, this, [this] { 检查文件是否存在(*m_list); });
    menu检查并纠正磁盘文件类型 = tools->addAction(QStringLiteral("检查并纠正磁盘文件类型"));
    connect(menu检查并纠正磁盘文件类型, &QAction::triggered, this, [this] {
        检查并纠正磁盘文件类型(*m_list, State, Prompter::instance());
    });
    menu清空IE浏览器缓存 = tools->addAction(QStringLiteral("清空IE浏览器缓存"));
    connect(menu清空IE浏览器缓存, &QAction::triggered, this, [] { ClearBrowserCache(true); });
    menu打开文件判断类型 = tools->addAction(QStringLiteral("打开文件判断类型"));
    connect(menu打开文件判断类型, &QAction::triggered, this, [this] { 打开文件判断类型命令(this); });

    // The search window has one; a user of this window looks for it here too.
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    connect(help->addAction(QStringLiteral("关于(&A)")), &QAction::triggered, this, [] { windows::showAbout(); });
}

SameNamePolicy fFileDownload::sameNamePolicy() const
{
    if (Option1->isChecked())
        return SameNamePolicy::Skip;
    if (Option2->isChecked())
        return SameNamePolicy::Overwrite;
    return SameNamePolicy::Rename;
}

void fFileDownload::setSameNamePolicy(SameNamePolicy p)
{
    (p == SameNamePolicy::Skip ? Option1 : p == SameNamePolicy::Overwrite ? Option2 : Option3)->setChecked(true);
}

void fFileDownload::cue(int number)
{
    if (Check6->isChecked())
        PlayCue(number);
}

void fFileDownload::Form_Load()
{
    auto& st = SettingsStore::instance();
    FitDropDownWidth(Combo4);
    Combo4->setCurrentIndex(0);
    State.markTransferEvent();
    m_list->clear();
    DownloadMethod = DownloadWindowState::downloadMethodFromSettings(st);
    Label7->setText(QStringLiteral("下载方式：") + QString::number(DownloadMethod));
    Combo1->setCurrentIndex(0);
    if (DownloadMethod == 1) {
        Combo1->setEnabled(false);
    } else {
        const int t = st.getInt(keys::ThreadIndex);
        Combo1->setCurrentIndex(t >= 0 && t < 6 ? t : 2);
        Combo1->setEnabled(true);
    }
    setSameNamePolicy(loadSameNamePolicy(st));
    m_scheduler->loadSettings(st);
    resize(1000, 667);
    RestoreWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    for (int i = 0; i <= 600; ++i)
        Combo2->addItem(QString::number(i));
    Combo2->setCurrentIndex(0);
    Timer_Down->setInterval(timings().tick);
    Timer1->setInterval(timings().tick);
    m_monitor->start();
    refreshCounters();
}

void fFileDownload::StartDownloading()
{
    m_scheduler->StartDownloading();
}

void fFileDownload::StopDownloading()
{
    m_scheduler->StopDownloading();
}

void fFileDownload::switchDownloadMethod()
{
    // Running transfers go on; the next tick uses the new method.
    DownloadMethod = DownloadMethod == 2 ? 1 : 2;
    showMethod();
}

void fFileDownload::showMethod()
{
    Label7->setText(QStringLiteral("下载方式：") + QString::number(DownloadMethod));
    Combo1->setCurrentIndex(0);
    Combo1->setEnabled(DownloadMethod != 1);
}

int fFileDownload::pauseSeconds() const
{
    return Combo2->currentText().toInt();
}

int fFileDownload::slotCount() const
{
    return Combo1->currentText().toInt();
}

bool fFileDownload::autoLocate() const
{
    return menu自动定位到下载项->isChecked();
}

void fFileDownload::scrollToRow(int row)
{
    ListView3->scrollTo(m_list->index(row, 0));
}

void fFileDownload::setStatusText(int panel, const QString& text)
{
    if (panel < 1 || panel > 4)
        return;
    if (m_displayTimer->isActive()) {
        m_pendingStatus[panel] = text;
        m_statusPending[panel] = true;
        return;
    }
    m_statusPending[panel] = false;
    StatusPanel[panel]->setText(text);
    m_displayTimer->start();
}

void fFileDownload::rowsChanged(int first, int last)
{
    if (m_displayTimer->isActive()) {
        m_dirtyFirst = m_dirtyFirst < 0 ? first : std::min(m_dirtyFirst, first);
        m_dirtyLast = std::max(m_dirtyLast, last);
        return;
    }
    ListView3->dataChanged(m_list->index(first, 0), m_list->index(last, DownloadListModel::ColumnCount - 1));
    m_displayTimer->start();
}

void fFileDownload::flushDisplay()
{
    bool shown = false;
    for (int panel = 1; panel <= 4; ++panel) {
        if (!m_statusPending[panel])
            continue;
        m_statusPending[panel] = false;
        StatusPanel[panel]->setText(m_pendingStatus[panel]);
        shown = true;
    }
    const int last = std::min(m_dirtyLast, m_list->rowCount() - 1);
    if (m_dirtyFirst >= 0 && m_dirtyFirst <= last) {
        ListView3->dataChanged(m_list->index(m_dirtyFirst, 0),
                               m_list->index(last, DownloadListModel::ColumnCount - 1));
        shown = true;
    }
    m_dirtyFirst = m_dirtyLast = -1;
    // Changes keep coming: hold the next ones for another window.
    if (shown)
        m_displayTimer->start();
}

bool fFileDownload::autoStart() const
{
    return Check4->isChecked();
}

bool fFileDownload::autoRedownload() const
{
    return Check3->isChecked();
}

int fFileDownload::redownloadChoice() const
{
    return Combo4->currentIndex();
}

bool fFileDownload::errorStop() const
{
    return Check5->isChecked();
}

void fFileDownload::clearAutoOptions()
{
    Check4->setChecked(false);
    Check3->setChecked(false);
}

void fFileDownload::setStartEnabled(bool enabled)
{
    menu下载全部->setEnabled(enabled);
}

void fFileDownload::setRunningIndicator(bool on)
{
    Shape1->setVisible(on);
}

void fFileDownload::refreshCounters()
{
    m_statusPending[4] = false;
    StatusPanel[4]->setText(m_list->UpdateListCounters());
}

void fFileDownload::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        Label1->setText(m_list->rowCountText());
    QMainWindow::changeEvent(e);
}

void fFileDownload::closeEvent(QCloseEvent* e)
{
    auto& st = SettingsStore::instance();
    saveSameNamePolicy(st, sameNamePolicy());
    st.save(keys::DownloadMethod, QString::number(DownloadMethod));
    const bool busy = State.StillExecuting() || State.CountTransferControls() > 1 || Timer_Down->isActive()
        || !m_list->检测是否下载列表完毕();
    if (busy
        && !Prompter::instance().question(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"))) {
        e->ignore();
        return;
    }
    Timer1->stop();
    Timer_Down->stop();
    Timer2->stop();
    StopDownloading();
    m_scheduler->inet().Cancel();
    SaveWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    st.save(keys::ThreadIndex, QString::number(Combo1->currentIndex()));
    windows::coverBackIfLastMainWindow("fFileDownload");
    e->accept();
}

// --- list commands ----------------------------------------------------------------

template <typename F>
void fFileDownload::frozen(F&& walk)
{
    // One redraw for the whole walk instead of one per changed row.
    ListView3->setUpdatesEnabled(false);
    walk();
    ListView3->setUpdatesEnabled(true);
}

void fFileDownload::showRowCount()
{
    Label1->setText(m_list->rowCountText());
}

std::vector<int> fFileDownload::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& i : ListView3->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int fFileDownload::selectedItemRow() const
{
    const QModelIndex cur = ListView3->currentIndex();
    if (cur.isValid() && ListView3->selectionModel()->isRowSelected(cur.row(), {}))
        return cur.row();
    const std::vector<int> rows = selectedRows();
    return rows.empty() ? -1 : rows.front();
}

void fFileDownload::selectAllRows()
{
    ListView3->selectAll();
}

void fFileDownload::selectNoRows()
{
    ListView3->clearSelection();
}

void fFileDownload::随机排序列表()
{
    if (!State.pass(BusyGuard::A))
        return;
    frozen([this] { ShuffleList(*m_list, shuffleRandom); });
    Prompter::instance().message(QStringLiteral("随机排序完成！"), MessageIcon::Information);
}

void fFileDownload::autoSizeListColumns()
{
    AutoSizeColumns(ListView3);
    StripeListRows(ListView3);
}

void fFileDownload::redownload(RedownloadFilter filter)
{
    const std::vector<int> selected = selectedRows();
    frozen([&] { RedownloadRows(*m_list, filter, selected); });
}

void fFileDownload::redownloadSmallFiles()
{
    const auto answer = Prompter::instance().input(QStringLiteral("请输入数字："), QString(), QString());
    if (!answer)
        return;
    const auto limit = ParseNumber(*answer);
    if (!limit)
        return;
    frozen([&] { RedownloadRows(*m_list, RedownloadFilter::SmallComplete, {}, *limit); });
}

void fFileDownload::removeSelectedRows()
{
    if (!State.pass(BusyGuard::A))
        return;
    if (m_list->size() == 0)
        return;
    const std::vector<int> rows = selectedRows();
    frozen([&] { RemoveRows(*m_list, rows); });
    showRowCount();
}

void fFileDownload::removeRowsInState(DownloadState state)
{
    if (!State.pass(BusyGuard::A))
        return;
    if (m_list->size() == 0)
        return;
    frozen([&] { RemoveRows(*m_list, RowsInState(*m_list, state)); });
    showRowCount();
}

void fFileDownload::clearAllRows()
{
    if (!State.pass(BusyGuard::A))
        return;
    if (!Prompter::instance().question(QStringLiteral("您确定要清空列表的所有信息吗？")))
        return;
    m_list->clear();
    showRowCount();
}

void fFileDownload::deleteFiles(DeleteFilter filter)
{
    frozen([&] { DeleteFilesOfRows(*m_list, filter); });
}

void fFileDownload::cancelSelectedRows()
{
    if (!State.pass(BusyGuard::C))
        return;
    const std::vector<int> rows = selectedRows();
    frozen([&] { CancelWaitingRows(*m_list, rows); });
}

void fFileDownload::sortByColumn(int column)
{
    if (!State.pass(BusyGuard::B))
        return;
    // One direction for the whole list: every click flips it.
    m_sortDescending = !m_sortDescending;
    frozen([&] { SortList(*m_list, column, m_sortDescending); });
}

void fFileDownload::prepareListMenu()
{
    const bool busy = State.refuses(BusyGuard::B);
    menu清除->menuAction()->setEnabled(!busy);
    menu清空->setEnabled(!busy);
    menu全选专利列表->setEnabled(!busy);
    menu停止下载->setEnabled(busy);
}

// --- opening, exporting, addresses -------------------------------------------------------

void fFileDownload::openDownloadedFile(const QString& path)
{
    if (!FileExists(path)) {
        Prompter::instance().message(QStringLiteral("文件不存在！"), MessageIcon::Error);
        return;
    }
    Shell::instance().openFile(path);
}

QString fFileDownload::selectedExistingFile()
{
    const int row = selectedItemRow();
    if (row < 0)
        return {};
    const QString path = ItemFilePath(m_list->item(row));
    if (!FileExists(path)) {
        Prompter::instance().message(QStringLiteral("该文件不存在！"), MessageIcon::Error);
        return {};
    }
    return path;
}

void fFileDownload::打开下载文件()
{
    const QString path = selectedExistingFile();
    if (path.isEmpty())
        return;
    openDownloadedFile(path);
}

void fFileDownload::打开所在文件夹()
{
    const int row = selectedItemRow();
    if (row < 0)
        return;
    const DownloadItem& it = m_list->item(row);
    if (!FolderExists(it.Folder)) {
        Prompter::instance().message(QStringLiteral("文件夹不存在！"), MessageIcon::Error);
        return;
    }
    const QString path = ItemFilePath(it);
    if (!FileExists(path)) {
        Shell::instance().openFolder(it.Folder);
        return;
    }
    if (!Shell::instance().showInFolder(path))
        Prompter::instance().message(QStringLiteral("打开失败！"), MessageIcon::Error);
}

void fFileDownload::用记事本打开文件()
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

void fFileDownload::复制名称()
{
    const int row = selectedItemRow();
    if (row < 0)
        return;
    QClipboard* cb = QGuiApplication::clipboard();
    cb->clear();
    cb->setText(m_list->item(row).Name);
}

void fFileDownload::打开网址()
{
    // The row's address in the web browser.
    const int row = selectedItemRow();
    if (row < 0)
        return;
    Shell::instance().openInBrowser(m_list->item(row).Url);
}

void fFileDownload::exportNames(bool onlyUnfinished)
{
    if (m_list->size() == 0)
        return;
    const QString file =
        Prompter::instance().saveFile(QStringLiteral("导出名称"), QString(), QStringLiteral("*.txt (*.txt)"));
    if (file.isEmpty())
        return;
    if (const auto err = WriteExportFile(file, ExportNamesText(*m_list, onlyUnfinished)))
        Prompter::instance().message(*err, MessageIcon::Error);
}

void fFileDownload::批量替换网址()
{
    // A running transfer finds its row by address: changing the addresses
    // under it would leave the row downloading for ever.
    if (!State.pass(BusyGuard::A))
        return;
    UrlReplace dlg(*m_list, this);
    dlg.exec();
}

void fFileDownload::rowDoubleClicked(int row)
{
    if (row < 0 || row >= m_list->size())
        return;
    const DownloadItem& it = m_list->item(row);
    if (it.State == DownloadState::Done)
        openDownloadedFile(ItemFilePath(it));
    else if (it.State == DownloadState::Failed)
        ResetFailedRowOnDoubleClick(*m_list, row);
}

void fFileDownload::rowClicked(int row)
{
    if (row < 0 || row >= m_list->size())
        return;
    const QString path = ItemFilePath(m_list->item(row));
    m_statusPending[2] = false;
    StatusPanel[2]->setText(FileExists(path) ? path : QString());
}

void fFileDownload::statusPanelClicked(int panel)
{
    if (panel != 2)
        return;
    const QString text = StatusPanel[2]->text();
    if (!text.isEmpty())
        Shell::instance().openInBrowser(text);
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == StatusPanel[2] && e->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
        statusPanelClicked(2);
    return QMainWindow::eventFilter(watched, e);
}

} // namespace dh
