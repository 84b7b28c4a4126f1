#include "gui/CacheViewerWindow.h"

#include "app/AppInfo.h"
#include "gui/CacheWiring.h"
#include "gui/DesktopIntegration.h"
#include "gui/CopyFilesWindow.h"
#include "ports/Prompter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace dh {

namespace {
QTreeWidget* makeList(QWidget* parent, const QStringList& headers)
{
    auto* l = new QTreeWidget(parent);
    l->setHeaderLabels(headers);
    l->setRootIsDecorated(false);
    l->setUniformRowHeights(true);
    l->setEditTriggers(QAbstractItemView::NoEditTriggers);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    stripeListRows(l);
    return l;
}

constexpr int kColumns = 8;

// Writes only what differs, so that the state updates of a big listing stay cheap.
void fillItem(QTreeWidgetItem* item, const CacheEntry& e)
{
    const QString texts[kColumns]{addressCellText(e), e.type, e.size, e.filePath, stateText(e), e.site,
                                  dateText(e.modified), dateText(e.accessed)};
    const bool damaged = e.state == CacheIndex::State::Damaged;
    for (int c = 0; c < kColumns; ++c) {
        if (item->text(c) != texts[c])
            item->setText(c, texts[c]);
        if (item->toolTip(c) != e.reason)
            item->setToolTip(c, e.reason);
        if (damaged)
            item->setForeground(c, QColor(Qt::red));
        else if (item->data(c, Qt::ForegroundRole).isValid())
            item->setData(c, Qt::ForegroundRole, QVariant());
    }
}

QTreeWidgetItem* makeItem(const CacheEntry& e)
{
    auto* item = new QTreeWidgetItem;
    fillItem(item, e);
    return item;
}

QPushButton* makeButton(QWidget* parent, const char* caption)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setAutoDefault(false);
    return b;
}
} // namespace

CacheViewerWindow::CacheViewerWindow(QWidget* parent, std::unique_ptr<CacheIndex> index, std::optional<CacheLocations> locations)
    : QDialog(parent), m_index(index ? std::move(index) : makeCurrentCacheIndex())
{
    setWindowTitle(secondaryCaption(QStringLiteral("IE浏览器Cookie 缓存和历史列表")));
    m_viewer = std::make_unique<CacheViewer>(m_index.get(), locations ? *locations : currentCacheLocations());

    m_entriesView = makeList(this, {QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"),
                                    QStringLiteral("FilePath"), QStringLiteral("状态"), QStringLiteral("站点"),
                                    QStringLiteral("修改时间"), QStringLiteral("访问时间")});
    m_entriesView->header()->setSectionsClickable(true);
    // Fitting columns measures this many rows besides the visible ones, so
    // that fitting a list of thousands of rows stays quick.
    m_entriesView->header()->setResizeContentsPrecision(200);
    m_entriesView->header()->setSortIndicatorShown(false);  // until the first sort
    // Named for the messages of the window tests that check its rows.
    m_entriesView->setObjectName(QStringLiteral("cacheEntriesView"));  // looked up by the listing benchmark
    m_usersView = makeList(this, {QStringLiteral("用户名"), QStringLiteral("文件夹")});
    m_foldersView = makeList(this, {QStringLiteral("文件夹")});
    m_entriesView->setAccessibleName(QStringLiteral("缓存的文件"));
    m_usersView->setAccessibleName(QStringLiteral("用户"));
    m_foldersView->setAccessibleName(QStringLiteral("缓存文件夹"));
    m_listing = std::make_unique<CacheListing>(m_viewer.get());
    m_viewer->relist = [this] {
        if (m_viewer->viewMode == QLatin1String("所有缓存"))
            showAllUsersCache();
        else
            startListing();
    };
    connect(m_listing.get(), &CacheListing::rowsAdded, this, [this](int first, int count) {
        QList<QTreeWidgetItem*> items;
        items.reserve(count);
        for (int i = first; i < first + count; ++i)
            items << makeItem(m_viewer->rows[static_cast<std::size_t>(i)]);
        m_entriesView->addTopLevelItems(items);
        m_countLabel->setText(m_viewer->countText);
        if (first == 0)
            autoSizeColumns(m_entriesView);
    });
    connect(m_listing.get(), &CacheListing::rowsChanged, this, [this](const QList<int>& rows) {
        for (int r : rows)
            refreshRow(r);
    });
    connect(m_listing.get(), &CacheListing::countChanged, this,
            [this] { m_countLabel->setText(m_viewer->countText); });
    connect(m_listing.get(), &CacheListing::usersListed, this, [this] {
        for (const CacheUserRow& u : m_viewer->users)
            m_usersView->addTopLevelItem(new QTreeWidgetItem(QStringList{u.user, u.folder}));
        QList<QTreeWidgetItem*> items;
        items.reserve(m_viewer->folders.size());
        for (const QString& f : m_viewer->folders)
            items << new QTreeWidgetItem(QStringList{f});
        m_foldersView->addTopLevelItems(items);
        autoSizeColumns(m_usersView);
        autoSizeColumns(m_foldersView);
    });
    connect(m_listing.get(), &CacheListing::listedAll, this, [this] {
        m_countLabel->setText(m_viewer->countText);
        autoSizeColumns(m_entriesView);
    });
    m_countLabel = new QLabel(m_viewer->countText, this);
    m_countLabel->setObjectName(QStringLiteral("cacheCountLabel"));  // looked up by the listing benchmark

    m_myCacheButton = makeButton(this, "查看我的缓存");
    m_allUsersCacheButton = makeButton(this, "查看所有用户缓存");
    m_copySelectedButton = makeButton(this, "复制选中...");
    m_deleteSelectedButton = makeButton(this, "删除所选文件");
    m_deleteAllButton = makeButton(this, "全部删除");
    m_closeButton = makeButton(this, "关闭");

    auto* top = new QVBoxLayout(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_entriesView);
    auto* lower = new QSplitter(Qt::Horizontal, split);
    lower->addWidget(m_usersView);
    lower->addWidget(m_foldersView);
    split->addWidget(lower);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    top->addWidget(split, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(m_countLabel, 1);
    for (QPushButton* b : {m_myCacheButton, m_allUsersCacheButton, m_copySelectedButton, m_deleteSelectedButton, m_deleteAllButton, m_closeButton})
        buttons->addWidget(b);
    top->addLayout(buttons);
    placeWindow(this, QSize(900, 560), parentWidget());

    connect(m_myCacheButton, &QPushButton::clicked, this, &CacheViewerWindow::showMyCache);
    connect(m_allUsersCacheButton, &QPushButton::clicked, this, &CacheViewerWindow::showAllUsersCache);
    connect(m_copySelectedButton, &QPushButton::clicked, this, &CacheViewerWindow::copySelected);
    connect(m_deleteSelectedButton, &QPushButton::clicked, this, &CacheViewerWindow::deleteSelected);
    connect(m_deleteAllButton, &QPushButton::clicked, this, &CacheViewerWindow::deleteAll);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::close);
    // A closed window needs no lists: a walk still running is abandoned.
    connect(this, &QDialog::finished, m_listing.get(), &CacheListing::stop);
    connect(m_entriesView->header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { sortEntriesByColumn(logical + 1); });
}

CacheViewerWindow::~CacheViewerWindow()
{
    if (m_extract) {
        m_extract->wait();
        delete m_extract;
    }
}

void CacheViewerWindow::refreshRow(int row)
{
    if (row < 0 || row >= m_entriesView->topLevelItemCount() || row >= static_cast<int>(m_viewer->rows.size()))
        return;
    fillItem(m_entriesView->topLevelItem(row), m_viewer->rows[static_cast<std::size_t>(row)]);
}

void CacheViewerWindow::startListing()
{
    m_entriesView->clear();
    m_usersView->clear();
    m_foldersView->clear();
    m_listing->start();
    m_countLabel->setText(m_viewer->countText);
}

void CacheViewerWindow::showLists()
{
    m_entriesView->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_viewer->rows.size()));
    for (const CacheEntry& e : m_viewer->rows)
        items << makeItem(e);
    m_entriesView->addTopLevelItems(items);
    m_usersView->clear();
    for (const CacheUserRow& u : m_viewer->users)
        m_usersView->addTopLevelItem(new QTreeWidgetItem(QStringList{u.user, u.folder}));
    m_foldersView->clear();
    for (const QString& f : m_viewer->folders)
        m_foldersView->addTopLevelItem(new QTreeWidgetItem(QStringList{f}));
    m_countLabel->setText(m_viewer->countText);
}

std::vector<int> CacheViewerWindow::selectedRows() const
{
    std::vector<int> out;
    for (int i = 0; i < m_entriesView->topLevelItemCount(); ++i) {
        if (m_entriesView->topLevelItem(i)->isSelected())
            out.push_back(i);
    }
    return out;
}

void CacheViewerWindow::showMyCache()
{
    if (extracting())
        return;
    // The listing fills the list from a worker thread; the window stays live.
    startListing();
}

void CacheViewerWindow::showAllUsersCache()
{
    if (extracting())
        return;
    // The walk over every home runs on a worker thread; a click while one
    // runs stops it and starts afresh.
    m_entriesView->clear();
    m_usersView->clear();
    m_foldersView->clear();
    m_listing->startAllUsers();
    m_countLabel->setText(m_viewer->countText);
}

void CacheViewerWindow::copySelected()
{
    if (busy())
        return;
    const std::vector<int> sel = selectedRows();
    const QStringList ids = m_viewer->idsNeedingFiles(sel);
    if (ids.isEmpty()) {
        openCopyDialog(sel);
        return;
    }
    // Bodies are decoded once, for the rows being copied, on a worker thread
    // so that a big body does not freeze the window.
    auto results = std::make_shared<std::vector<std::pair<QString, CacheIndex::LocalFile>>>();
    CacheIndex* index = m_index.get();
    index->beginWriteRun();  // each copy has its own allowance of decoded bytes
    m_extract = QThread::create([index, ids, results] {
        for (const QString& id : ids) {
            try {
                results->emplace_back(id, index->entryFile(id));
            } catch (const std::exception&) {
            }
        }
    });
    connect(m_extract, &QThread::finished, this, [this, sel, results] {
        m_extract->wait();
        delete m_extract;
        m_extract = nullptr;
        for (const auto& [id, file] : *results)
            m_viewer->applyLocalFile(id, file);
        m_countLabel->setText(m_viewer->countText);
        for (QPushButton* b : {m_myCacheButton, m_allUsersCacheButton, m_copySelectedButton, m_deleteSelectedButton, m_deleteAllButton})
            b->setEnabled(true);
        openCopyDialog(sel);
    });
    for (QPushButton* b : {m_myCacheButton, m_allUsersCacheButton, m_copySelectedButton, m_deleteSelectedButton, m_deleteAllButton})
        b->setEnabled(false);
    m_countLabel->setText(QStringLiteral("正在解码所选的 %1 个条目……").arg(ids.size()));
    m_extract->start();
}

void CacheViewerWindow::openCopyDialog(const std::vector<int>& sel)
{
    int refused = 0;
    const QStringList files = m_viewer->selectedFilePaths(sel, &refused);
    for (int r : sel)
        refreshRow(r);
    if (refused > 0)
        Prompter::instance().message(
            QStringLiteral("%1 个所选条目已损坏或无法解码，不会被复制（原因见该行的提示）。").arg(refused),
            MessageIcon::Exclamation);
    showCopyDialog(this, files);
}

void CacheViewerWindow::deleteSelected()
{
    if (m_viewer->rows.empty() || busy())
        return;
    m_viewer->deleteSelected(selectedRows());
    showLists();
    autoSizeColumns(m_entriesView);
}

void CacheViewerWindow::deleteAll()
{
    if (busy())
        return;
    m_viewer->deleteAll();
    showLists();
    autoSizeColumns(m_entriesView);
}

void CacheViewerWindow::sortEntriesByColumn(int column)
{
    if (busy())
        return;
    m_viewer->sortBy(column);
    showLists();
    m_entriesView->header()->setSortIndicatorShown(true);
    m_entriesView->header()->setSortIndicator(column - 1, m_viewer->descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

CacheViewerWindow* showCacheViewer(QWidget* parent)
{
    auto* w = new CacheViewerWindow(parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->open();
    return w;
}

} // namespace dh
