#include "app/Helpers.h"

#include "app/WindowRegistry.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dh {

QString trimSpaces(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

QString encodeKeyword(const QString& keyword)
{
    QString s = keyword;
    s.replace(QLatin1Char('%'), QLatin1String("%25"));
    QString out;
    out.reserve(s.size() * 3);
    const QList<uint> cps = s.toUcs4();
    for (uint cp : cps) {
        if (cp < 0x80) {
            out += QChar(char16_t(cp));
            continue;
        }
        const QByteArray utf8 = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1).toUtf8();
        for (unsigned char c : utf8)
            out += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
    }
    out.replace(QLatin1Char('#'), QLatin1String("%23"));
    out.replace(QLatin1Char('^'), QLatin1String("%5E"));
    out.replace(QLatin1Char('&'), QLatin1String("%26"));
    out.replace(QLatin1Char('+'), QLatin1String("%2B"));
    return out;
}

QString removeLineBreaks(const QString& text)
{
    QString s = text;
    s.remove(QLatin1Char('\r'));
    s.remove(QLatin1Char('\n'));
    s.remove(QChar(0));
    return s;
}

QString cutToBytes(const QString& text, int maxBytes)
{
    if (QFile::encodeName(text).size() <= maxBytes)
        return text;
    QString cut;
    qsizetype bytes = 0;
    const QList<uint> cps = text.toUcs4();
    for (uint cp : cps) {
        const QString ch = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1);
        const qsizetype n = QFile::encodeName(ch).size();
        if (bytes + n > maxBytes)
            break;
        bytes += n;
        cut += ch;
    }
    return cut;
}

QString sanitizeFileName(const QString& text)
{
    QString s = text;
    for (QChar c : QStringLiteral("\\/:*?\"<>|"))
        s.remove(c);
    s = removeLineBreaks(s);
    // Other control characters make names that cannot be typed or shown.
    s.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    // Direction overrides and marks: a name like "abc\u202Efdp.exe" would show
    // an extension it does not have.
    s.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F;
    });
    while (s.startsWith(QLatin1Char('.')))
        s.remove(0, 1);
    while (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    // The budget counts the bytes the file system stores (Qt writes UTF-8
    // names whatever the locale), leaving room for the type and a counter.
    return trimSpaces(cutToBytes(s, kNameBudgetBytes));
}

QString fileNameFromPath(const QString& addressOrPath, bool stripExtension)
{
    QString s = addressOrPath;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = s.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        s = trimSpaces(s.mid(slash + 1));
    if (stripExtension) {
        const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0)
            s = trimSpaces(s.left(dot));
    }
    return s;
}

QString makeFolderPath(const QString& path)
{
    QString p = path;
    if (p == QLatin1String("~") || p.startsWith(QLatin1String("~/")))
        p = QDir::homePath() + p.mid(1);
    if (p == QLatin1String("/"))
        return p;
    const QStringList pieces = p.split(QLatin1Char('/'));
    QString result = pieces.value(0);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString& raw = pieces.at(i);
        if (raw.isEmpty())
            break;
        // A level the user already has is taken as it is written: sanitising
        // it would silently put the files into a new folder beside it.
        const bool special = raw == QLatin1String(".") || raw == QLatin1String("..");
        if (!special && QFileInfo(result + QLatin1Char('/') + raw).isDir()) {
            result += QLatin1Char('/') + raw;
            continue;
        }
        const QString piece = sanitizeFileName(raw);
        if (piece.isEmpty()) {
            Prompter::instance().message(QStringLiteral("文件夹名称有误！不能创建文件夹！"), MessageIcon::Error);
            break;
        }
        result += QLatin1Char('/') + piece;
        if (!QFileInfo::exists(result))
            QDir().mkdir(result);  // a failure shows up as a missing result below
    }
    if (!result.isEmpty() && QFileInfo::exists(result))
        return result;
    return QString();
}

bool entryExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

void FileHandle::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

unsigned newFileMode()
{
    static const unsigned mode = [] {
        // Read where the kernel shows it: setting and restoring it instead
        // would change it for a moment under the other threads' feet.
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const unsigned mask = line.mid(6).trimmed().toUInt(&ok, 8);
                    if (ok)
                        return 0644u & ~mask;
                }
            }
        }
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return unsigned(0644 & ~mask);
    }();
    return mode;
}

QString createTempBeside(const QString& target, FileHandle* handle)
{
    // One exclusive create under a fresh name. QTemporaryFile would make an
    // unnamed file and link it to a name afterwards, two more system calls
    // for every download, and its owner-only permissions would need a
    // change at the end.
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QString prefix = QFileInfo(target).absolutePath() + QStringLiteral("/.dh-");
    const int access = handle ? O_RDWR : O_WRONLY;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = prefix;
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(kChars[QRandomGenerator::global()->bounded(int(sizeof kChars - 1))]);
        name += QStringLiteral(".part");
        const int fd = ::open(QFile::encodeName(name).constData(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0644);
        if (fd >= 0) {
            if (handle)
                *handle = FileHandle(fd);
            else
                ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            return QString();
    }
    return QString();
}

PlaceResult moveIntoPlace(const QString& temp, const QString& target, bool replace)
{
    // Without replace the no-replace move itself tells whether the name is
    // free, so a new file needs no look at the target first.
    mode_t mode = newFileMode();
    struct stat st {};
    if (replace && ::lstat(QFile::encodeName(target).constData(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    return moveIntoPlace(temp, target, replace, mode);
}

PlaceResult moveIntoPlace(const QString& temp, const QString& target, bool replace, unsigned mode)
{
    const QByteArray from = QFile::encodeName(temp);
    const QByteArray to = QFile::encodeName(target);
    if (mode != newFileMode())
        ::chmod(from.constData(), mode_t(mode));
    if (replace)
        return ::rename(from.constData(), to.constData()) == 0 ? PlaceResult::Placed : PlaceResult::Failed;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return PlaceResult::Placed;
    if (errno == EEXIST)
        return PlaceResult::Taken;
    if (errno != EINVAL && errno != ENOSYS)
        return PlaceResult::Failed;
    // A file system without the no-replace move: a hard link never replaces
    // anything either.
    if (::link(from.constData(), to.constData()) != 0)
        return errno == EEXIST ? PlaceResult::Taken : PlaceResult::Failed;
    ::unlink(from.constData());
    return PlaceResult::Placed;
}

bool fileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo fi(path);
    return fi.exists() && !fi.isDir();
}

bool folderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

bool isWindowLoaded(const QString& name)
{
    return WindowRegistry::isLoaded(name);
}

} // namespace dh
