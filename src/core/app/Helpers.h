#pragma once
#include <QString>

#include <utility>

namespace dh {

// Removes leading and trailing U+0020 only; tabs, full-width spaces and line
// breaks stay.
QString trimSpaces(const QString& s);

// The text after "w=" in a search address: "%" -> "%25", non-ASCII as
// percent-encoded UTF-8, then "#", "^", "&", "+" escaped. Spaces stay.
QString encodeKeyword(const QString& keyword);

// Drops CR, LF and NUL.
QString removeLineBreaks(const QString& text);

// The longest file name the file systems take, in bytes of the on-disk
// encoding (UTF-8), and the share of it a name may use before "." + type and
// a "[001]" counter are added.
inline constexpr int kFileNameMaxBytes = 255;
inline constexpr int kNameBudgetBytes = 240;

// Makes a title usable as a file name: the nine reserved characters, line
// breaks, other control characters and bidirectional overrides and marks
// removed, leading/trailing dots dropped,
// cut on a character boundary to kNameBudgetBytes of the name's on-disk
// encoding, trimmed.
QString sanitizeFileName(const QString& text);
// The longest start of text whose on-disk encoding has at most maxBytes,
// cut on a character boundary.
QString cutToBytes(const QString& text, int maxBytes);

// The last segment of an address or path ("/" and "\" both separate), trimmed;
// with stripExtension, the text before its last ".".
QString fileNameFromPath(const QString& addressOrPath, bool stripExtension);

// Creates the folders of path level by level and returns the created folder
// path without a trailing "/" ("/" itself for the root), or "" when it does
// not exist afterwards. Levels that already exist are kept exactly as
// written; only a level that has to be made is sanitised first. An empty
// piece ends the walk; a piece that sanitises to nothing ("." and ".." too)
// ends it with the message "文件夹名称有误！不能创建文件夹！" through the
// prompter. A leading "~" stands for the home folder.
QString makeFolderPath(const QString& path);

// Whether any directory entry (file, folder, link, dangling or not) is at path.
bool entryExists(const QString& path);
// An open file descriptor, closed with its object.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    explicit operator bool() const { return isOpen(); }
    void reset();

private:
    int m_fd = -1;
};

// A new, empty, hidden temporary file in the folder of target, named
// ".dh-XXXXXX.part" whatever the target is called (short enough for any
// name). Empty when none can be made. It gets the permissions of a new file
// (rw-r--r-- less the umask), so that moving it to a new name needs no
// change. With handle, the file stays open for reading and writing there:
// the body is written and looked at without opening it again.
QString createTempBeside(const QString& target, FileHandle* handle = nullptr);
// The permissions a new file gets here: rw-r--r-- less the umask.
unsigned newFileMode();
// PageRefused: a web page that would have replaced a complete document.
enum class PlaceResult { Placed, Taken, Failed, PageRefused };
// Moves a finished temporary file to target in one step. With replace, an
// entry at target is replaced (a symbolic link itself, never the file it
// points to); without, an entry at target is never touched and Taken is
// returned. The file gets the replaced file's permissions, or rw-r--r--.
// The temporary file is left where it is unless Placed.
PlaceResult moveIntoPlace(const QString& temp, const QString& target, bool replace);
// The same with the permissions already known (the caller has looked at the
// target itself); they are set only when they differ from newFileMode().
PlaceResult moveIntoPlace(const QString& temp, const QString& target, bool replace, unsigned mode);

bool fileExists(const QString& path);
bool folderExists(const QString& path);
// Whether a window of that name is loaded (case-insensitive).
bool isWindowLoaded(const QString& name);

} // namespace dh
