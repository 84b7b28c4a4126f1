// Clearing rules, the export text and its file in both code pages, the size
// text, default extensions, and the commands with their dialogs answered
// by the scripted prompter.
#include "demo/DemoService.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"
#include "platform/headless/HeadlessBrowser.h"
#include "search/LinksOperations.h"
#include "search/SearchQuery.h"

#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace dh;
using namespace dh::linkops;

namespace {

LinkItem row(const QString& title, const QString& status = {}, const QString& type = QStringLiteral("pdf"))
{
    static int n = 0;
    return LinkItem{title, QStringLiteral("http://h/%1").arg(++n), type, status, {}, {}};
}

QStringList titles(const LinksListModel& m)
{
    QStringList l;
    for (const LinkItem& it : m.items())
        l << it.title;
    return l;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class Links : public ::testing::Test {
protected:
    ScriptedPrompter prompter;
    LinksListModel list;
    QTemporaryDir dir;

    void SetUp() override { Prompter::setInstance(&prompter); }
    void TearDown() override
    {
        Prompter::setInstance(nullptr);
        SystemCodePage::setName({});
    }
    void fill(const std::vector<LinkItem>& rows)
    {
        list.clear();
        for (const LinkItem& r : rows)
            ASSERT_TRUE(list.add(r));
    }
};

} // namespace

TEST_F(Links, RemovalRules)
{
    struct Case {
        const char* name;
        ClearRule rule;
        QString text;
        std::vector<int> selected;
        QStringList kept;
    };
    const QString ok = QStringLiteral("成功");
    const QString failed = QStringLiteral("分析失败");
    const std::vector<LinkItem> rows{row("C语言教程PDF", ok), row("手册 pdf版"), row("Qt 指南", failed),
                                     row("数据库教程", ok), row("网络手册")};
    const std::vector<Case> cases{
        {"contains ignores case", ClearRule::TitleContains, "pdf", {}, {"Qt 指南", "数据库教程", "网络手册"}},
        {"contains upper text", ClearRule::TitleContains, "PDF", {}, {"Qt 指南", "数据库教程", "网络手册"}},
        {"contains anywhere", ClearRule::TitleContains, "手册", {}, {"C语言教程PDF", "Qt 指南", "数据库教程"}},
        {"contains with space as typed", ClearRule::TitleContains, " ", {}, {"C语言教程PDF", "数据库教程", "网络手册"}},
        {"lacks keeps holders", ClearRule::TitleLacks, "教程", {}, {"C语言教程PDF", "数据库教程"}},
        {"lacks absent text empties", ClearRule::TitleLacks, "不存在", {}, {}},
        {"handed over only exact status", ClearRule::HandedOver, {}, {}, {"手册 pdf版", "Qt 指南", "网络手册"}},
        {"two adjacent selected", ClearRule::Selected, {}, {1, 2}, {"C语言教程PDF", "数据库教程", "网络手册"}},
        {"first and last selected", ClearRule::Selected, {}, {0, 4}, {"手册 pdf版", "Qt 指南", "数据库教程"}},
        {"nothing selected", ClearRule::Selected, {}, {}, {"C语言教程PDF", "手册 pdf版", "Qt 指南", "数据库教程", "网络手册"}},
    };
    for (const Case& c : cases) {
        fill(rows);
        const auto sel = c.selected;
        const int removed = removeLinks(list, c.rule, c.text, [&sel](int r) {
            return std::find(sel.begin(), sel.end(), r) != sel.end();
        });
        EXPECT_EQ(titles(list), c.kept) << c.name;
        EXPECT_EQ(removed, 5 - c.kept.size()) << c.name;
        // The key index follows the removal: every kept address is still found.
        for (int r = 0; r < list.size(); ++r)
            EXPECT_EQ(list.findUrl(list.item(r).url), r) << c.name;
    }
}

TEST_F(Links, ExportTextLayout)
{
    std::vector<LinkItem> rows{row("教程", "成功"), row("手册", {}, {}), row("指南", "分析失败", "doc")};
    EXPECT_EQ(exportText(rows), QStringLiteral("教程-【pdf】成功\r\n手册-【】\r\n指南-【doc】分析失败\r\n"));
    EXPECT_EQ(exportText({}), QString());
}

TEST_F(Links, KilobyteText)
{
    const std::vector<std::pair<qint64, QString>> cases{
        {0, "0.0"},        {2560, "2.5"},  {1024, "1.0"},      {51, "0.0"},  {52, "0.1"},
        {256, "0.3"},      // 0.25 rounds away from zero
        {1023 * 1024, "1,023.0"}, {1024 * 1024, "1,024.0"}, {qint64(1234567) * 1024 + 512, "1,234,567.5"},
        {qint64(999999) * 1024 + 1000, "1,000,000.0"}, {-5, "0.0"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(kilobyteText(bytes), text) << bytes;
}

TEST_F(Links, DefaultExtension)
{
    const std::vector<std::pair<QString, QString>> cases{
        {"/t/list", "/t/list.txt"},           {"/t/list.txt", "/t/list.txt"}, {"/t/list.csv", "/t/list.csv"},
        {"/t/list.", "/t/list.txt"},          {"/t/.hidden", "/t/.hidden.txt"}, {"/t.d/list", "/t.d/list.txt"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(withDefaultExtension(in, QStringLiteral("txt")), out) << in.toStdString();
}

TEST_F(Links, ExportWritesTheCodePageAndReportsTheSize)
{
    struct Case {
        const char* codePage;
        QByteArray bytes;
    };
    const QString text = QStringLiteral("教程-【pdf】成功\r\n");
    QStringEncoder gbk("GBK");
    const std::vector<Case> cases{{"UTF-8", text.toUtf8()}, {"GBK", gbk.encode(text)}};
    for (const Case& c : cases) {
        SystemCodePage::setName(QString::fromLatin1(c.codePage));
        fill({row("教程", "成功")});
        const QString chosen = dir.filePath(QStringLiteral("out-%1").arg(QLatin1String(c.codePage)));
        // An older, longer file of that name is replaced, not overwritten in part.
        QFile old(chosen + ".txt");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
        old.close();
        // The ".txt" added to the chosen name hits it: replaced only after
        // the question the dialog asks for an existing file.
        prompter.clear();
        prompter.pathAnswers.assign(1, chosen);
        EXPECT_FALSE(exportCommand(list));
        EXPECT_EQ(readAll(chosen + ".txt"), QByteArray(5000, 'x'));
        prompter.clear();
        prompter.pathAnswers.assign(1, chosen);
        prompter.questionAnswers.assign(1, true);
        EXPECT_TRUE(exportCommand(list));
        EXPECT_EQ(readAll(chosen + ".txt"), c.bytes) << c.codePage;
        ASSERT_EQ(prompter.shown.size(), 2u);
        EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Question);
        EXPECT_EQ(prompter.shown[1].text, QStringLiteral("保存文件完毕：") + kilobyteText(c.bytes.size()) + "KB");
        EXPECT_EQ(prompter.shown[1].icon, MessageIcon::Information);
    }
    // GBK bytes differ from UTF-8 ones: the code page really was applied.
    EXPECT_NE(cases[0].bytes, cases[1].bytes);
}

TEST_F(Links, ExportSizeMessageForALargerList)
{
    SystemCodePage::setName(QStringLiteral("UTF-8"));
    std::vector<LinkItem> rows;
    for (int i = 0; i < 128; ++i)
        rows.push_back(row(QStringLiteral("t%1").arg(i, 3, 10, QLatin1Char('0')), {}, QStringLiteral("pdf")));
    fill(rows);
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    prompter.pathAnswers.assign(1, path);
    ASSERT_TRUE(exportCommand(list));
    const qint64 size = QFileInfo(path).size();
    // "t000" + "-【" (4 bytes) + "pdf" + "】" (3 bytes) + CR LF = 16 bytes per row.
    EXPECT_EQ(size, 128 * 16);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("保存文件完毕：2.0KB")});
}

TEST_F(Links, ExportEmptyListOrCancelledDialog)
{
    // Empty list: no dialog at all (a queued answer stays unused).
    prompter.pathAnswers.assign(1, dir.filePath("never.txt"));
    EXPECT_FALSE(exportCommand(list));
    EXPECT_EQ(prompter.pathAnswers.size(), 1u);
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_FALSE(QFile::exists(dir.filePath("never.txt")));
    // Cancelled dialog: nothing written, nothing said.
    fill({row("教程")});
    prompter.pathAnswers.clear();
    EXPECT_FALSE(exportCommand(list));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Links, ExportFailureIsNotReportedAsSuccess)
{
    fill({row("教程")});
    prompter.pathAnswers.assign(1, dir.filePath("no/such/folder/out.txt"));
    EXPECT_FALSE(exportCommand(list));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith(QStringLiteral("保存文件失败：")));
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);
}

TEST_F(Links, ClearCommandsGuardAndDialogs)
{
    const auto none = std::function<bool(int)>();
    struct Case {
        const char* name;
        bool handOverRunning;
        ClearRule rule;
        std::optional<QString> answer;
        int keptRows;
        QStringList shown;
    };
    const QString refused = refusedWhileAnalysing();
    const QString ask = askTextPrompt();
    const std::vector<Case> cases{
        {"refused while analysing", true, ClearRule::HandedOver, {}, 3, {refused}},
        {"refused before asking", true, ClearRule::TitleContains, QStringLiteral("教程"), 3, {refused}},
        {"cancelled input", false, ClearRule::TitleContains, std::nullopt, 3, {ask}},
        {"empty input", false, ClearRule::TitleLacks, QString(), 3, {ask}},
        {"title text", false, ClearRule::TitleContains, QStringLiteral("教程"), 1, {ask}},
        {"status", false, ClearRule::HandedOver, {}, 2, {}},
    };
    for (const Case& c : cases) {
        fill({row("C教程", "成功"), row("Qt教程"), row("手册")});
        prompter.clear();
        prompter.inputAnswers.clear();
        if (c.rule == ClearRule::TitleContains || c.rule == ClearRule::TitleLacks)
            prompter.inputAnswers.push_back(c.answer);
        clearCommand(list, c.handOverRunning, c.rule, none);
        EXPECT_EQ(list.size(), c.keptRows) << c.name;
        EXPECT_EQ(prompter.texts(), c.shown) << c.name;
        if (!c.shown.isEmpty() && c.shown[0] == refused) {
            EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error) << c.name;
        }
    }
}

TEST_F(Links, ClearAllAsksFirst)
{
    for (bool yes : {false, true}) {
        fill({row("a"), row("b")});
        prompter.clear();
        prompter.questionAnswers.assign(1, yes);
        EXPECT_EQ(clearAllCommand(list, false), yes);
        EXPECT_EQ(list.size(), yes ? 0 : 2);
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].text, confirmClearAll());
        EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Question);
    }
    fill({row("a")});
    prompter.clear();
    prompter.questionAnswers.assign(1, true);
    EXPECT_FALSE(clearAllCommand(list, true));
    EXPECT_EQ(list.size(), 1);
    EXPECT_EQ(prompter.texts(), QStringList{refusedWhileAnalysing()});
}

TEST_F(Links, PageSourceIsSavedInTheCodePage)
{
    demo::DemoOptions o;
    demo::DemoService svc(o);
    ASSERT_TRUE(svc.start());
    // The browser goes before the service, closing its kept-alive connection.
    auto holder = std::make_unique<HeadlessBrowser>();
    HeadlessBrowser& browser = *holder;
    ASSERT_TRUE(QCoro::waitFor(navigateAndWait(browser, searchHomeAddress(svc.baseUrl()), std::chrono::seconds(10))));
    const QString source = browser.lastDocument()->outerHTML();
    ASSERT_FALSE(source.isEmpty());

    for (const char* cp : {"GBK", "UTF-8"}) {
        SystemCodePage::setName(QString::fromLatin1(cp));
        const QString chosen = dir.filePath(QStringLiteral("page-%1").arg(QLatin1String(cp)));
        prompter.clear();
        prompter.pathAnswers.assign(1, chosen);
        EXPECT_TRUE(QCoro::waitFor(savePageSourceCommand(&browser)));
        const QByteArray bytes = readAll(chosen + ".htm");
        // The page's own charset declaration is rewritten to the code page
        // the file is written in.
        QString want = source;
        want.replace(QStringLiteral("charset=\"utf-8\""), QStringLiteral("charset=\"%1\"").arg(QLatin1String(cp)));
        EXPECT_TRUE(source.contains(QStringLiteral("charset=\"utf-8\"")));
        EXPECT_EQ(bytes, SystemCodePage::encode(want)) << cp;
        EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("OK")});
    }
    // Cancelled: no file, no message.
    prompter.clear();
    EXPECT_FALSE(QCoro::waitFor(savePageSourceCommand(&browser)));
    EXPECT_TRUE(prompter.shown.empty());
    holder.reset();
    svc.stop();
}

// A page that cannot be read is reported, never saved as an empty file.
TEST_F(Links, PageSourceThatCannotBeReadIsReported)
{
    HeadlessBrowser browser;  // nothing loaded
    const QString chosen = dir.filePath(QStringLiteral("nothing.htm"));
    prompter.pathAnswers.assign(1, chosen);
    EXPECT_FALSE(QCoro::waitFor(savePageSourceCommand(&browser)));
    EXPECT_FALSE(QFile::exists(chosen));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].icon, MessageIcon::Error);
}
