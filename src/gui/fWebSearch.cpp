#include "gui/fWebSearch.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/FormRegistry.h"
#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "gui/DesktopIntegration.h"
#include "gui/Windows.h"
#include "gui/fOption.h"
#include "gui/ServiceMode.h"
#include "gui/CacheWiring.h"
#include "gui/fFileDownload.h"
#include "gui/fIEcache.h"
#include "gui/fSeleFileSavePath.h"
#include "gui/fUse.h"
#include "platform/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/LinksOperations.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace dh {

namespace {
QCheckBox* checkBox(const QString& name, const QString& caption, bool ticked, QWidget* parent)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    c->setChecked(ticked);
    return c;
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

void applyButton(QPushButton* b, const CommandButton& state)
{
    b->setText(state.caption);
    b->setEnabled(state.enabled);
    // Red while running (black text reads on it under any theme); the window
    // background colour otherwise.
    b->setStyleSheet(state.red ? QStringLiteral("background-color: rgb(255, 0, 0); color: rgb(0, 0, 0);") : QString());
}
// The engine runs one hand-over at a time and ignores a second; say so
// instead of dropping the command without a word.
void handOverOrSay(fWebSearch* w, SearchEngine* e, HandOverRule rule)
{
    if (e->handOverRunning()) {
        w->StatusBar1->show();
        w->StatusPanel2->setText(QStringLiteral("正在加入下载列表，请稍候"));
        return;
    }
    e->HandOver(rule);
}
} // namespace

fWebSearch::fWebSearch(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fWebSearch"));
    setAttribute(Qt::WA_DeleteOnClose);
    FormRegistry::add(QStringLiteral("fWebSearch"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("Quorvex页面数据检索分析")));
    setWindowIcon(QIcon(QStringLiteral(":/docharvest.svg")));
    setMinimumSize(MinWidthPx, MinHeightPx);
    resize(1200, 800);

    m_engine = SearchEngine::create();

    m_split = new QSplitter(Qt::Horizontal, this);
    QWidget* left = buildQueryPanel(m_split);
    auto* right = new QSplitter(Qt::Vertical, m_split);
    right->setObjectName(QStringLiteral("PicBar"));
    auto* browserHost = new QWidget(right);
    browserHost->setObjectName(QStringLiteral("browserHost"));
    auto* hostLay = new QVBoxLayout(browserHost);
    hostLay->setContentsMargins(0, 0, 0, 0);
    WebBrowser1 = new WebEngineBrowser(this);
    WebBrowser1->setSilent(true);
    hostLay->addWidget(WebBrowser1->view());
    QWidget* listPanel = buildListPanel(right);
    right->addWidget(browserHost);
    right->addWidget(listPanel);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 2);
    right->setChildrenCollapsible(false);
    browserHost->setMinimumHeight(120);
    listPanel->setMinimumHeight(120);
    right->setSizes({460, 300});
    m_split->addWidget(left);
    m_split->addWidget(right);
    m_split->setStretchFactor(1, 1);
    m_split->setSizes({300, 900});
    setCentralWidget(m_split);
    buildMenus();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setMinimumWidth(80);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusBar1->addWidget(StatusPanel1);
    StatusBar1->addWidget(StatusPanel2, 1);
    setStatusBar(StatusBar1);
    // Shown by the first navigation.
    StatusBar1->hide();

    Timer1 = new QTimer(this);
    Timer1->setInterval(int(timings().tick.count()));
    wireEngine();
    Form_Load();
}

fWebSearch::~fWebSearch()
{
    if (m_engine)
        m_engine->detach();
    // The browser goes before the view it placed in this window.
    delete WebBrowser1;
    WebBrowser1 = nullptr;
}

QWidget* fWebSearch::buildQueryPanel(QWidget* parent)
{
    auto* box = new QGroupBox(QStringLiteral("自动提取文档链接"), parent);
    auto* lay = new QVBoxLayout(box);
    lay->addWidget(new QLabel(QStringLiteral("每行一组关键词："), box));
    Text1 = new QPlainTextEdit(box);
    Text1->setObjectName(QStringLiteral("Text1"));
    lay->addWidget(Text1, 3);

    auto* types = new QHBoxLayout();
    types->addWidget(new QLabel(QStringLiteral("文件类型："), box));
    Check3 = checkBox(QStringLiteral("Check3"), QStringLiteral("pdf"), true, box);
    Check8 = checkBox(QStringLiteral("Check8"), QStringLiteral("doc"), true, box);
    Check9 = checkBox(QStringLiteral("Check9"), QStringLiteral("ppt"), true, box);
    Check10 = checkBox(QStringLiteral("Check10"), QStringLiteral("xls"), true, box);
    for (QCheckBox* c : {Check3, Check8, Check9, Check10})
        types->addWidget(c);
    types->addStretch(1);
    lay->addLayout(types);
    Check6 = checkBox(QStringLiteral("Check6"), QStringLiteral("每一组关键词作为完整关键词搜索"), false, box);
    lay->addWidget(Check6);
    Check5 = checkBox(QStringLiteral("Check5"), QStringLiteral("禁止网页脚本对话框"), true, box);
    lay->addWidget(Check5);

    auto* delayRow = new QHBoxLayout();
    delayRow->addWidget(new QLabel(QStringLiteral("限速延时："), box));
    Combo1 = new QComboBox(box);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    for (int i = 0; i <= 120; ++i)
        Combo1->addItem(QString::number(i));
    delayRow->addWidget(Combo1);
    delayRow->addWidget(new QLabel(QStringLiteral("秒"), box));
    delayRow->addStretch(1);
    lay->addLayout(delayRow);

    Command1 = button(QStringLiteral("Command1"), captions::batchIdle(), box);
    lay->addWidget(Command1);
    lay->addWidget(new QLabel(QStringLiteral("已经完成："), box));
    Text2 = new QPlainTextEdit(box);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setReadOnly(true);
    lay->addWidget(Text2, 1);
    box->setMinimumWidth(280);
    return box;
}

QWidget* fWebSearch::buildListPanel(QWidget* parent)
{
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("PicPanList"));
    auto* lay = new QVBoxLayout(panel);
    lay->setContentsMargins(4, 4, 4, 4);

    auto* top = new QHBoxLayout();
    top->addWidget(new QLabel(QStringLiteral("待下载列表："), panel));
    Label1 = new QLabel(QStringLiteral("0"), panel);
    Label1->setObjectName(QStringLiteral("Label1"));
    top->addWidget(Label1);
    top->addSpacing(12);
    Check1 = checkBox(QStringLiteral("Check1"), QStringLiteral("删除标题中的空格"), true, panel);
    Check2 = checkBox(QStringLiteral("Check2"), QStringLiteral("不添加文件类型不明的链接"), true, panel);
    Check7 = checkBox(QStringLiteral("Check7"), QStringLiteral("自动分析未分析项"), false, panel);
    top->addWidget(Check1);
    top->addWidget(Check2);
    top->addWidget(Check7);
    top->addStretch(1);
    Command9 = button(QStringLiteral("Command9"), QStringLiteral("加入本页到列表"), panel);
    Command4 = button(QStringLiteral("Command4"), captions::addAllIdle(), panel);
    Command2 = button(QStringLiteral("Command2"), QStringLiteral("分析下载"), panel);
    top->addWidget(Command9);
    top->addWidget(Command4);
    top->addWidget(Command2);
    lay->addLayout(top);

    // The list and the progress panel share one cell; the panel lies over
    // the list while it is shown.
    auto* cell = new QGridLayout();
    ListView1 = new QTreeView(panel);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setModel(m_engine->links());
    ListView1->header()->setStretchLastSection(true);
    StripeListRows(ListView1);
    cell->addWidget(ListView1, 0, 0);

    PicPanPrograss = new QFrame(panel);
    PicPanPrograss->setObjectName(QStringLiteral("PicPanPrograss"));
    PicPanPrograss->setFrameShape(QFrame::Box);
    PicPanPrograss->setAutoFillBackground(true);
    auto* pl = new QHBoxLayout(PicPanPrograss);
    Label11 = new QLabel(PicPanPrograss);
    Label11->setObjectName(QStringLiteral("Label11"));
    Command5 = button(QStringLiteral("Command5"), QStringLiteral("停止"), PicPanPrograss);
    pl->addWidget(Label11);
    pl->addWidget(Command5);
    PicPanPrograss->hide();
    cell->addWidget(PicPanPrograss, 0, 0, Qt::AlignCenter);
    lay->addLayout(cell, 1);

    auto* bottom = new QHBoxLayout();
    Command7 = button(QStringLiteral("Command7"), QStringLiteral("导出数据..."), panel);
    bottom->addWidget(Command7);
    bottom->addStretch(1);
    lay->addLayout(bottom);

    menu加入 = new QMenu(QStringLiteral("加入"), this);
    menu加入->setObjectName(QStringLiteral("menu加入"));
    menu分析未分析项 = menu加入->addAction(QStringLiteral("分析未分析项"));
    menu加入分析失败项 = menu加入->addAction(QStringLiteral("分析失败项"));
    menu选中加入 = menu加入->addAction(QStringLiteral("分析选中项"));
    menu全部加入 = menu加入->addAction(QStringLiteral("分析全部"));
    return panel;
}

void fWebSearch::wireEngine()
{
    SearchEngine* e = m_engine.get();
    e->setBrowser(WebBrowser1);

    // Controls -> engine options (read live by the runs).
    auto mirrorTypes = [this, e] {
        e->typeTicked = {Check3->isChecked(), Check8->isChecked(), Check9->isChecked(), Check10->isChecked()};
    };
    for (QCheckBox* c : {Check3, Check8, Check9, Check10})
        connect(c, &QCheckBox::toggled, this, mirrorTypes);
    connect(Check6, &QCheckBox::toggled, this, [e](bool on) { e->wholeKeywords = on; });
    connect(Check1, &QCheckBox::toggled, this, [e](bool on) { e->extractOptions.removeSpaces = on; });
    connect(Check2, &QCheckBox::toggled, this, [e](bool on) { e->extractOptions.dropUnknownType = on; });
    connect(Combo1, &QComboBox::currentTextChanged, this, [e](const QString& t) { e->delaySeconds = t.toInt(); });

    // Commands.
    connect(Command1, &QPushButton::clicked, this, &fWebSearch::Command1_Click);
    connect(Command4, &QPushButton::clicked, this, &fWebSearch::Command4_Click);
    connect(Command9, &QPushButton::clicked, this, &fWebSearch::Command9_Click);
    connect(Command2, &QPushButton::clicked, this, &fWebSearch::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, [e] { e->Command5_Click(); });
    connect(menu分析未分析项, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::NotHandedOver); });
    connect(menu加入分析失败项, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::Failed); });
    connect(menu选中加入, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::Selected); });
    connect(menu全部加入, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::All); });
    connect(Check7, &QCheckBox::clicked, this, [this] { Check7_Click(); });
    connect(Timer1, &QTimer::timeout, this, [e] { e->AutoTick(); });
    connect(Command7, &QPushButton::clicked, this, &fWebSearch::Command7_Click);
    connect(Check5, &QCheckBox::clicked, this, &fWebSearch::Check5_Click);

    // Hooks.
    e->saveLocationDialog = [this]() { return fSeleFileSavePath::ask(this); };
    e->downloadList = [] { return windows::download()->list(); };
    e->showDownloadWindow = [] {
        fFileDownload* d = windows::download();
        d->refreshCounters();
        if (!d->isVisible())
            d->show();
    };
    e->isRowSelected = [this](int row) {
        return ListView1->selectionModel() && ListView1->selectionModel()->isRowSelected(row, QModelIndex());
    };
    e->autoModeActive = [this] { return Timer1->isActive(); };

    // Engine -> window.
    connect(e, &SearchEngine::buttonsChanged, this, &fWebSearch::showButtons);
    connect(e, &SearchEngine::doneLogChanged, this, [this](const QString& t) { Text2->setPlainText(t); });
    connect(e, &SearchEngine::linksCountChanged, this, [this](int n) { Label1->setText(QString::number(n)); });
    wireBrowser();
    connect(e, &SearchEngine::fitColumnsRequested, this, [this] { AutoSizeColumns(ListView1); });
    connect(e, &SearchEngine::progressPanelChanged, this, [this](bool visible, const QString& text) {
        Label11->setText(text);
        PicPanPrograss->setVisible(visible);
        if (visible)
            PicPanPrograss->raise();
    });
}

void fWebSearch::buildMenus()
{
    QMenu* browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    menu打开Quorvex查询首页 = browse->addAction(QStringLiteral("打开Quorvex搜索首页"));
    connect(menu打开Quorvex查询首页, &QAction::triggered, this,
            [this] { WebBrowser1->Navigate(SearchHomeAddress(m_engine->searchBase)); });
    menu打开指定网址 = browse->addAction(QStringLiteral("打开指定网址"));
    connect(menu打开指定网址, &QAction::triggered, this, &fWebSearch::menu打开指定网址_Click);
    browse->addSeparator();
    // Without history these do nothing.
    menu后退 = browse->addAction(QStringLiteral("后退"));
    connect(menu后退, &QAction::triggered, this, [this] { WebBrowser1->GoBack(); });
    menu前进 = browse->addAction(QStringLiteral("前进"));
    connect(menu前进, &QAction::triggered, this, [this] { WebBrowser1->GoForward(); });
    browse->addSeparator();
    menu关闭本窗口 = browse->addAction(QStringLiteral("关闭本窗口"));
    connect(menu关闭本窗口, &QAction::triggered, this, &QWidget::close);

    menu清除 = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    menu清除->setObjectName(QStringLiteral("menu清除"));
    menu清除选中项 = menu清除->addAction(QStringLiteral("清除选中项"));
    menu清除分析成功项 = menu清除->addAction(QStringLiteral("清除分析成功项"));
    menu清除标题含指定字符项 = menu清除->addAction(QStringLiteral("清除标题含指定字符项"));
    menu清除标题不含指定字符项 = menu清除->addAction(QStringLiteral("清除标题不含指定字符项"));
    menu清除->addSeparator();
    menu清空全部 = menu清除->addAction(QStringLiteral("清空全部"));
    connect(menu清除选中项, &QAction::triggered, this, &fWebSearch::menu清除选中项_Click);
    connect(menu清除分析成功项, &QAction::triggered, this, &fWebSearch::menu清除分析成功项_Click);
    connect(menu清除标题含指定字符项, &QAction::triggered, this, &fWebSearch::menu清除标题含指定字符项_Click);
    connect(menu清除标题不含指定字符项, &QAction::triggered, this, &fWebSearch::menu清除标题不含指定字符项_Click);
    connect(menu清空全部, &QAction::triggered, this, &fWebSearch::menu清空全部_Click);
    // The same menu opens on the links list with the right mouse button.
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { menu清除->popup(ListView1->viewport()->mapToGlobal(pos)); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    menu设置 = tools->addAction(QStringLiteral("设置"));
    connect(menu设置, &QAction::triggered, this, [this] { showOptionsDialog(this); });
    menu打开下载窗口 = tools->addAction(QStringLiteral("打开下载窗口"));
    connect(menu打开下载窗口, &QAction::triggered, this, [] {
        fFileDownload* d = windows::download();
        d->show();
        d->raise();
        d->activateWindow();
    });
    tools->addSeparator();
    menu查看IE浏览器缓存 = tools->addAction(QStringLiteral("查看IE浏览器缓存"));
    connect(menu查看IE浏览器缓存, &QAction::triggered, this, [this] { showCacheViewer(this); });
    // Clears the cache of every user and reports "IE缓存清空完毕！".
    menu清空IE浏览器缓存 = tools->addAction(QStringLiteral("清空IE浏览器缓存"));
    connect(menu清空IE浏览器缓存, &QAction::triggered, this, [] { ClearBrowserCache(true); });
    tools->addSeparator();
    menu网页源码另存为 = tools->addAction(QStringLiteral("网页源码另存为"));
    connect(menu网页源码另存为, &QAction::triggered, this, [this] { menu网页源码另存为_Click(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    menu关于 = help->addAction(QStringLiteral("关于(&A)"));
    connect(menu关于, &QAction::triggered, this, &fWebSearch::menu关于_Click);
    menu使用方法 = help->addAction(QStringLiteral("使用方法"));
    connect(menu使用方法, &QAction::triggered, this, &fWebSearch::menu使用方法_Click);
}

void fWebSearch::wireBrowser()
{
    Browser* b = WebBrowser1;
    connect(b, &Browser::StatusTextChange, this, [this](const QString& text) { StatusPanel2->setText(text); });
    connect(b, &Browser::BeforeNavigate2, this, [this](const QString&) { StatusBar1->setVisible(true); });
    // Paging that a hostile or broken service ended, and queries that found
    // no result page, are told in the status bar (the batch goes on).
    auto tell = [this](const QString& text) {
        StatusBar1->setVisible(true);
        StatusPanel2->setText(text);
    };
    connect(m_engine.get(), &SearchEngine::pagingEnded, this, [tell](PagingEnd, const QString& message) { tell(message); });
    connect(m_engine.get(), &SearchEngine::queryFailed, this,
            [tell](const QString& keywords, const QString& type, const QString&, const QString& reason) {
                tell(QStringLiteral("%1(%2) 没有得到结果页：%3").arg(keywords, type, reason));
            });
    // New-window requests and a page's attempt to close the browser are
    // handled by the browser itself: the request is followed in this page
    // and the close is refused, so the window has nothing more to do.
}

void fWebSearch::showRowCount()
{
    Label1->setText(QString::number(m_engine->links()->size()));
}

void fWebSearch::clearLinks(linkops::ClearRule rule)
{
    // Repainting waits until the removal is done.
    ListView1->setUpdatesEnabled(false);
    linkops::ClearCommand(*m_engine->links(), m_engine->handOverRunning(), rule, m_engine->isRowSelected);
    ListView1->setUpdatesEnabled(true);
    showRowCount();
}

void fWebSearch::menu清除选中项_Click() { clearLinks(linkops::ClearRule::Selected); }
void fWebSearch::menu清除分析成功项_Click() { clearLinks(linkops::ClearRule::HandedOver); }
void fWebSearch::menu清除标题含指定字符项_Click() { clearLinks(linkops::ClearRule::TitleContains); }
void fWebSearch::menu清除标题不含指定字符项_Click() { clearLinks(linkops::ClearRule::TitleLacks); }

void fWebSearch::menu清空全部_Click()
{
    if (linkops::ClearAllCommand(*m_engine->links(), m_engine->handOverRunning()))
        showRowCount();
}

void fWebSearch::Command7_Click()
{
    linkops::ExportCommand(*m_engine->links());
}

QCoro::Task<void> fWebSearch::menu网页源码另存为_Click()
{
    // Nothing of the window is touched after the wait: it may close meanwhile.
    co_await linkops::SavePageSourceCommand(WebBrowser1);
}

void fWebSearch::menu打开指定网址_Click()
{
    const std::optional<QString> answer =
        Prompter::instance().input(QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."), QString());
    if (!answer)
        return;
    const QString address = TrimSpaces(*answer);
    if (address.isEmpty())
        return;
    WebBrowser1->Navigate(address);
}

void fWebSearch::Check5_Click()
{
    WebBrowser1->setSilent(Check5->isChecked());
}

void fWebSearch::menu关于_Click()
{
    windows::showAbout();
}

void fWebSearch::menu使用方法_Click()
{
    fUse::showModal(this);
}

void fWebSearch::showButtons()
{
    applyButton(Command1, m_engine->command1());
    applyButton(Command4, m_engine->command4());
}

void fWebSearch::Form_Load()
{
    auto& st = SettingsStore::instance();
    auto& g = globals();
    g.PromptOnExtract = st.getFlag(keys::PromptOnExtract);
    if (g.SearchBaseAddress.isEmpty())
        g.SearchBaseAddress = services::searchBaseFor(ServiceBaseFromSettings(keys::SearchServiceBase));
    m_engine->searchBase = g.SearchBaseAddress;
    m_engine->maxPagesPerQuery = std::max(0, st.getInt(keys::SearchPagesPerQuery));
    m_engine->extractOptions.excludedDomain = st.get(keys::ExcludedSuffixDomain);

    QString kw = st.get(keys::SearchKeywords);
    Text1->setPlainText(kw.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    const int idx = st.getInt(keys::SearchDelayIndex);
    Combo1->setCurrentIndex(idx >= 0 && idx < Combo1->count() ? idx : 4);
    m_engine->delaySeconds = Combo1->currentText().toInt();
    m_engine->typeTicked = {Check3->isChecked(), Check8->isChecked(), Check9->isChecked(), Check10->isChecked()};
    m_engine->wholeKeywords = Check6->isChecked();
    m_engine->extractOptions.removeSpaces = Check1->isChecked();
    m_engine->extractOptions.dropUnknownType = Check2->isChecked();
    showButtons();
    services::showSearchServiceMode(this);
    // The search home page, without waiting for it.
    WebBrowser1->Navigate(SearchHomeAddress(m_engine->searchBase));
}

void fWebSearch::Command1_Click()
{
    m_engine->Command1_Click(Text1->toPlainText());
}

void fWebSearch::Command4_Click()
{
    m_engine->Command4_Click();
}

void fWebSearch::Command9_Click()
{
    m_engine->Command9_Click();
}

void fWebSearch::Command2_Click()
{
    Command2->setEnabled(false);
    if (m_engine->links()->size() == 0) {
        Prompter::instance().message(QStringLiteral("列表没有数据哦！"), MessageIcon::Information);
    } else if (!ListView1->selectionModel() || !ListView1->selectionModel()->hasSelection()) {
        handOverOrSay(this, m_engine.get(), HandOverRule::All);
    } else {
        menu加入->popup(QCursor::pos());
    }
    Command2->setEnabled(true);
}

QCoro::Task<void> fWebSearch::Check7_Click()
{
    if (!Check7->isChecked()) {
        Timer1->stop();
        co_return;
    }
    QPointer<fWebSearch> self(this);
    std::shared_ptr<SearchEngine> engine = m_engine;
    const bool ok = co_await engine->PrepareAutoMode();
    if (!self)
        co_return;
    if (ok) {
        Timer1->start();
    } else {
        Timer1->stop();
        Check7->setChecked(false);
    }
}

void fWebSearch::closeEvent(QCloseEvent* e)
{
    // Every run stops; the engine outlives the window until its runs have
    // wound down.
    m_engine->detach();
    auto& st = SettingsStore::instance();
    // The store keeps CR LF line ends, as the keyword list is split at CR LF.
    QString text = Text1->toPlainText();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    st.save(keys::SearchKeywords, text);
    st.save(keys::SearchDelayIndex, QString::number(Combo1->currentIndex()));
    Timer1->stop();
    windows::coverBackIfLastMainWindow("fWebSearch");
    e->accept();
}

} // namespace dh
