#include "gui/fFileDownload.h"

#include "app/AppInfo.h"
#include "content/TypeCorrection.h"
#include "gui/IdentifyFileDialog.h"
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

#include <QCheckBox>
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
    lay->addWidget(ListView3, 1);
    setCentralWidget(central);

    for (int i = 1; i <= 4; ++i) {
        StatusPanel[i] = new QLabel(this);
        statusBar()->addWidget(StatusPanel[i], i == 4 ? 0 : 1);
    }

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
    menu下载全部 = menu下载->addAction(QStringLiteral("开始下载"));
    connect(menu下载全部, &QAction::triggered, this, &fFileDownload::StartDownloading);
    menu停止下载 = menu下载->addAction(QStringLiteral("停止下载"));
    connect(menu停止下载, &QAction::triggered, this, &fFileDownload::StopDownloading);
    menu下载->addSeparator();
    menu退出本下载窗口 = menu下载->addAction(QStringLiteral("关闭本下载窗口"));
    connect(menu退出本下载窗口, &QAction::triggered, this, &QWidget::close);

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
    menu打开文件判断类型 = tools->addAction(QStringLiteral("打开文件判断类型"));
    connect(menu打开文件判断类型, &QAction::triggered, this, [this] { 打开文件判断类型命令(this); });
    menu检查并纠正磁盘文件类型 = tools->addAction(QStringLiteral("检查并纠正磁盘文件类型"));
    connect(menu检查并纠正磁盘文件类型, &QAction::triggered, this, [this] {
        检查并纠正磁盘文件类型(*m_list, State, Prompter::instance());
    });
    menu检查文件是否存在 = tools->addAction(QStringLiteral("检查文件是否存在"));
    connect(menu检查文件是否存在, &QAction::triggered, this, [this] { 检查文件是否存在(*m_list); });
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
    if (panel >= 1 && panel <= 4)
        StatusPanel[panel]->setText(text);
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

} // namespace dh
