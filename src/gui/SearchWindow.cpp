#include "gui/SearchWindow.h"
#include "gui/CommandKeys.h"
#include "gui/SelectedRowFlags.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/WindowRegistry.h"
#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "download/DownloadListModel.h"
#include "gui/DesktopIntegration.h"
#include "gui/ElidedLabel.h"
#include "gui/FlowLayout.h"
#include "gui/Windows.h"
#include "gui/OptionsDialog.h"
#include "gui/ServiceMode.h"
#include "gui/CacheWiring.h"
#include "gui/DownloadWindow.h"
#include "gui/CacheViewerWindow.h"
#include "gui/SaveFolderDialog.h"
#include "gui/HelpWindow.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/LinksOperations.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QApplication>
#include <QCheckBox>
#include <QChildEvent>
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

// The web view's keyboard target is a child the engine makes on the first
// page: it gets the view's accessible name when it appears.
class ChildNamer : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::ChildAdded) {
            auto* view = static_cast<QWidget*>(watched);
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(e)->child()))
                child->setAccessibleName(view->accessibleName());
        }
        return false;
    }
};

void nameWebView(QWidget* view)
{
    view->setAccessibleName(QStringLiteral("网页"));
    for (QWidget* child : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setAccessibleName(view->accessibleName());
    view->installEventFilter(new ChildNamer(view));
}

QCheckBox* checkBox(const QString& caption, bool ticked, QWidget* parent)
{
    auto* c = new QCheckBox(caption, parent);
    c->setChecked(ticked);
    return c;
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
void handOverOrSay(SearchWindow* w, SearchEngine* e, HandOverRule rule)
{
    if (e->handOverRunning()) {
        w->showBrowserStatus(QStringLiteral("正在加入下载列表，请稍候"));
        return;
    }
    e->handOver(rule);
}
} // namespace

void SearchWindow::showBrowserStatus(const QString& text)
{
    m_statusBar->show();
    m_browserStatusPanel->setText(text);
}

SearchWindow::SearchWindow(QWidget* parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    WindowRegistry::add(QStringLiteral("fWebSearch"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("Quorvex页面数据检索分析")));
    setWindowIcon(QIcon(QStringLiteral(":/docharvest.svg")));
    setMinimumSize(minWidthPx, minHeightPx);
    placeWindow(this, QSize(1200, 800));

    m_engine = SearchEngine::create();

    m_split = new QSplitter(Qt::Horizontal, this);
    QWidget* left = buildQueryPanel(m_split);
    auto* right = new QSplitter(Qt::Vertical, m_split);
    right->setObjectName(QStringLiteral("browserSplitter"));  // the window tests look it up
    auto* browserHost = new QWidget(right);
    auto* hostLay = new QVBoxLayout(browserHost);
    hostLay->setContentsMargins(0, 0, 0, 0);
    m_browser = new WebEngineBrowser(this);
    m_browser->setSilent(true);
    hostLay->addWidget(m_browser->view());
    nameWebView(m_browser->view());
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

    m_statusBar = new QStatusBar(this);
    m_mainStatusPanel = new QLabel(m_statusBar);
    m_mainStatusPanel->setMinimumWidth(80);
    // Addresses of any length: cut in the middle rather than widen the window.
    m_browserStatusPanel = new ElidedLabel(Qt::ElideMiddle, m_statusBar);
    m_statusBar->addWidget(m_mainStatusPanel);
    m_statusBar->addWidget(m_browserStatusPanel, 1);
    setStatusBar(m_statusBar);
    // Shown by the first navigation.
    m_statusBar->hide();

    m_autoAnalyseTimer = new QTimer(this);
    m_autoAnalyseTimer->setInterval(int(timings().tick.count()));
    wireEngine();
    load();
}

SearchWindow::~SearchWindow()
{
    if (m_engine)
        m_engine->detach();
    // The browser goes before the view it placed in this window.
    delete m_browser;
    m_browser = nullptr;
}

QWidget* SearchWindow::buildQueryPanel(QWidget* parent)
{
    auto* box = new QGroupBox(QStringLiteral("自动提取文档链接"), parent);
    auto* lay = new QVBoxLayout(box);
    lay->addWidget(new QLabel(QStringLiteral("每行一组关键词："), box));
    m_keywordsEdit = new QPlainTextEdit(box);
    // Tab moves on to the next control; keyword groups never contain tabs.
    m_keywordsEdit->setTabChangesFocus(true);
    lay->addWidget(m_keywordsEdit, 3);

    auto* types = new FlowLayout(nullptr, 6);
    types->addWidget(new QLabel(QStringLiteral("文件类型："), box));
    m_pdfCheck = checkBox(QStringLiteral("pdf"), true, box);
    m_docCheck = checkBox(QStringLiteral("doc"), true, box);
    m_pptCheck = checkBox(QStringLiteral("ppt"), true, box);
    m_xlsCheck = checkBox(QStringLiteral("xls"), true, box);
    for (QCheckBox* c : {m_pdfCheck, m_docCheck, m_pptCheck, m_xlsCheck})
        types->addWidget(c);
    lay->addLayout(types);
    m_exactPhraseCheck = checkBox(QStringLiteral("每一组关键词作为完整关键词搜索"), false, box);
    lay->addWidget(m_exactPhraseCheck);
    m_silenceScriptDialogsCheck = checkBox(QStringLiteral("禁止网页脚本对话框"), true, box);
    lay->addWidget(m_silenceScriptDialogsCheck);

    auto* delayRow = new QHBoxLayout();
    delayRow->addWidget(new QLabel(QStringLiteral("限速延时："), box));
    m_delayCombo = new QComboBox(box);
    for (int i = 0; i <= 120; ++i)
        m_delayCombo->addItem(QString::number(i));
    delayRow->addWidget(m_delayCombo);
    delayRow->addWidget(new QLabel(QStringLiteral("秒"), box));
    delayRow->addStretch(1);
    lay->addLayout(delayRow);

    m_batchSearchButton = new QPushButton(captions::batchIdle(), box);
    lay->addWidget(m_batchSearchButton);
    lay->addWidget(new QLabel(QStringLiteral("已经完成："), box));
    m_finishedSearchesEdit = new QPlainTextEdit(box);
    m_finishedSearchesEdit->setReadOnly(true);
    lay->addWidget(m_finishedSearchesEdit, 1);
    box->setMinimumWidth(280);
    return box;
}

QWidget* SearchWindow::buildListPanel(QWidget* parent)
{
    auto* panel = new QWidget(parent);
    auto* lay = new QVBoxLayout(panel);
    lay->setContentsMargins(4, 4, 4, 4);

    // Wraps onto a second row on a narrow window rather than cutting captions.
    auto* top = new FlowLayout(nullptr, 6);
    top->addWidget(new QLabel(QStringLiteral("待下载列表："), panel));
    m_linkCountLabel = new QLabel(QStringLiteral("0"), panel);
    top->addWidget(m_linkCountLabel);
    m_stripTitleSpacesCheck = checkBox(QStringLiteral("删除标题中的空格"), true, panel);
    m_skipUnknownTypeCheck = checkBox(QStringLiteral("不添加文件类型不明的链接"), true, panel);
    m_autoAnalyseCheck = checkBox(QStringLiteral("自动分析未分析项"), false, panel);
    top->addWidget(m_stripTitleSpacesCheck);
    top->addWidget(m_skipUnknownTypeCheck);
    top->addWidget(m_autoAnalyseCheck);
    top->addStretch();
    m_addPageButton = new QPushButton(QStringLiteral("加入本页到列表"), panel);
    m_addAllButton = new QPushButton(captions::addAllIdle(), panel);
    m_analyseButton = new QPushButton(QStringLiteral("分析下载"), panel);
    top->addWidget(m_addPageButton);
    top->addWidget(m_addAllButton);
    top->addWidget(m_analyseButton);
    lay->addLayout(top);

    // The list and the progress panel share one cell; the panel lies over
    // the list while it is shown.
    auto* cell = new QGridLayout();
    m_linksView = new QTreeView(panel);
    m_linksView->setObjectName(QStringLiteral("linksView"));  // looked up by the hand-over benchmark
    m_linksView->setAccessibleName(QStringLiteral("待下载列表"));
    m_linksView->setRootIsDecorated(false);
    m_linksView->setUniformRowHeights(true);
    m_linksView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_linksView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_linksView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_linksView->setModel(m_engine->links());
    m_selectedLinks = new SelectedRowFlags(m_linksView);
    m_linksView->header()->setStretchLastSection(true);
    stripeListRows(m_linksView);
    cell->addWidget(m_linksView, 0, 0);

    m_handOverProgressPanel = new QFrame(panel);
    m_handOverProgressPanel->setFrameShape(QFrame::Box);
    m_handOverProgressPanel->setAutoFillBackground(true);
    auto* pl = new QHBoxLayout(m_handOverProgressPanel);
    m_handOverProgressLabel = new QLabel(m_handOverProgressPanel);
    m_handOverStopButton = new QPushButton(QStringLiteral("停止"), m_handOverProgressPanel);
    pl->addWidget(m_handOverProgressLabel);
    pl->addWidget(m_handOverStopButton);
    m_handOverProgressPanel->hide();
    cell->addWidget(m_handOverProgressPanel, 0, 0, Qt::AlignCenter);
    lay->addLayout(cell, 1);

    auto* bottom = new QHBoxLayout();
    m_exportButton = new QPushButton(QStringLiteral("导出数据..."), panel);
    bottom->addWidget(m_exportButton);
    bottom->addStretch(1);
    lay->addLayout(bottom);

    m_addMenu = new QMenu(QStringLiteral("加入"), this);
    m_analyseUnanalysedAction = m_addMenu->addAction(QStringLiteral("分析未分析项"));
    m_addFailedAction = m_addMenu->addAction(QStringLiteral("分析失败项"));
    m_addSelectedAction = m_addMenu->addAction(QStringLiteral("分析选中项"));
    m_addAllAction = m_addMenu->addAction(QStringLiteral("分析全部"));
    return panel;
}

void SearchWindow::wireEngine()
{
    SearchEngine* e = m_engine.get();
    e->setBrowser(m_browser);

    // Controls -> engine options (read live by the runs).
    auto mirrorTypes = [this, e] {
        e->typeTicked = {m_pdfCheck->isChecked(), m_docCheck->isChecked(), m_pptCheck->isChecked(), m_xlsCheck->isChecked()};
    };
    for (QCheckBox* c : {m_pdfCheck, m_docCheck, m_pptCheck, m_xlsCheck})
        connect(c, &QCheckBox::toggled, this, mirrorTypes);
    connect(m_exactPhraseCheck, &QCheckBox::toggled, this, [e](bool on) { e->wholeKeywords = on; });
    connect(m_stripTitleSpacesCheck, &QCheckBox::toggled, this, [e](bool on) { e->extractOptions.removeSpaces = on; });
    connect(m_skipUnknownTypeCheck, &QCheckBox::toggled, this, [e](bool on) { e->extractOptions.dropUnknownType = on; });
    connect(m_delayCombo, &QComboBox::currentTextChanged, this, [e](const QString& t) { e->setDelaySeconds(t.toInt()); });

    // Commands.
    connect(m_batchSearchButton, &QPushButton::clicked, this, &SearchWindow::batchSearchClicked);
    connect(m_addAllButton, &QPushButton::clicked, this, &SearchWindow::addAllClicked);
    connect(m_addPageButton, &QPushButton::clicked, this, &SearchWindow::addPageClicked);
    connect(m_analyseButton, &QPushButton::clicked, this, &SearchWindow::analyseClicked);
    connect(m_handOverStopButton, &QPushButton::clicked, this, [e] { e->stopHandOver(); });
    connect(m_analyseUnanalysedAction, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::NotHandedOver); });
    connect(m_addFailedAction, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::Failed); });
    connect(m_addSelectedAction, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::Selected); });
    connect(m_addAllAction, &QAction::triggered, this, [this, e] { handOverOrSay(this, e, HandOverRule::All); });
    connect(m_autoAnalyseCheck, &QCheckBox::clicked, this, [this] { autoAnalyseToggled(); });
    connect(m_autoAnalyseTimer, &QTimer::timeout, this, [e] { e->autoTick(); });
    connect(m_exportButton, &QPushButton::clicked, this, &SearchWindow::exportClicked);
    connect(m_silenceScriptDialogsCheck, &QCheckBox::clicked, this, &SearchWindow::silenceScriptDialogsToggled);

    // Hooks.
    e->saveLocationDialog = [this]() { return SaveFolderDialog::ask(this); };
    e->downloadList = [] { return windows::download()->list(); };
    e->showDownloadWindow = [this] {
        DownloadWindow* d = windows::download();
        d->refreshCounters();
        if (!d->isVisible())
            d->show();
        // A hand-over the user asked for brings the list to the front, also
        // the second time; the automatic one does not take the keyboard away
        // from whatever the user is typing.
        if (!m_autoAnalyseTimer->isActive()) {
            d->raise();
            d->activateWindow();
        }
    };
    e->isRowSelected = [this](int row) { return m_selectedLinks->isRowSelected(row); };
    e->autoModeActive = [this] { return m_autoAnalyseTimer->isActive(); };

    // Engine -> window.
    connect(e, &SearchEngine::buttonsChanged, this, &SearchWindow::showButtons);
    connect(e, &SearchEngine::doneLogChanged, this, [this](const QString& t) { m_finishedSearchesEdit->setPlainText(t); });
    connect(e, &SearchEngine::linksCountChanged, this, [this](int n) { m_linkCountLabel->setText(QString::number(n)); });
    // The batch's progress and, once it ends, its summary: its own panel, so
    // the browser's "完成" of the next page cannot cover how the batch ended.
    connect(e, &SearchEngine::batchStatusChanged, this, [this](const QString& text) {
        m_mainStatusPanel->setText(text);
        if (!text.isEmpty())
            m_statusBar->show();
        if (!m_engine->batchRunning() && m_browserStatusPanel->text() == QStringLiteral("完成"))
            m_browserStatusPanel->clear();
    });
    wireBrowser();
    connect(e, &SearchEngine::fitColumnsRequested, this, [this] { autoSizeColumns(m_linksView); });
    connect(e, &SearchEngine::progressPanelChanged, this, [this](bool visible, const QString& text) {
        m_handOverProgressLabel->setText(text);
        m_handOverProgressPanel->setVisible(visible);
        if (visible)
            m_handOverProgressPanel->raise();
    });
}

void SearchWindow::buildMenus()
{
    QMenu* browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    m_openSearchPageAction = browse->addAction(QStringLiteral("打开Quorvex搜索首页"));
    connect(m_openSearchPageAction, &QAction::triggered, this,
            [this] { m_browser->navigate(m_engine->profile.homeAddress(m_engine->searchBase)); });
    m_openAddressAction = browse->addAction(QStringLiteral("打开指定网址"));
    connect(m_openAddressAction, &QAction::triggered, this, &SearchWindow::openAddress);
    browse->addSeparator();
    // Without history these do nothing.
    m_backAction = browse->addAction(QStringLiteral("后退"));
    connect(m_backAction, &QAction::triggered, this, [this] { m_browser->goBack(); });
    m_forwardAction = browse->addAction(QStringLiteral("前进"));
    connect(m_forwardAction, &QAction::triggered, this, [this] { m_browser->goForward(); });
    browse->addSeparator();
    m_closeWindowAction = browse->addAction(QStringLiteral("关闭本窗口"));
    connect(m_closeWindowAction, &QAction::triggered, this, &QWidget::close);

    // The main road by keyboard: the commands of the panels' buttons, and a
    // way between the keywords, the web page and the list (a web page keeps
    // Tab for itself, so F6 leaves it, as in browsers).
    QMenu* search = menuBar()->addMenu(QStringLiteral("搜索(&S)"));
    m_batchSearchAction = search->addAction(QStringLiteral("开始批量搜索提取"));
    m_batchSearchAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    connect(m_batchSearchAction, &QAction::triggered, m_batchSearchButton, &QPushButton::click);
    m_addPageAction = search->addAction(QStringLiteral("加入本页到列表"));
    m_addPageAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    connect(m_addPageAction, &QAction::triggered, m_addPageButton, &QPushButton::click);
    m_analyseAction = search->addAction(QStringLiteral("分析下载"));
    m_analyseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(m_analyseAction, &QAction::triggered, m_analyseButton, &QPushButton::click);
    search->addSeparator();
    m_nextAreaAction = search->addAction(QStringLiteral("转到下一区域"));
    m_nextAreaAction->setShortcuts({QKeySequence(Qt::Key_F6), QKeySequence(Qt::CTRL | Qt::Key_Tab)});
    connect(m_nextAreaAction, &QAction::triggered, this, [this] { focusArea(+1); });
    m_previousAreaAction = search->addAction(QStringLiteral("转到上一区域"));
    m_previousAreaAction->setShortcuts(
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
    connect(m_previousAreaAction, &QAction::triggered, this, [this] { focusArea(-1); });
    for (QAction* a : search->actions())
        a->setShortcutContext(Qt::WindowShortcut);
    keepCommandKeys(this, search->actions());

    m_removeMenu = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    m_removeSelectedAction = m_removeMenu->addAction(QStringLiteral("清除选中项"));
    m_removeAnalysedAction = m_removeMenu->addAction(QStringLiteral("清除分析成功项"));
    m_removeTitleContainingAction = m_removeMenu->addAction(QStringLiteral("清除标题含指定字符项"));
    m_removeTitleNotContainingAction = m_removeMenu->addAction(QStringLiteral("清除标题不含指定字符项"));
    m_removeMenu->addSeparator();
    m_removeAllAction = m_removeMenu->addAction(QStringLiteral("清空全部"));
    connect(m_removeSelectedAction, &QAction::triggered, this, &SearchWindow::removeSelected);
    connect(m_removeAnalysedAction, &QAction::triggered, this, &SearchWindow::removeAnalysed);
    connect(m_removeTitleContainingAction, &QAction::triggered, this, &SearchWindow::removeTitleContaining);
    connect(m_removeTitleNotContainingAction, &QAction::triggered, this, &SearchWindow::removeTitleNotContaining);
    connect(m_removeAllAction, &QAction::triggered, this, &SearchWindow::removeAll);
    // The same menu opens on the links list with the right mouse button.
    m_linksView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_linksView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_removeMenu->popup(m_linksView->viewport()->mapToGlobal(pos)); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    m_optionsAction = tools->addAction(QStringLiteral("设置"));
    connect(m_optionsAction, &QAction::triggered, this, [this] { showOptionsDialog(this); });
    m_downloadWindowAction = tools->addAction(QStringLiteral("打开下载窗口"));
    connect(m_downloadWindowAction, &QAction::triggered, this, [] {
        DownloadWindow* d = windows::download();
        d->show();
        d->raise();
        d->activateWindow();
    });
    tools->addSeparator();
    m_cacheViewerAction = tools->addAction(QStringLiteral("查看IE浏览器缓存"));
    connect(m_cacheViewerAction, &QAction::triggered, this, [this] { showCacheViewer(this); });
    // Clears the cache of every user and reports "IE缓存清空完毕！".
    m_clearBrowserCacheAction = tools->addAction(QStringLiteral("清空IE浏览器缓存"));
    connect(m_clearBrowserCacheAction, &QAction::triggered, this, [] { clearBrowserCache(true); });
    tools->addSeparator();
    m_savePageSourceAction = tools->addAction(QStringLiteral("网页源码另存为"));
    connect(m_savePageSourceAction, &QAction::triggered, this, [this] { savePageSource(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    m_aboutAction = help->addAction(QStringLiteral("关于(&A)"));
    connect(m_aboutAction, &QAction::triggered, this, &SearchWindow::showAbout);
    m_howToUseAction = help->addAction(QStringLiteral("使用方法"));
    connect(m_howToUseAction, &QAction::triggered, this, &SearchWindow::showHowToUse);
}

void SearchWindow::wireBrowser()
{
    Browser* b = m_browser;
    connect(b, &Browser::statusTextChange, this, [this](const QString& text) {
        // Beside a batch's summary the browser's idle "完成" would read as the
        // batch's own word, even when every query failed.
        const bool besideSummary = !m_engine->batchRunning() && !m_engine->batchStatusText().isEmpty();
        m_browserStatusPanel->setText(besideSummary && text == QStringLiteral("完成") ? QString() : text);
    });
    connect(b, &Browser::beforeNavigate, this, [this](const QString&) { m_statusBar->setVisible(true); });
    // Paging that a hostile or broken service ended, and queries that found
    // no result page, are told in the status bar (the batch goes on).
    auto tell = [this](const QString& text) {
        m_statusBar->setVisible(true);
        m_browserStatusPanel->setText(text);
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

void SearchWindow::showRowCount()
{
    m_linkCountLabel->setText(QString::number(m_engine->links()->size()));
}

void SearchWindow::clearLinks(linkops::ClearRule rule)
{
    // Repainting waits until the removal is done.
    m_linksView->setUpdatesEnabled(false);
    linkops::clearCommand(*m_engine->links(), m_engine->handOverRunning(), rule, m_engine->isRowSelected);
    m_linksView->setUpdatesEnabled(true);
    showRowCount();
}

void SearchWindow::removeSelected() { clearLinks(linkops::ClearRule::Selected); }
void SearchWindow::removeAnalysed() { clearLinks(linkops::ClearRule::HandedOver); }
void SearchWindow::removeTitleContaining() { clearLinks(linkops::ClearRule::TitleContains); }
void SearchWindow::removeTitleNotContaining() { clearLinks(linkops::ClearRule::TitleLacks); }

void SearchWindow::removeAll()
{
    if (linkops::clearAllCommand(*m_engine->links(), m_engine->handOverRunning()))
        showRowCount();
}

void SearchWindow::exportClicked()
{
    linkops::exportCommand(*m_engine->links());
}

QCoro::Task<void> SearchWindow::savePageSource()
{
    // Nothing of the window is touched after the wait: it may close meanwhile.
    co_await linkops::savePageSourceCommand(m_browser);
}

void SearchWindow::openAddress()
{
    const std::optional<QString> answer =
        Prompter::instance().input(QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."), QString());
    if (!answer)
        return;
    const QString address = trimSpaces(*answer);
    if (address.isEmpty())
        return;
    m_browser->navigate(address);
}

void SearchWindow::silenceScriptDialogsToggled()
{
    m_browser->setSilent(m_silenceScriptDialogsCheck->isChecked());
}

void SearchWindow::showAbout()
{
    windows::showAbout();
}

void SearchWindow::showHowToUse()
{
    HelpWindow::showModal(this);
}

void SearchWindow::showButtons()
{
    applyButton(m_batchSearchButton, m_engine->batchButton());
    applyButton(m_addAllButton, m_engine->addAllButton());
}

void SearchWindow::applyServiceProfile(const ServiceProfile& profile)
{
    // The texts that name the service take the profile's name.
    m_engine->profile = profile;
    setWindowTitle(secondaryCaption(profile.name + QStringLiteral("页面数据检索分析")));
    m_openSearchPageAction->setText(QStringLiteral("打开%1搜索首页").arg(profile.name));
    // The status bar names it, beside 演示模式 when the demo runs.
    auto* label = m_statusBar->findChild<QLabel*>(QStringLiteral("LabelServiceProfile"));
    if (!label) {
        label = new QLabel(m_statusBar);
        label->setObjectName(QStringLiteral("LabelServiceProfile"));
        m_statusBar->addPermanentWidget(label);
    }
    label->setText(QStringLiteral("搜索服务配置：%1").arg(profile.name));
    label->setToolTip(QStringLiteral("查询地址：%1").arg(profile.query));
    services::showSearchServiceMode(this);
}

void SearchWindow::load()
{
    auto& st = SettingsStore::instance();
    auto& g = globals();
    g.promptOnExtract = st.getFlag(keys::promptOnExtract);
    if (g.searchBaseAddress.isEmpty())
        g.searchBaseAddress = services::searchBaseFor(serviceBaseFromSettings(keys::searchServiceBase));
    m_engine->searchBase = g.searchBaseAddress;
    m_engine->maxPagesPerQuery = std::max(0, st.getInt(keys::searchPagesPerQuery));
    m_engine->extractOptions.excludedDomain = st.get(keys::excludedSuffixDomain);
    applyServiceProfile(activeServiceProfile(st));

    QString kw = st.get(keys::searchKeywords);
    m_keywordsEdit->setPlainText(kw.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    const int idx = st.getInt(keys::searchDelayIndex);
    m_delayCombo->setCurrentIndex(idx >= 0 && idx < m_delayCombo->count() ? idx : 4);
    m_engine->delaySeconds = m_delayCombo->currentText().toInt();
    m_engine->typeTicked = {m_pdfCheck->isChecked(), m_docCheck->isChecked(), m_pptCheck->isChecked(), m_xlsCheck->isChecked()};
    m_engine->wholeKeywords = m_exactPhraseCheck->isChecked();
    m_engine->extractOptions.removeSpaces = m_stripTitleSpacesCheck->isChecked();
    m_engine->extractOptions.dropUnknownType = m_skipUnknownTypeCheck->isChecked();
    showButtons();
    // The search home page, without waiting for it.
    m_browser->navigate(m_engine->profile.homeAddress(m_engine->searchBase));
}

void SearchWindow::focusArea(int step)
{
    // The three places a user works in, in reading order.
    QWidget* areas[] = {m_keywordsEdit, m_browser->view(), m_linksView};
    constexpr int n = int(std::size(areas));
    int at = -1;
    for (int i = 0; i < n && at < 0; ++i) {
        if (QWidget* f = QApplication::focusWidget(); f && (f == areas[i] || areas[i]->isAncestorOf(f)))
            at = i;
    }
    const int next = at < 0 ? 0 : ((at + step) % n + n) % n;
    areas[next]->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void SearchWindow::batchSearchClicked()
{
    m_engine->batchSearch(m_keywordsEdit->toPlainText());
}

void SearchWindow::addAllClicked()
{
    m_engine->addAllPages();
}

void SearchWindow::addPageClicked()
{
    m_engine->addCurrentPage();
}

void SearchWindow::analyseClicked()
{
    m_analyseButton->setEnabled(false);
    if (m_engine->links()->size() == 0) {
        Prompter::instance().message(QStringLiteral("列表没有数据哦！"), MessageIcon::Information);
    } else if (!m_linksView->selectionModel() || !m_linksView->selectionModel()->hasSelection()) {
        handOverOrSay(this, m_engine.get(), HandOverRule::All);
    } else {
        // Below the button, where a keyboard user looks (the mouse is there too after a click).
        m_addMenu->popup(m_analyseButton->mapToGlobal(QPoint(0, m_analyseButton->height())));
        m_addMenu->setActiveAction(m_addMenu->actions().value(0));
    }
    m_analyseButton->setEnabled(true);
}

QCoro::Task<void> SearchWindow::autoAnalyseToggled()
{
    if (!m_autoAnalyseCheck->isChecked()) {
        m_autoAnalyseTimer->stop();
        co_return;
    }
    QPointer<SearchWindow> self(this);
    std::shared_ptr<SearchEngine> engine = m_engine;
    const bool ok = co_await engine->prepareAutoMode();
    if (!self)
        co_return;
    if (ok) {
        m_autoAnalyseTimer->start();
    } else {
        m_autoAnalyseTimer->stop();
        m_autoAnalyseCheck->setChecked(false);
    }
}

void SearchWindow::closeEvent(QCloseEvent* e)
{
    // Collected links that never reached the download list would be lost.
    if (const int unsent = m_engine->linksNotHandedOver(); unsent > 0 && !m_engine->detached()) {
        if (!Prompter::instance().question(
                QStringLiteral("还有 %1 个链接没有加入下载列表，要关闭吗？").arg(unsent))) {
            e->ignore();
            return;
        }
    }
    // Every run stops; the engine outlives the window until its runs have
    // wound down.
    m_engine->detach();
    auto& st = SettingsStore::instance();
    // The store keeps CR LF line ends, as the keyword list is split at CR LF.
    QString text = m_keywordsEdit->toPlainText();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    st.save(keys::searchKeywords, text);
    st.save(keys::searchDelayIndex, QString::number(m_delayCombo->currentIndex()));
    m_autoAnalyseTimer->stop();
    windows::coverBackIfLastMainWindow("fWebSearch");
    e->accept();
}

} // namespace dh
