#pragma once
#include "search/LinksListModel.h"

#include <QCoroTask>
#include <QString>

#include <functional>
#include <vector>

namespace dh {

class Browser;

// Removing, emptying and exporting the collected links, and saving the
// source of the page shown. The pure pieces (rules, text layout, size text,
// file writing) are separate from the commands, which ask through the
// Prompter exactly as the window's menus do.
namespace linkops {

// What a clearing filter removes.
enum class ClearRule {
    Selected,       // "清除选中项": the row is selected
    HandedOver,     // "清除分析成功项": Status is exactly "成功"
    TitleContains,  // "清除标题含指定字符项": Title holds the text (case-insensitive)
    TitleLacks,     // "清除标题不含指定字符项": Title does not hold the text
};

// Whether a row falls under rule. text is used only by the title rules;
// selected only by the selection rule.
bool rowMatches(const LinkItem& item, ClearRule rule, const QString& text, bool selected);

// Removes every matching row; returns how many went. isSelected may be
// empty (no row counts as selected).
int removeLinks(LinksListModel& list, ClearRule rule, const QString& text,
                const std::function<bool(int row)>& isSelected);

// The export text: per row Title, "-【", fileType, "】", Status, CR LF.
QString exportText(const std::vector<LinkItem>& rows);

// bytes / 1024 with thousands grouped and one decimal ("#,##0.0"), halves
// rounded away from zero: 2560 -> "2.5", 1048576000 -> "1,024,000.0".
QString kilobyteText(qint64 bytes);

// A chosen save name without an extension gets ".ext", as a save dialog
// with a default extension does; one with an extension is kept.
QString withDefaultExtension(const QString& path, const QString& ext);

// Writes text in the system code page, replacing an existing file. The old
// file stays whole when the new one cannot be written. false with a reason
// in error (when given) on failure.
bool writeCodePageText(const QString& path, const QString& text, QString* error = nullptr);

// Fixed texts.
QString refusedWhileAnalysing();   // "正在分析，不能清除！"
QString askTextPrompt();           // "请输入指定字符："
QString confirmClearAll();         // "您确定要清空辛辛苦苦搜索的列表数据吗？"

// The commands. Each returns true when it changed the list or wrote a file.
// handOverRunning is the negation of stopAnalysis.

// One of the four filters: the guard, the text for the title rules, removal.
bool clearCommand(LinksListModel& list, bool handOverRunning, ClearRule rule,
                  const std::function<bool(int row)>& isSelected);
// "清空全部": the guard, the confirmation, removal of every row.
bool clearAllCommand(LinksListModel& list, bool handOverRunning);
// "导出数据...": save dialog, file, size message.
bool exportCommand(const LinksListModel& list);
// "网页源码另存为": save dialog, the page source of the page shown, "OK".
QCoro::Task<bool> savePageSourceCommand(Browser* browser);

} // namespace linkops
} // namespace dh
