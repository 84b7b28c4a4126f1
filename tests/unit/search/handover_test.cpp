#include "app/AppGlobals.h"
#include "download/DownloadListModel.h"
#include "search/SearchEngine.h"

#include <QCoroTask>
#include <QCoroTimer>
#include <QTimer>

#include <gtest/gtest.h>

using namespace dh;

namespace {

// The save-location dialog as the engine sees it: it sets the process-wide values.
struct FakeDialog {
    int shown = 0;
    bool cancel = false;
    QString folder;
};

QCoro::Task<void> answerDialog(FakeDialog* d)
{
    ++d->shown;
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    if (d->cancel) {
        globals().saveDialogCancelled = true;
    } else {
        globals().saveDialogCancelled = false;
        globals().saveFolder = d->folder;
    }
}

class HandOver : public ::testing::Test {
protected:
    std::shared_ptr<SearchEngine> engine = SearchEngine::create();
    DownloadListModel list;
    FakeDialog dialog;
    int shownWindow = 0;
    std::vector<int> selected;
    std::vector<std::pair<bool, QString>> panel;

    void SetUp() override
    {
        auto& g = globals();
        g.promptOnExtract = true;
        g.saveFolder = QStringLiteral("/save/");
        g.useUrlFileName = false;
        g.saveDialogCancelled = false;
        engine->downloadList = [this] { return &list; };
        engine->showDownloadWindow = [this] { ++shownWindow; };
        engine->isRowSelected = [this](int row) {
            return std::find(selected.begin(), selected.end(), row) != selected.end();
        };
        engine->saveLocationDialog = [this] { return answerDialog(&dialog); };
        QObject::connect(engine.get(), &SearchEngine::progressPanelChanged, engine.get(),
                         [this](bool visible, const QString& text) { panel.emplace_back(visible, text); });
    }

    void add(const QString& title, const QString& url, const QString& status = {}, const QString& folder = {})
    {
        ASSERT_TRUE(engine->addToLinksList(title, url, QStringLiteral("http://search/p?w=x"), QStringLiteral("pdf"), folder));
        engine->links()->setStatus(engine->links()->findUrl(url), status);
    }

    void run(HandOverRule rule) { QCoro::waitFor(engine->handOverLinks(rule)); }

    QStringList statuses() const
    {
        QStringList s;
        for (const LinkItem& it : engine->links()->items())
            s << it.status;
        return s;
    }
    QStringList downloadUrls() const
    {
        QStringList s;
        for (int i = 0; i < list.size(); ++i)
            s << list.item(i).url;
        return s;
    }
};

struct RuleCase {
    HandOverRule rule;
    std::vector<const char*> handedUrls;  // in download-list order
};

class HandOverRules : public HandOver, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(HandOverRules, PicksTheRowsOfTheRule)
{
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    add(QStringLiteral("b"), QStringLiteral("http://h/b.pdf"), statusHandedOver());
    add(QStringLiteral("c"), QStringLiteral("http://h/c.pdf"), statusFailed());
    add(QStringLiteral("d"), QStringLiteral("http://h/d.pdf"));
    selected = {1, 2};
    run(GetParam().rule);
    QStringList expected;
    for (const char* u : GetParam().handedUrls)
        expected << QString::fromUtf8(u);
    EXPECT_EQ(downloadUrls(), expected);
    // Every handed-over row reads "成功"; the others keep their status.
    const QStringList before{QString(), statusHandedOver(), statusFailed(), QString()};
    const QStringList after = statuses();
    for (int i = 0; i < 4; ++i) {
        const QString url = engine->links()->item(i).url;
        EXPECT_EQ(after[i], expected.contains(url) ? statusHandedOver() : before[i]) << i;
    }
    EXPECT_TRUE(engine->stopAnalysis);
    EXPECT_EQ(shownWindow, 1);
    ASSERT_EQ(panel.size(), 2u);
    EXPECT_EQ(panel[0], std::make_pair(true, QStringLiteral("正在分析,请稍候...")));
    EXPECT_FALSE(panel[1].first);
    EXPECT_EQ(dialog.shown, 0);  // promptOnExtract 1: no dialog
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HandOverRules,
    ::testing::Values(RuleCase{HandOverRule::NotHandedOver, {"http://h/a.pdf", "http://h/d.pdf"}},
                      RuleCase{HandOverRule::Failed, {"http://h/c.pdf"}},
                      RuleCase{HandOverRule::Selected, {"http://h/b.pdf", "http://h/c.pdf"}},
                      RuleCase{HandOverRule::All, {"http://h/a.pdf", "http://h/b.pdf", "http://h/c.pdf", "http://h/d.pdf"}}));

TEST_F(HandOver, TwoRunsOfAllLeaveOneRowPerAddress)
{
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    add(QStringLiteral("b"), QStringLiteral("http://h/b.pdf"));
    run(HandOverRule::All);
    run(HandOverRule::All);
    EXPECT_EQ(downloadUrls(), (QStringList{"http://h/a.pdf", "http://h/b.pdf"}));
    EXPECT_EQ(statuses(), (QStringList{statusHandedOver(), statusHandedOver()}));
}

// Only web addresses reach the download list: a hostile result link would
// copy a local file into the save folder.
TEST_F(HandOver, OtherSchemesAreNotHandedOver)
{
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    add(QStringLiteral("f"), QStringLiteral("file:///etc/passwd"));
    add(QStringLiteral("q"), QStringLiteral("qrc:/x.pdf"));
    add(QStringLiteral("b"), QStringLiteral("https://h/b.pdf"));
    run(HandOverRule::All);
    EXPECT_EQ(downloadUrls(), (QStringList{"http://h/a.pdf", "https://h/b.pdf"}));
    EXPECT_EQ(statuses(), (QStringList{statusHandedOver(), statusFailed(), statusFailed(), statusHandedOver()}));
}

struct NameCase {
    bool useUrl;
    const char* title;
    const char* url;
    const char* name;
};

class HandOverNames : public HandOver, public ::testing::WithParamInterface<NameCase> {};

TEST_P(HandOverNames, NameFromTitleOrAddress)
{
    const NameCase& c = GetParam();
    globals().useUrlFileName = c.useUrl;
    ASSERT_TRUE(engine->addToDownloadList(QString::fromUtf8(c.url), QString::fromUtf8(c.title), QStringLiteral("pdf"),
                                 QString(), QStringLiteral("http://ref/")));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.item(0).name, QString::fromUtf8(c.name));
    EXPECT_EQ(list.item(0).fileType, QStringLiteral("pdf"));
    EXPECT_EQ(list.item(0).referer, QStringLiteral("http://ref/"));
    EXPECT_EQ(list.item(0).state, DownloadState::Waiting);
}

INSTANTIATE_TEST_SUITE_P(
    Names, HandOverNames,
    ::testing::Values(NameCase{true, "标题", "http://h/files/report.final.pdf", "report.final"},
                      NameCase{true, "标题", "http://h/files/getfile", "getfile"},
                      NameCase{false, " 第一章\r\n总论: 概要 ", "http://h/a.pdf", "第一章总论 概要"},
                      NameCase{false, "a/b*c?d", "http://h/a.pdf", "abcd"}));

TEST_F(HandOver, EmptyFolderTakesTheSaveFolder)
{
    ASSERT_TRUE(engine->addToDownloadList("http://h/1.pdf", "t", "pdf", QString(), QString()));
    ASSERT_TRUE(engine->addToDownloadList("http://h/2.pdf", "t", "pdf", "/own/", QString()));
    globals().saveFolder.clear();
    ASSERT_TRUE(engine->addToDownloadList("http://h/3.pdf", "t", "pdf", QString(), QString()));
    EXPECT_EQ(list.item(0).folder, QStringLiteral("/save/"));
    EXPECT_EQ(list.item(1).folder, QStringLiteral("/own/"));
    EXPECT_EQ(list.item(2).folder, QString());
    // A second row for a listed address is ignored and still reports success.
    EXPECT_TRUE(engine->addToDownloadList("http://h/1.pdf", "other", "doc", "/x/", QString()));
    EXPECT_EQ(list.size(), 3);
    EXPECT_EQ(list.item(0).name, QStringLiteral("t"));
}

TEST_F(HandOver, WithoutPromptOnExtractTheDialogOfTheRunGivesTheFolder)
{
    globals().promptOnExtract = false;
    dialog.folder = QStringLiteral("/chosen/");
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    add(QStringLiteral("b"), QStringLiteral("http://h/b.pdf"), {}, QStringLiteral("/kept/"));
    run(HandOverRule::NotHandedOver);
    EXPECT_EQ(dialog.shown, 1);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.item(0).folder, QStringLiteral("/chosen/"));
    EXPECT_EQ(list.item(1).folder, QStringLiteral("/kept/"));
}

TEST_F(HandOver, CancelledDialogHandsOverNothingButShowsTheDownloadWindow)
{
    globals().promptOnExtract = false;
    dialog.cancel = true;
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    run(HandOverRule::All);
    EXPECT_EQ(dialog.shown, 1);
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(statuses(), QStringList{QString()});
    EXPECT_EQ(shownWindow, 1);
    ASSERT_EQ(panel.size(), 2u);
    EXPECT_FALSE(panel.back().first);
    EXPECT_TRUE(engine->stopAnalysis);
}

TEST_F(HandOver, AutomaticModeAsksNothing)
{
    globals().promptOnExtract = false;
    globals().saveFolder = QStringLiteral("/auto/");
    engine->autoModeActive = [] { return true; };
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    run(HandOverRule::NotHandedOver);
    EXPECT_EQ(dialog.shown, 0);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.item(0).folder, QStringLiteral("/auto/"));
    // Other rules still ask, even in automatic mode.
    add(QStringLiteral("b"), QStringLiteral("http://h/b.pdf"));
    dialog.folder = QStringLiteral("/asked/");
    run(HandOverRule::All);
    EXPECT_EQ(dialog.shown, 1);
}

TEST_F(HandOver, EmptyListOnlyFlashesThePanel)
{
    run(HandOverRule::All);
    EXPECT_EQ(panel.size(), 2u);
    EXPECT_EQ(shownWindow, 1);
    EXPECT_EQ(dialog.shown, 0);
}

TEST_F(HandOver, StopEndsTheRunAndTicksWaitForIt)
{
    for (int i = 0; i < 20000; ++i)
        engine->addToLinksList(QStringLiteral("t%1").arg(i), QStringLiteral("http://h/%1.pdf").arg(i), {}, "pdf", {});
    int ticksIgnored = -1;
    QTimer::singleShot(0, engine.get(), [&] {
        // The run is going on: an automatic tick must not start a second one.
        const int before = shownWindow;
        engine->autoTick();
        ticksIgnored = shownWindow == before && !engine->stopAnalysis ? 1 : 0;
        engine->stopHandOver();
    });
    run(HandOverRule::All);
    EXPECT_EQ(ticksIgnored, 1);
    EXPECT_GT(list.size(), 0);
    EXPECT_LT(list.size(), 20000);
    EXPECT_EQ(statuses().count(statusHandedOver()), list.size());
    EXPECT_TRUE(engine->stopAnalysis);
    EXPECT_EQ(shownWindow, 1);
}

TEST_F(HandOver, PreparingAutomaticMode)
{
    globals().promptOnExtract = true;
    globals().saveDialogCancelled = true;
    EXPECT_TRUE(QCoro::waitFor(engine->prepareAutoMode()));
    EXPECT_FALSE(globals().saveDialogCancelled);
    EXPECT_EQ(dialog.shown, 0);

    globals().promptOnExtract = false;
    dialog.cancel = true;
    EXPECT_FALSE(QCoro::waitFor(engine->prepareAutoMode()));
    dialog.cancel = false;
    EXPECT_TRUE(QCoro::waitFor(engine->prepareAutoMode()));
    EXPECT_EQ(dialog.shown, 2);
}

TEST_F(HandOver, LinksListKeysOnTheAddress)
{
    add(QStringLiteral("a"), QStringLiteral("http://h/a.pdf"));
    EXPECT_FALSE(engine->addToLinksList(QStringLiteral("again"), QStringLiteral("http://h/a.pdf"), {}, "pdf", {}));
    EXPECT_FALSE(engine->addToLinksList(QStringLiteral("no address"), QString(), {}, "pdf", {}));
    add(QStringLiteral("b"), QStringLiteral("http://h/b.pdf"));
    add(QStringLiteral("c"), QStringLiteral("http://h/c.pdf"));
    engine->links()->removeRows({2, 0, 7, 0});
    ASSERT_EQ(engine->links()->size(), 1);
    EXPECT_EQ(engine->links()->findUrl(QStringLiteral("http://h/b.pdf")), 0);
    EXPECT_EQ(engine->links()->findUrl(QStringLiteral("http://h/a.pdf")), -1);
    EXPECT_EQ(engine->links()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("分析状态"));
    EXPECT_FALSE(engine->links()->flags(engine->links()->index(0, 0)) & Qt::ItemIsEditable);
}

} // namespace
