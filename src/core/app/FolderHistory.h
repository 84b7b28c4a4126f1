#pragma once
#include <QString>
#include <QStringList>

namespace dh {

// The folder history file shared by the save-location and copy dialogs:
// SaveList.dat in the data folder, one folder per line, CR LF, written in the
// system code page.
QString folderHistoryFile();

// Fills entries from a history file. A missing or unreadable file leaves
// entries as they are. Otherwise entries is replaced by the file's lines:
// trimmed, blank lines skipped, at most the first 100 non-blank lines taken,
// lines equal (ignoring case) to an earlier one dropped.
void loadFolderHistory(QStringList& entries, const QString& file);

// Writes entries to the file, one per line in list order; an empty list is
// written as one empty line. Failures are ignored (the history is a comfort,
// not data). Returns whether the file was written.
bool saveFolderHistory(const QStringList& entries, const QString& file);

// The folder browser: asks the prompter for a folder, starting near start.
// Start folder: the home folder when start is blank or "~"; otherwise start
// (a leading "~/" standing for the home folder) cut after the last "/" that
// comes before the final character ("/a/b/" starts in "/a/"); the home folder
// when that path does not exist. Answers the chosen folder, or start when cancelled,
// in both cases with a trailing "/". includeFiles is accepted for callers
// that ask for it; the desktop folder picker lists folders only.
QString browseForFolder(const QString& start, const QString& title, bool includeFiles = false);

// The start folder browseForFolder opens in (exposed for tests).
QString browseStartFolder(const QString& start);

} // namespace dh
