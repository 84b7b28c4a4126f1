#include "gui/fFileDownload.h"

#include "app/AppInfo.h"
#include "content/TypeCorrection.h"
#include "gui/IdentifyFileDialog.h"
#include "gui/fWebSearch.h"
#include "platform/Sound.h"
#include "app/FormRegistry.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "gui/DesktopIntegration.h"
#include "gui/StateIcons.h"
#include "gui/Windows.h"
#include "platform/Prompter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QMenuBar>
#include <QRadioButton>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
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

    ListView3 = new QTreeView(central);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setRootIsDecorated(false);
    ListView3->setUniformRowHeights(true);
    ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView3->setModel(m_list);
    ListView3->header()->setStretchLastSection(true);
    StripeListRows(ListView3);
    lay->addWidget(ListView3, 1);
    setCentralWidget(central);

    for (int i = 1; i <= 4; ++i) {
        StatusPanel[i] = new QLabel(this);
        statusBar()->addWidget(StatusPanel[i], i == 4 ? 0 : 1);
    }

    Timer_Down = new QTimer(this);
    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &fFileDownload::MonitorTick);
    State.setSchedulerTimerSource([this] { return Timer_Down->isActive(); });
    buildMenus();
    Form_Load();
}

fFileDownload::~fFileDownload() = default;

void fFileDownload::buildMenus()
{
    QMenu* win = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    menu资料检索分析窗口 = win->addAction(QStringLiteral("资料检索分析窗口"));
    connect(menu资料检索分析窗口, &QAction::triggered, this, [] {
        fWebSearch* w = windows::search();
        w->show();
        w->raise();
        w->activateWindow();
    });
    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
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
    m_list->clear();
    State.markTransferEvent();
    DownloadMethod = DownloadWindowState::downloadMethodFromSettings(st);
    setSameNamePolicy(loadSameNamePolicy(st));
    Label7->setText(QStringLiteral("下载方式：") + QString::number(DownloadMethod));
    if (DownloadMethod == 1) {
        Combo1->setCurrentIndex(0);
        Combo1->setEnabled(false);
    } else {
        const int t = st.getInt(keys::ThreadIndex);
        Combo1->setCurrentIndex(t >= 0 && t < 6 ? t : 2);
        Combo1->setEnabled(true);
    }
    resize(1000, 667);
    RestoreWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    for (int i = 0; i <= 600; ++i)
        Combo2->addItem(QString::number(i));
    Combo2->setCurrentIndex(0);
    Timer_Down->setInterval(int(timings().tick.count()));
    Timer1->setInterval(int(timings().tick.count()));
    Timer1->start();
    refreshCounters();
}

void fFileDownload::MonitorTick()
{
    refreshCounters();
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
    SaveWindowGeometry(this, QStringLiteral("fFileDownload"), st);
    st.save(keys::ThreadIndex, QString::number(Combo1->currentIndex()));
    windows::coverBackIfLastMainWindow("fFileDownload");
    e->accept();
}

} // namespace dh
