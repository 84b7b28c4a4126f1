// The download list's commands without the window: filters, resets, orders,
// exports and the address replacement.
#include "CellTexts.h"
#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "ports/SystemCodePage.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace dh::test {
namespace {

using S = DownloadState;

struct Row {
    QString name;
    QString type;
    S state;
    QString size = {};
    QString received = {};
    QString progress = {};
};

class ListOps : public ::testing::Test {
protected:
    QTemporaryDir dir;
    DownloadListModel list;

    QString folder() const { return dir.path() + "/"; }

    void add(const Row& r, bool withFile = false)
    {
        const int i = list.size();
        list.addItem("http://h/" + r.name, r.name, r.type, folder(), "http://h/ref/" + r.name);
        DownloadItem it = list.item(i);
        it.state = r.state;
        setCellTexts(it, r.size, r.received, r.progress);
        list.setItem(i, it);
        if (withFile) {
            // As a transfer of the row would have created it.
            touch(itemFilePath(it));
            list.setOwnedFile(i, itemFilePath(it));
        }
    }
    static void touch(const QString& path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    QStringList names() const
    {
        QStringList n;
        for (int i = 0; i < list.size(); ++i)
            n << list.item(i).name;
        return n;
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < list.size(); ++i) {
            const DownloadItem& it = list.item(i);
            out << (c == DownloadListModel::ColSize       ? cellText(it, DownloadListModel::ColSize)
                        : c == DownloadListModel::ColReceived ? cellText(it, DownloadListModel::ColReceived)
                                                              : cellText(it, DownloadListModel::ColProgress));
        }
        return out;
    }
};

TEST_F(ListOps, RedownloadFiltersMatchTheirRows)
{
    add({"waitHtml", "html", S::Waiting});
    add({"doneHTML", "HTML", S::Done, "10", "10", "100%"});
    add({"doneXml", "xml", S::Done, "10", "10", "100%"});
    add({"failedPdf", "pdf", S::Failed, "10", "3", "30%"});
    add({"donePdf", "pdf", S::Done, "10", "10", "100%"});
    add({"downHtm", "htm", S::Downloading, "10", "3", "30%"});
    add({"failedHtm", "htm", S::Failed});

    const struct {
        RedownloadFilter filter;
        std::vector<int> selected;
        std::vector<int> expected;
    } cases[] = {
        {RedownloadFilter::Failed, {}, {3, 6}},
        {RedownloadFilter::WebPages, {}, {1, 2, 6}},
        {RedownloadFilter::FailedAndWebPages, {}, {1, 3, 6}},
        {RedownloadFilter::Selected, {0, 4, 5, 4}, {4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(redownloadMatches(list, c.filter, c.selected), c.expected) << int(c.filter);
}

TEST_F(ListOps, WebPageRedownloadTurnsXmlIntoPlaceholderOthersKeepIt)
{
    add({"a", "HTML", S::Done, "10", "10", "100%"}, true);
    add({"b", "xml", S::Done, "10", "10", "100%"}, true);
    EXPECT_EQ(redownloadRows(list, RedownloadFilter::FailedAndWebPages), 1);
    EXPECT_EQ(list.item(0).fileType, "xxx");
    EXPECT_EQ(list.item(0).state, S::Waiting);
    EXPECT_EQ(list.item(1).fileType, "xml");
    EXPECT_EQ(list.item(1).state, S::Done);
    EXPECT_FALSE(QFile::exists(folder() + "a.HTML"));

    EXPECT_EQ(redownloadRows(list, RedownloadFilter::WebPages), 1);
    const DownloadItem& b = list.item(1);
    EXPECT_EQ(b.fileType, "xxx");
    EXPECT_EQ(b.state, S::Waiting);
    EXPECT_TRUE(cellText(b, DownloadListModel::ColSize).isEmpty() && cellText(b, DownloadListModel::ColReceived).isEmpty() && cellText(b, DownloadListModel::ColProgress).isEmpty());
    EXPECT_FALSE(QFile::exists(folder() + "b.xml"));
}

TEST_F(ListOps, ResetDeletesTheFileUnderOldAndNewType)
{
    add({"page", "htm", S::Failed}, true);
    touch(folder() + "page.xxx");
    resetForRedownload(list, 0);
    EXPECT_FALSE(QFile::exists(folder() + "page.htm"));
    // Not created by the row: it stays.
    EXPECT_TRUE(QFile::exists(folder() + "page.xxx"));
}

TEST_F(ListOps, SmallCompleteFilesBelowTheEnteredNumber)
{
    add({"small", "pdf", S::Done, "4096", "4096", "100%"});
    add({"partial", "pdf", S::Failed, "4096", "2000", "48%"});
    add({"unknown", "pdf", S::Done, "未知", "4096", "100%"});
    add({"big", "pdf", S::Done, "60000", "60000", "100%"});
    add({"comma", "pdf", S::Failed, "1,024", "1024", "100%"});
    add({"waiting", "pdf", S::Waiting, "10", "10", ""});
    EXPECT_EQ(redownloadMatches(list, RedownloadFilter::SmallComplete, {}, 50000), (std::vector<int>{0, 4}));
    EXPECT_EQ(redownloadMatches(list, RedownloadFilter::SmallComplete, {}, 4096), (std::vector<int>{4}));
}

TEST(ParseNumber, AcceptsPlainDecimalsOnly)
{
    const std::map<QString, std::optional<double>> cases = {
        {"50000", 50000}, {"  12  ", 12}, {"-3", -3}, {"2.5", 2.5}, {"1e3", 1000},
        {"abc", std::nullopt}, {"", std::nullopt}, {"   ", std::nullopt}, {"12abc", std::nullopt},
        {"1,000", std::nullopt}, {"\t5", std::nullopt},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(parseNumber(text), want) << text.toStdString();
}

TEST_F(ListOps, DeleteFilesKeepsRowsAndStates)
{
    add({"failed", "pdf", S::Failed, "10", "3", "30%"}, true);
    add({"doneXml", "XML", S::Done, "10", "10", "100%"}, true);
    add({"waitingHtm", "htm", S::Waiting, "", "", ""}, true);
    EXPECT_EQ(deleteFilesOfRows(list, DeleteFilter::Failed), 1);
    EXPECT_EQ(list.item(0).state, S::Failed);
    EXPECT_TRUE(cellText(list.item(0), DownloadListModel::ColProgress).isEmpty() && cellText(list.item(0), DownloadListModel::ColSize).isEmpty());
    EXPECT_FALSE(QFile::exists(folder() + "failed.pdf"));
    EXPECT_TRUE(QFile::exists(folder() + "doneXml.XML"));

    EXPECT_EQ(deleteFilesOfRows(list, DeleteFilter::WebPages), 1);
    EXPECT_EQ(list.item(1).state, S::Done);
    EXPECT_FALSE(QFile::exists(folder() + "doneXml.XML"));
    EXPECT_TRUE(QFile::exists(folder() + "waitingHtm.htm"));
    EXPECT_EQ(list.size(), 3);
}

// A row deletes only a file its own transfer created. A row that failed or
// was cancelled before its name was numbered still carries the bare name of
// a file that was there before or that another row downloaded.
TEST_F(ListOps, FilesTheRowDidNotCreateSurviveEveryDeletingCommand)
{
    const std::function<void()> commands[] = {
        [&] { resetFailedRowOnDoubleClick(list, 0); },
        [&] { redownloadRows(list, RedownloadFilter::Failed); },
        [&] { redownloadRows(list, RedownloadFilter::Selected, {0}); },
        [&] { deleteFilesOfRows(list, DeleteFilter::Failed); },
        [&] { resetForRedownload(list, 0); },
    };
    int n = 0;
    for (const auto& command : commands) {
        SCOPED_TRACE(n++);
        list.clear();
        add({"theirs", "pdf", S::Failed});
        touch(folder() + "theirs.pdf");
        command();
        EXPECT_TRUE(QFile::exists(folder() + "theirs.pdf"));
    }
}

TEST_F(ListOps, CancelTurnsOnlySelectedWaitingRowsFailed)
{
    add({"w", "pdf", S::Waiting});
    add({"d", "pdf", S::Done, "1", "1", "100%"});
    add({"f", "pdf", S::Failed});
    add({"w2", "pdf", S::Waiting});
    EXPECT_EQ(cancelWaitingRows(list, {0, 1, 2}), 1);
    EXPECT_EQ(list.item(0).state, S::Failed);
    EXPECT_EQ(list.item(1).state, S::Done);
    EXPECT_EQ(list.item(3).state, S::Waiting);
}

TEST_F(ListOps, DoubleClickResetKeepsTypeAndDeletesOnce)
{
    add({"f", "html", S::Failed, "10", "5", "50%"}, true);
    add({"d", "pdf", S::Downloading, "10", "5", "50%"});
    EXPECT_TRUE(resetFailedRowOnDoubleClick(list, 0));
    EXPECT_EQ(list.item(0).state, S::Waiting);
    EXPECT_EQ(list.item(0).fileType, "html");
    EXPECT_TRUE(cellText(list.item(0), DownloadListModel::ColReceived).isEmpty());
    EXPECT_FALSE(QFile::exists(folder() + "f.html"));
    EXPECT_FALSE(resetFailedRowOnDoubleClick(list, 1));
    EXPECT_EQ(cellText(list.item(1), DownloadListModel::ColProgress), "50%");
}

TEST_F(ListOps, RemovalSets)
{
    add({"a", "pdf", S::Failed});
    add({"b", "pdf", S::Done}, true);
    add({"c", "pdf", S::Failed});
    add({"d", "pdf", S::Waiting});
    EXPECT_EQ(removeRows(list, rowsInState(list, S::Failed)), 2);
    EXPECT_EQ(names(), QStringList({"b", "d"}));
    EXPECT_EQ(removeRows(list, rowsInState(list, S::Done)), 1);
    EXPECT_EQ(names(), QStringList({"d"}));
    EXPECT_TRUE(QFile::exists(folder() + "b.pdf"));  // removing a row never deletes its file
    EXPECT_EQ(list.findUrl("http://h/d"), 0);
}

TEST(Shuffle, ScriptedDrawsAndTheMoveBound)
{
    // Always the first remaining row: every row goes to the end once, in order.
    EXPECT_EQ(shuffleOrder(3, [](int) { return 1; }), (std::vector<int>{0, 1, 2}));
    // Always the last remaining row: the list comes out reversed.
    EXPECT_EQ(shuffleOrder(3, [](int n) { return n; }), (std::vector<int>{2, 1, 0}));
    // Second, first, first: 0 1 2 -> 0 2 1 -> 2 1 0 -> 1 0 2.
    std::vector<int> draws = {2, 1, 1};
    size_t k = 0;
    EXPECT_EQ(shuffleOrder(3, [&](int) { return draws[k++]; }), (std::vector<int>{1, 0, 2}));
    // With the bound reached, the rows not moved stay on top in their old order.
    EXPECT_EQ(shuffleOrder(5, [](int) { return 1; }, 2), (std::vector<int>{2, 3, 4, 0, 1}));
    // A source answering out of range still yields a permutation.
    std::vector<int> p = shuffleOrder(4, [](int) { return 99; });
    std::sort(p.begin(), p.end());
    EXPECT_EQ(p, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(shuffleOrder(0, [](int) { return 1; }).empty());
}

TEST(Shuffle, UniformOverAllOrders)
{
    QRandomGenerator gen(12345);
    std::map<std::vector<int>, int> seen;
    const int runs = 6000;
    for (int i = 0; i < runs; ++i)
        ++seen[shuffleOrder(3, [&](int n) { return int(gen.bounded(n)) + 1; })];
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& [order, count] : seen)
        EXPECT_NEAR(count, runs / 6, 150);
}

TEST_F(ListOps, ShuffleKeepsEveryRowWhole)
{
    add({"a", "pdf", S::Done, "1", "1", "100%"});
    add({"b", "htm", S::Failed, "2", "1", "50%"});
    add({"c", "", S::Waiting});
    shuffleList(list, [](int) { return 1; });
    shuffleList(list);  // the real source
    ASSERT_EQ(list.size(), 3);
    const int b = list.findUrl("http://h/b");
    ASSERT_GE(b, 0);
    const DownloadItem& it = list.item(b);
    EXPECT_EQ(it.name, "b");
    EXPECT_EQ(it.fileType, "htm");
    EXPECT_EQ(it.state, S::Failed);
    EXPECT_EQ(cellText(it, DownloadListModel::ColReceived), "1");
    EXPECT_EQ(it.referer, "http://h/ref/b");
}

TEST_F(ListOps, SortsNumericColumnsByNumber)
{
    add({"a", "pdf", S::Done, "1536", "1536", "100%"});
    add({"b", "pdf", S::Done, "9", "9", "37%"});
    add({"c", "pdf", S::Done, "010", "10", "大文件，跳过"});
    add({"d", "pdf", S::Waiting, "", "", "0037%"});

    sortList(list, DownloadListModel::ColSize, false);
    EXPECT_EQ(column(DownloadListModel::ColSize), QStringList({"", "9", "10", "1536"}));
    sortList(list, DownloadListModel::ColSize, true);
    EXPECT_EQ(column(DownloadListModel::ColSize), QStringList({"1536", "10", "9", ""}));

    sortList(list, DownloadListModel::ColProgress, false);
    EXPECT_EQ(names(), QStringList({"b", "d", "a", "c"}));  // 37 ties keep their order
    EXPECT_EQ(column(DownloadListModel::ColProgress), QStringList({"37%", "37%", "100%", "大文件，跳过"}));

    sortList(list, DownloadListModel::ColName, true);
    EXPECT_EQ(names(), QStringList({"d", "c", "b", "a"}));
}

TEST_F(ListOps, ExportNamesInTheCodePageWithCrLf)
{
    add({"甲", "pdf", S::Done});
    add({"乙", "pdf", S::Failed});
    add({"丙", "pdf", S::Done});
    add({"丁", "pdf", S::Waiting});
    SystemCodePage::setName("GBK");
    const QByteArray all = exportNamesText(list, false);
    const QByteArray open = exportNamesText(list, true);
    SystemCodePage::setName({});
    EXPECT_EQ(all, QByteArray("\xbc\xd7\r\n\xd2\xd2\r\n\xb1\xfb\r\n\xb6\xa1\r\n"));
    EXPECT_EQ(open, QByteArray("\xd2\xd2\r\n\xb6\xa1\r\n"));

    DownloadListModel empty;
    EXPECT_TRUE(exportNamesText(empty, false).isEmpty());

    const QString path = folder() + "names.txt";
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("a much longer previous content\r\n");
    }
    EXPECT_EQ(writeExportFile(path, "x\r\n"), std::nullopt);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("x\r\n"));
    const auto err = writeExportFile(folder() + "no/such/folder/n.txt", "x");
    ASSERT_TRUE(err.has_value());
    EXPECT_FALSE(err->isEmpty());
}

TEST_F(ListOps, ReplaceInAddressesIgnoresCase)
{
    list.addItem("http://h/old/a.pdf", "a", "pdf", folder(), "http://h/OLD/index");
    list.addItem("http://h/x/b.pdf", "b", "pdf", folder(), "");
    UrlReplaceOutcome out = replaceInAddresses(list, "/OLD/", "/new/");
    EXPECT_EQ(out.kind, UrlReplaceOutcome::Replaced);
    EXPECT_EQ(out.changedRows, 1);
    EXPECT_EQ(list.item(0).url, "http://h/new/a.pdf");
    EXPECT_EQ(list.item(0).referer, "http://h/new/index");
    EXPECT_EQ(list.findUrl("http://h/new/a.pdf"), 0);
    EXPECT_EQ(list.findUrl("http://h/old/a.pdf"), -1);

    out = replaceInAddresses(list, "/new", "");
    EXPECT_EQ(list.item(0).url, "http://h/a.pdf");
    EXPECT_EQ(replaceInAddresses(list, "  ", "x").kind, UrlReplaceOutcome::EmptyFind);
}

TEST_F(ListOps, ReplaceRefusesCollisionsButAllowsChains)
{
    list.addItem("a", "1", "pdf", folder(), "");
    list.addItem("aa", "2", "pdf", folder(), "");
    // "a" -> "aa" while "aa" -> "aaaa": valid as a whole.
    EXPECT_EQ(replaceInAddresses(list, "a", "aa").kind, UrlReplaceOutcome::Replaced);
    EXPECT_EQ(list.item(0).url, "aa");
    EXPECT_EQ(list.item(1).url, "aaaa");
    EXPECT_EQ(list.findUrl("aa"), 0);
    EXPECT_EQ(list.findUrl("aaaa"), 1);

    list.addItem("http://h/b", "3", "pdf", folder(), "");
    list.addItem("http://h/b2", "4", "pdf", folder(), "");
    EXPECT_EQ(replaceInAddresses(list, "2", "").kind, UrlReplaceOutcome::DuplicateUrl);
    EXPECT_EQ(list.item(3).url, "http://h/b2");  // nothing was written
    EXPECT_EQ(replaceInAddresses(list, "aaaa", "").kind, UrlReplaceOutcome::EmptyUrl);
    EXPECT_EQ(list.item(1).url, "aaaa");
}

} // namespace
} // namespace dh::test
