#pragma once
#include <QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

namespace dh {

// What to do when the destination already holds a file of the target name.
enum class SameNameOption {
    Skip = 1,            // "跳过"
    Overwrite = 2,       // "覆盖"
    Rename = 3,          // "自动重命名"
    SizeAndTime = 4,     // same length and modification time: overwrite; otherwise rename
    SizeOnly = 5,        // same length: overwrite; otherwise rename
};

struct SplitPath {
    QString folder;     // up to and including the last "/", or empty
    QString baseName;
    QString extension;  // without the ".", empty when none (or 7+ characters)
};

// Splits a path into folder, base name and extension (trimmed). An extension
// of seven or more characters counts as none.
SplitPath splitFilePath(const QString& path);

// "name[003]" -> "name"; unchanged when the bracketed text is not a number or
// nothing would remain.
QString stripNumberSuffix(const QString& name);

// A regular file that is not hidden.
bool isNormalFile(const QString& path);

// Copies source to target and gives the copy the source's modification time,
// as a copy on the desktop does. The copy is written to a hidden temporary
// file beside the target first and moved into place only when complete:
// with replace an entry at target is replaced (a link itself, never what it
// points to), without it an existing entry makes the copy fail untouched.
// false on failure, and the target is then as it was.
bool copyFileKeepingTime(const QString& source, const QString& target, bool replace = false);

// Whether two folders are the same folder on disk (canonical paths, letter
// case counts as the file system counts it).
bool sameFolder(const QString& a, const QString& b);

// Copies source into destFolder (ending with "/") under the first free name of
// base, base[001], base[002], ... (at least three digits), after removing a
// bracketed number from the source's base name. false when nothing was copied.
bool copyWithAutoRename(const QString& source, const QString& destFolder);

// The names in one destination folder, for a run of many copies into it: the
// folder is listed once and every base name keeps its own counter, so that
// thousands of files of one name are numbered in linear time. Gives the names
// copyWithAutoRename would give, as long as nothing else writes there.
class FolderNames {
public:
    explicit FolderNames(const QString& folder);
    // Whether anything (a file, a folder, a link) bears the name.
    bool taken(const QString& name) const { return m_taken.contains(name); }
    void take(const QString& name) { m_taken.insert(name); }
    // The name copyWithAutoRename would give a copy of source now; not yet
    // taken (take it once the copy is in place).
    QString renamed(const QString& source);

private:
    QSet<QString> m_taken;
    QHash<QString, int> m_next;  // per base name and extension: all below are taken
};

// Copies one file into destFolder with the same-name option. Returns false
// when the file was skipped or a step failed.
bool copyWithOption(const QString& source, const QString& destFolder, SameNameOption option);

// A copy run over a list of files, letting window events run after each
// file so that "停止" takes effect.
class CopyRun : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool running() const { return m_running; }
    // Clears the running flag: the run passes over its remaining files.
    void stop() { m_running = false; }

    // files: sources; destFolder ends with "/".
    QCoro::Task<void> run(QStringList files, QString destFolder, SameNameOption option);

    int copied() const { return m_copied; }

Q_SIGNALS:
    void progress(int value, int maximum);
    void currentFile(const QString& name);

private:
    bool m_running = false;
    int m_copied = 0;
};

} // namespace dh
