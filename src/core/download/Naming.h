#pragma once
#include "download/DownloadItem.h"

#include <QString>
#include <optional>
#include <functional>

namespace dh {

class DownloadListModel;
class SettingsStore;

// What happens when a row's file already exists: the download window's three
// option buttons "跳过", "覆盖" and "重命名".
enum class SameNamePolicy { Skip = 1, Overwrite = 2, Rename = 3 };

// The caption of the policy's button; also the text stored in the settings.
QString sameNamePolicyCaption(SameNamePolicy policy);
// The caption label beside the buttons: "同名文件：".
QString sameNamePolicyLabel();
// The policy a stored text chooses: the caption of the skip radio, then of the overwrite radio;
// anything else (including nothing stored) chooses rename.
SameNamePolicy sameNamePolicyFromText(const QString& stored);
// "专利下载"/"重复文件名设置", read when the window loads, written when it closes.
SameNamePolicy loadSameNamePolicy(const SettingsStore& store);
void saveSameNamePolicy(SettingsStore& store, SameNamePolicy policy);

// True when the row has to be downloaded. A row whose address
// is not an http or https one becomes Failed with "不支持的网址" (false). A
// row whose name is empty gets the address's file name, or "未命名" numbered
// to a free name. Under the skip policy a row whose file exists (any entry
// but a folder or a stale placeholder, a link too; the row's own file is a
// re-download and never counts) becomes Done with both size cells holding the
// file's length and "已存在，跳过" as progress, and false is returned.
bool needsDownload(DownloadItem& row, SameNamePolicy policy);
// The same for a row of the list; writes the row back when it changed.
bool needsDownload(DownloadListModel& list, int row, SameNamePolicy policy);

// The path to save folder/name.type at, and in *outName the name
// the row should show. Under the rename policy an existing file makes the
// name continue with a bracketed three-digit number ("报告[001]"); a number
// already at the end of the name is continued, other brackets become 『』.
// An empty type gives names without extension and without a trailing dot,
// matching itemFilePath.
QString renameForSavePath(const QString& folder, const QString& name, const QString& type, SameNamePolicy policy,
                      QString* outName);

// A path at which nothing exists: path itself when free, otherwise the base
// name (cut to 100 characters, a trailing "[number]" of any width dropped)
// with the same three-digit counter as renameForSavePath, from 1
// ("x[001].caj"). Any directory entry counts as taken (hidden files,
// folders, dangling links) but a placeholder an earlier run left behind,
// which stays (the caller's move clears it).
QString makeUniquePath(const QString& path);
// The same, with extra names to count as taken (a dry run that renames nothing).
QString makeUniquePath(const QString& path, const std::function<bool(const QString&)>& alsoTaken);

// The extension of the last path segment (trimmed, empty when there is no
// "." or when it is 7 characters or longer), and the base name through
// *outBase (trimmed).
QString splitNameAndExtension(const QString& path, QString* outBase);

// Whether anything (file, folder, link, dangling or not) exists at the path.
bool pathTaken(const QString& path);
// Whether the name is in use: as pathTaken, except that a placeholder left
// behind by an earlier run (isStalePlaceholder) is removed and the name is free.
bool nameInUse(const QString& path);
// What the skip policy keeps: the length of the entry in use at path (for a
// link, of what it leads to), or nothing when the name is free (nameInUse) or
// holds a folder.
std::optional<qint64> lengthInTheWay(const QString& path);

// The policy a row's transfer works under: a row whose own file is at its
// path is being downloaded again, and the new body replaces that file once
// it is whole, whatever the chosen policy.
SameNamePolicy savePolicyFor(const DownloadItem& row, SameNamePolicy chosen);

// The name an address gives a file (its last segment, extension dropped),
// percent-decoded as UTF-8, or GBK when it is not UTF-8: ".../%E4%B8%AD.pdf"
// gives "中". Not yet sanitised.
QString nameFromAddress(const QString& url);

// The name a row with an empty (or fully sanitised away) title gets: the
// address's file name without extension, sanitised; empty when that is
// empty too.
QString fallbackNameFromAddress(const QString& url);
// The fixed name used when neither the title nor the address gives one.
QString unnamedFileName();

// Shortens name so that name + counter + "." + type fit the file-name limit.
QString fitNameForType(const QString& name, const QString& type, int counterBytes = 0);

} // namespace dh
