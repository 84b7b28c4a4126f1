#include "CellTexts.h"
#include "download/DownloadListModel.h"
#include "search/LinksListModel.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace dh;
using dh::test::setCellTexts;

namespace {
void addN(DownloadListModel& m, int n)
{
    for (int i = 0; i < n; ++i)
        m.addItem(QStringLiteral("http://h/%1.pdf").arg(i), QStringLiteral("n%1").arg(i), "pdf", "/tmp/d/", "r");
}
} // namespace

TEST(DownloadList, AddingKeepsAddressesUniqueAndReportsSuccess)
{
    DownloadListModel m;
    EXPECT_TRUE(m.addItem("http://h/a.pdf", "a", "pdf", "/d/", "ref"));
    setCellTexts(m, 0, "100", "50", "50%");
    EXPECT_TRUE(m.addItem("http://h/a.pdf", "other", "doc", "/e/", "x"));
    ASSERT_EQ(m.size(), 1);
    EXPECT_EQ(m.item(0).name, "a");
    EXPECT_EQ(cellText(m.item(0), DownloadListModel::ColProgress), "50%");
    EXPECT_EQ(m.item(0).referer, "ref");
    EXPECT_EQ(m.item(0).state, DownloadState::Waiting);

    std::vector<DownloadItem> batch(3);
    batch[0].url = "http://h/a.pdf";
    batch[1].url = "http://h/b.pdf";
    batch[2].url = "http://h/b.pdf";
    EXPECT_EQ(m.addItems(batch), 1);
    EXPECT_EQ(m.size(), 2);
    EXPECT_EQ(m.findUrl("http://h/b.pdf"), 1);
    EXPECT_EQ(m.findUrl("http://h/none"), -1);
}

TEST(DownloadList, IndexFollowsRemovalReorderAndAddressChanges)
{
    DownloadListModel m;
    addN(m, 6);
    m.removeRows({4, 1, 1, 99});
    ASSERT_EQ(m.size(), 4);
    const char* expected[] = {"n0", "n2", "n3", "n5"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m.item(i).name, expected[i]);
        EXPECT_EQ(m.findUrl(m.item(i).url), i);
    }
    m.reorder({3, 2, 1, 0});
    EXPECT_EQ(m.item(0).name, "n5");
    EXPECT_EQ(m.findUrl("http://h/5.pdf"), 0);
    m.reorder({0, 0, 1, 2});  // not a permutation: ignored
    EXPECT_EQ(m.item(0).name, "n5");

    DownloadItem it = m.item(1);
    it.url = "http://h/5.pdf";  // already taken by row 0
    EXPECT_FALSE(m.setItem(1, it));
    EXPECT_EQ(m.item(1).url, "http://h/3.pdf");
    it.url = "http://h/new.pdf";
    EXPECT_TRUE(m.setItem(1, it));
    EXPECT_EQ(m.findUrl("http://h/new.pdf"), 1);
    EXPECT_EQ(m.findUrl("http://h/3.pdf"), -1);
}

TEST(DownloadList, CountersAndFinishedTest)
{
    DownloadListModel m;
    EXPECT_EQ(m.updateListCounters(), QStringLiteral("总数:0 正在下载:0 等待:0 已完成:0 失败:0"));
    EXPECT_TRUE(m.isListFinished());
    EXPECT_EQ(m.rowCountText(), QStringLiteral("0条"));

    addN(m, 12);
    m.setState(0, DownloadState::Downloading);
    m.setState(1, DownloadState::Done);
    m.setState(2, DownloadState::Done);
    m.setState(3, DownloadState::Failed);
    EXPECT_EQ(m.updateListCounters(), QStringLiteral("总数:12 正在下载:1 等待:8 已完成:2 失败:1"));
    EXPECT_EQ(m.rowCountText(), QStringLiteral("12条"));
    EXPECT_FALSE(m.isListFinished());
    for (int i = 0; i < 12; ++i)
        m.setState(i, i % 2 ? DownloadState::Done : DownloadState::Failed);
    EXPECT_TRUE(m.isListFinished());

    // A failed row's reason is its progress cell's tooltip until it runs again.
    setCellTexts(m, 4, "100", "30", "30%");
    m.setFailed(4, QStringLiteral("网络错误：Connection closed"));
    const QModelIndex progress = m.index(4, DownloadListModel::ColProgress);
    EXPECT_EQ(m.data(progress, Qt::ToolTipRole).toString(), QStringLiteral("网络错误：Connection closed"));
    EXPECT_EQ(m.data(progress, Qt::DisplayRole).toString(), QStringLiteral("30%"));
    m.setState(4, DownloadState::Downloading);
    EXPECT_EQ(m.data(progress, Qt::ToolTipRole).toString(), QStringLiteral("30%"));
    EXPECT_TRUE(m.item(4).failReason.isEmpty());

    // Every way a row's state changes counts: removal, a whole row set, clearing.
    EXPECT_FALSE(m.isListFinished());
    m.removeRows({4});
    EXPECT_TRUE(m.isListFinished());
    DownloadItem again = m.item(0);
    again.state = DownloadState::Waiting;
    m.setItem(0, again);
    EXPECT_FALSE(m.isListFinished());
    m.clear();
    EXPECT_TRUE(m.isListFinished());
}

TEST(DownloadList, NotYetDownloadedAndBadRows)
{
    DownloadListModel m;
    addN(m, 4);
    m.setState(0, DownloadState::Failed);                  // failed with empty cells: counted as not downloaded
    setCellTexts(m, 1, QStringLiteral("等待重新下载"), "", "");  // waiting but touched: not counted
    setCellTexts(m, 2, "10", "10", "100%");
    m.setState(2, DownloadState::Done);
    EXPECT_EQ(m.countNotDownloaded(), 2);

    DownloadItem web = m.item(2);
    web.fileType = "HTML";
    web.state = DownloadState::Failed;  // both a web page and failed: counted once
    m.setItem(2, web);
    DownloadItem htm = m.item(3);
    htm.fileType = "htm";
    m.setItem(3, htm);
    EXPECT_EQ(m.countBadRows(), 3);
}

TEST(DownloadList, ItemFilePath)
{
    EXPECT_EQ(itemFilePath("/doc", "a", "pdf"), "/doc/a.pdf");
    EXPECT_EQ(itemFilePath("/doc/", "a", "pdf"), "/doc/a.pdf");
    EXPECT_EQ(itemFilePath("/doc", "a", ""), "/doc/a");
}

TEST(DownloadList, ModelShowsSixCaptionedColumns)
{
    DownloadListModel m;
    const char* captions[] = {"名称", "类型", "文件大小", "已下载数", "百分比", "保存路径"};
    ASSERT_EQ(m.columnCount(), 6);
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8(captions[c]));
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.addItem("u", "n", "pdf", "/f/", "");
    setCellTexts(m, 0, "1", "1", "100%");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m.data(m.index(0, DownloadListModel::ColProgress), Qt::DisplayRole).toString(), "100%");
}

// Both list models remove a few runs one by one and many scattered rows in
// one pass; either way the rest keeps its order and the address index.
TEST(DownloadList, BulkRemovalKeepsOrderAndIndexInBothLists)
{
    struct Case {
        const char* name;
        std::vector<int> rows;
    };
    std::vector<int> everyOther, everyThird;
    for (int i = 1; i < 100; i += 2)
        everyOther.push_back(i);
    for (int i = 99; i >= 0; i -= 3)
        everyThird.push_back(i);
    everyThird.push_back(-1);
    everyThird.push_back(99);
    const Case cases[] = {
        {"two runs", {10, 11, 12, 50, 99, 51}},
        {"every other row", everyOther},
        {"every third, unordered, repeated and out of range", everyThird},
        {"all", [] { std::vector<int> v(100); for (int i = 0; i < 100; ++i) v[size_t(i)] = i; return v; }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> kept;
        for (int i = 0; i < 100; ++i) {
            if (std::find(c.rows.begin(), c.rows.end(), i) == c.rows.end())
                kept.push_back(i);
        }
        DownloadListModel downloads;
        addN(downloads, 100);
        LinksListModel links;
        for (int i = 0; i < 100; ++i)
            links.add({QStringLiteral("t%1").arg(i), QStringLiteral("http://h/%1.pdf").arg(i), "pdf", "", "", ""});
        downloads.removeRows(c.rows);
        links.removeRows(c.rows);
        ASSERT_EQ(downloads.size(), int(kept.size()));
        ASSERT_EQ(links.size(), int(kept.size()));
        for (int r = 0; r < int(kept.size()); ++r) {
            const QString url = QStringLiteral("http://h/%1.pdf").arg(kept[size_t(r)]);
            EXPECT_EQ(downloads.item(r).url, url);
            EXPECT_EQ(downloads.findUrl(url), r);
            EXPECT_EQ(links.item(r).url, url);
            EXPECT_EQ(links.findUrl(url), r);
        }
        for (int gone : c.rows) {
            if (gone >= 0 && gone < 100) {
                EXPECT_EQ(downloads.findUrl(QStringLiteral("http://h/%1.pdf").arg(gone)), -1);
                EXPECT_EQ(links.findUrl(QStringLiteral("http://h/%1.pdf").arg(gone)), -1);
            }
        }
    }
}

// A kept body goes with its row, and only the list's own calls move it.
TEST(DownloadList, KeptBodiesGoWithTheirRowsAndNothingElse)
{
    QTemporaryDir dir;
    const struct { const char* what; std::function<void(std::unique_ptr<DownloadListModel>&)> act; bool stays; } rows[] = {
        {"row removed", [](auto& m) { m->removeRows({0}); }, false},
        {"list cleared", [](auto& m) { m->clear(); }, false},
        {"list ended", [](auto& m) { m.reset(); }, false},
        {"other address", [](auto& m) { DownloadItem it = m->item(0); it.url = "http://h/b"; m->setItem(0, it); }, false},
        {"row edited from an old copy, then the list cleared",
         [](auto& m) { DownloadItem it = m->item(0); it.partial = {}; m->setItem(0, it); m->clear(); }, false},
        {"other row removed", [](auto& m) { m->removeRows({1}); }, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const QString path = dir.filePath(".dh-1.part");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("abc") == 3);
        f.close();
        auto m = std::make_unique<DownloadListModel>();
        addN(*m, 2);
        m->setPartial(0, PartialBody{path, "\"v\"", 3, 10});
        r.act(m);
        EXPECT_EQ(QFile::exists(path), r.stays);
        QFile::remove(path);
    }
}
