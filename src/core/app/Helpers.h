#pragma once
#include <QString>

class QObject;

namespace dh {

// Removes leading and trailing U+0020 only; tabs, full-width spaces and line
// breaks stay.
QString TrimSpaces(const QString& s);

// The text after "w=" in a search address: "%" -> "%25", non-ASCII as
// percent-encoded UTF-8, then "#", "^", "&", "+" escaped. Spaces stay.
QString EncodeKeyword(const QString& keyword);

// Drops CR, LF and NUL.
QString RemoveLineBreaks(const QString& text);

// Makes a title usable as a file name: the nine reserved characters and
// line breaks removed, leading/trailing dots dropped, cut to 250 bytes of the
// system code page (a character split by the cut is dropped), trimmed.
QString SanitizeFileName(const QString& text);

// The last segment of an address or path ("/" and "\" both separate), trimmed;
// with stripExtension, the text before its last ".".
QString FileNameFromPath(const QString& addressOrPath, bool stripExtension);

// Creates the folders of path level by level and returns the created folder
// path without a trailing "/", or "" when it does not exist afterwards. An
// empty piece ends the walk; a piece that sanitises to nothing ends it with the
// message "文件夹名称有误！不能创建文件夹！" through the prompter. A leading "~"
// stands for the home folder.
QString MakeFolderPath(const QString& path);

bool FileExists(const QString& path);
bool FolderExists(const QString& path);
// Whether a window of that name is loaded (case-insensitive).
bool IsFormLoaded(const QString& name);
// Whether a control created at run time still exists.
bool ControlExists(const QObject* control);
// Linux has no short names: the path itself.
QString ShortPathOf(const QString& path);

} // namespace dh
