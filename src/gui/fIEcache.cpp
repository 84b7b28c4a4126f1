#include "gui/fIEcache.h"

#include "app/AppInfo.h"
#include "gui/CacheWiring.h"
#include "gui/DesktopIntegration.h"
#include "gui/Form_Copy_Move.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
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
                         {QStringLiteral("URL"), QStringLiteral("TYPE"), QStringLiteral("SIZE(Byte)"), QStringLiteral("FilePath")});
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSortIndicatorShown(false);  // until the first sort
    ListView2 = makeList(this, "ListView2", {QStringLiteral("用户名"), QStringLiteral("文件夹")});
    ListView3 = makeList(this, "ListView3", {QStringLiteral("文件夹")});
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

fIEcache::~fIEcache() = default;

void fIEcache::showLists()
{
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_viewer->rows.size()));
    for (const CacheEntry& e : m_viewer->rows)
        items << new QTreeWidgetItem(QStringList{e.url, e.type, e.size, e.filePath});
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
    m_viewer->Command1_Click();
    showLists();
    AutoSizeColumns(ListView1);
}

void fIEcache::Command7_Click()
{
    m_viewer->Command7_Click();
    showLists();
    AutoSizeColumns(ListView1);
    AutoSizeColumns(ListView2);
    AutoSizeColumns(ListView3);
}

void fIEcache::Command6_Click()
{
    showCopyDialog(this, m_viewer->selectedFilePaths(selectedRows()));
}

void fIEcache::Command2_Click()
{
    if (m_viewer->rows.empty())
        return;
    m_viewer->deleteSelected(selectedRows());
    showLists();
}

void fIEcache::Command3_Click()
{
    m_viewer->Command3_Click();
    showLists();
}

void fIEcache::ListView1_ColumnClick(int column)
{
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
