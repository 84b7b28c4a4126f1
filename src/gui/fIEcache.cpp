#include "gui/fIEcache.h"

#include "app/AppInfo.h"
#include "gui/CacheWiring.h"
#include "gui/DesktopIntegration.h"
#include "gui/Form_Copy_Move.h"
#include "platform/Prompter.h"

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
QTreeWidget* makeList(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* l = new QTreeWidget(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setHeaderLabels(headers);
    l->setRootIsDecorated(false);
    l->setUniformRowHeights(true);
    l->setEditTriggers(QAbstractItemView::NoEditTriggers);
    l->setSelectionMode(QAbstractItemView::ExtendedSelection);
    StripeListRows(l);
    return l;
}

constexpr int kColumns = 8;

// Writes only what differs, so that the state updates of a big listing stay cheap.
void fillItem(QTreeWidgetItem* item, const CacheEntry& e)
{
    const QString texts[kColumns]{e.url, e.type, e.size, e.filePath, stateText(e), e.site,
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

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}
} // namespace

fIEcache::fIEcache(QWidget* parent, std::unique_ptr<CacheIndex> index, std::optional<CacheLocations> locations)
    : QDialog(parent), m_index(index ? std::move(index) : makeCurrentCacheIndex())
{
    setObjectName(QStringLiteral("fIEcache"));
    setWindowTitle(secondaryCaption(QStringLiteral("IE浏览器Cookie 缓存和历史列表")));
    m_viewer = std::make_unique<CacheViewer>(m_index.get(), locations ? *locations : currentCacheLocations());

    ListView1 = makeList(this, "ListView1",
                         {QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"),
                          QStringLiteral("FilePath"), QStringLiteral("状态"), QStringLiteral("站点"),
                          QStringLiteral("修改时间"), QStringLiteral("访问时间")});
    ListView1->header()->setSectionsClickable(true);
    // Fitting columns measures this many rows besides the visible ones, so
    // that fitting a list of thousands of rows stays quick.
    ListView1->header()->setResizeContentsPrecision(200);
    ListView1->header()->setSortIndicatorShown(false);  // until the first sort
    ListView2 = makeList(this, "ListView2", {QStringLiteral("用户名"), QStringLiteral("文件夹")});
    ListView3 = makeList(this, "ListView3", {QStringLiteral("文件夹")});
    m_listing = std::make_unique<CacheListing>(m_viewer.get());
    m_viewer->relist = [this] { startListing(); };
    connect(m_listing.get(), &CacheListing::rowsAdded, this, [this](int first, int count) {
        QList<QTreeWidgetItem*> items;
        items.reserve(count);
        for (int i = first; i < first + count; ++i)
            items << makeItem(m_viewer->rows[static_cast<std::size_t>(i)]);
        ListView1->addTopLevelItems(items);
        Label1->setText(m_viewer->countText);
        if (first == 0)
            AutoSizeColumns(ListView1);
    });
    connect(m_listing.get(), &CacheListing::rowsChanged, this, [this](const QList<int>& rows) {
        for (int r : rows)
            refreshRow(r);
    });
    connect(m_listing.get(), &CacheListing::listedAll, this, [this] {
        Label1->setText(m_viewer->countText);
        AutoSizeColumns(ListView1);
    });
    Label1 = new QLabel(m_viewer->countText, this);
    Label1->setObjectName(QStringLiteral("Label1"));

    Command1 = makeButton(this, "Command1", "查看我的缓存");
    Command7 = makeButton(this, "Command7", "查看所有用户缓存");
    Command6 = makeButton(this, "Command6", "复制选中...");
    Command2 = makeButton(this, "Command2", "删除所选文件");
    Command3 = makeButton(this, "Command3", "全部删除");
    Command4 = makeButton(this, "Command4", "关闭");

    auto* top = new QVBoxLayout(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(ListView1);
    auto* lower = new QSplitter(Qt::Horizontal, split);
    lower->addWidget(ListView2);
    lower->addWidget(ListView3);
    split->addWidget(lower);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    top->addWidget(split, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(Label1, 1);
    for (QPushButton* b : {Command1, Command7, Command6, Command2, Command3, Command4})
        buttons->addWidget(b);
    top->addLayout(buttons);
    resize(900, 560);

    connect(Command1, &QPushButton::clicked, this, &fIEcache::Command1_Click);
    connect(Command7, &QPushButton::clicked, this, &fIEcache::Command7_Click);
    connect(Command6, &QPushButton::clicked, this, &fIEcache::Command6_Click);
    connect(Command2, &QPushButton::clicked, this, &fIEcache::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &fIEcache::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &QDialog::close);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { ListView1_ColumnClick(logical + 1); });
}

fIEcache::~fIEcache()
{
    if (m_extract) {
        m_extract->wait();
        delete m_extract;
    }
}

void fIEcache::refreshRow(int row)
{
    if (row < 0 || row >= ListView1->topLevelItemCount() || row >= static_cast<int>(m_viewer->rows.size()))
        return;
    fillItem(ListView1->topLevelItem(row), m_viewer->rows[static_cast<std::size_t>(row)]);
}

void fIEcache::startListing()
{
    ListView1->clear();
    ListView2->clear();
    ListView3->clear();
    m_listing->start();
    Label1->setText(m_viewer->countText);
}

void fIEcache::showLists()
{
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_viewer->rows.size()));
    for (const CacheEntry& e : m_viewer->rows)
        items << makeItem(e);
    ListView1->addTopLevelItems(items);
    ListView2->clear();
    for (const CacheUserRow& u : m_viewer->users)
        ListView2->addTopLevelItem(new QTreeWidgetItem(QStringList{u.user, u.folder}));
    ListView3->clear();
    for (const QString& f : m_viewer->folders)
        ListView3->addTopLevelItem(new QTreeWidgetItem(QStringList{f}));
    Label1->setText(m_viewer->countText);
}

std::vector<int> fIEcache::selectedRows() const
{
    std::vector<int> out;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        if (ListView1->topLevelItem(i)->isSelected())
            out.push_back(i);
    }
    return out;
}

void fIEcache::Command1_Click()
{
    if (extracting())
        return;
    // The listing fills the list from a worker thread; the window stays live.
    startListing();
}

void fIEcache::Command7_Click()
{
    if (extracting())
        return;
    m_listing->stop();
    m_viewer->Command7_Click();
    showLists();
    AutoSizeColumns(ListView1);
    AutoSizeColumns(ListView2);
    AutoSizeColumns(ListView3);
}

void fIEcache::Command6_Click()
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
        Label1->setText(m_viewer->countText);
        for (QPushButton* b : {Command1, Command7, Command6, Command2, Command3})
            b->setEnabled(true);
        openCopyDialog(sel);
    });
    for (QPushButton* b : {Command1, Command7, Command6, Command2, Command3})
        b->setEnabled(false);
    Label1->setText(QStringLiteral("正在解码所选的 %1 个条目……").arg(ids.size()));
    m_extract->start();
}

void fIEcache::openCopyDialog(const std::vector<int>& sel)
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

void fIEcache::Command2_Click()
{
    if (m_viewer->rows.empty() || busy())
        return;
    m_viewer->deleteSelected(selectedRows());
    showLists();
    AutoSizeColumns(ListView1);
}

void fIEcache::Command3_Click()
{
    if (busy())
        return;
    m_viewer->Command3_Click();
    showLists();
    AutoSizeColumns(ListView1);
}

void fIEcache::ListView1_ColumnClick(int column)
{
    if (busy())
        return;
    m_viewer->sortBy(column);
    showLists();
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(column - 1, m_viewer->descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

fIEcache* showCacheViewer(QWidget* parent)
{
    auto* w = new fIEcache(parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->open();
    return w;
}

} // namespace dh
