#include "utilities/CopyFiles.h"

#include "app/Helpers.h"

#include <QCoroTimer>
#include <algorithm>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace dh {

SplitPath splitFilePath(const QString& path)
{
    SplitPath r;
    const QString p = trimSpaces(path);
    const int slash = p.lastIndexOf(QLatin1Char('/'));
    const QString name = slash >= 0 ? p.mid(slash + 1) : p;
    if (slash >= 0)
        r.folder = p.left(slash + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && name.size() - dot - 1 < 7) {
        r.baseName = name.left(dot);
        r.extension = name.mid(dot + 1);
    } else {
        r.baseName = name;
    }
    r.baseName = trimSpaces(r.baseName);
    r.extension = trimSpaces(r.extension);
    if (r.baseName.isEmpty()) {
        r.baseName = name;
        r.extension.clear();
    }
    return r;
}

QString stripNumberSuffix(const QString& name)
{
    if (!name.endsWith(QLatin1Char(']')))
        return name;
    const int open = name.lastIndexOf(QLatin1Char('['));
    if (open < 0)
        return name;
    const QString inner = trimSpaces(name.mid(open + 1, name.size() - open - 2));
    bool ok = false;
    inner.toULongLong(&ok);
    if (!ok || inner.isEmpty())
        return name;
    for (QChar c : inner) {
        if (!c.isDigit())
            return name;
    }
    const QString before = name.left(open);
    return before.isEmpty() ? name : before;
}

bool isNormalFile(const QString& path)
{
    const QFileInfo fi(path);
    return !path.isEmpty() && fi.exists() && fi.isFile() && !fi.isHidden();
}

bool copyFileKeepingTime(const QString& source, const QString& target, bool replace)
{
    if (!replace && entryExists(target))
        return false;
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QString temp = createTempBeside(target);
    if (temp.isEmpty())
        return false;
    bool ok = false;
    {
        QFile out(temp);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ok = true;
            QByteArray block(1 << 20, Qt::Uninitialized);
            for (;;) {
                const qint64 n = in.read(block.data(), block.size());
                if (n < 0) {
                    ok = false;
                    break;
                }
                if (n == 0)
                    break;
                if (out.write(block.constData(), n) != n) {
                    ok = false;
                    break;
                }
            }
            ok = ok && out.flush();
            if (ok)
                out.setFileTime(QFileInfo(source).lastModified(), QFileDevice::FileModificationTime);
            out.close();
            ok = ok && out.error() == QFileDevice::NoError;
        }
    }
    if (ok) {
        // The copy keeps the source's permissions, as a desktop copy does.
        QFile::setPermissions(temp, QFile::permissions(source));
        ok = moveIntoPlace(temp, target, replace) == PlaceResult::Placed;
        if (ok) {
            QFile::setPermissions(target, QFile::permissions(source));
            return true;
        }
    }
    QFile::remove(temp);
    return false;
}

bool sameFolder(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (ca.isEmpty() || cb.isEmpty())
        return a == b;
    return ca == cb;
}

namespace {
QString withExtension(const QString& base, const QString& ext)
{
    return ext.isEmpty() ? base : base + QLatin1Char('.') + ext;
}

// "base[007].ext": at least three digits.
QString numberedName(const QString& base, int n, const QString& ext)
{
    return withExtension(base + QLatin1Char('[') + QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0')) + QLatin1Char(']'),
                         ext);
}
} // namespace

FolderNames::FolderNames(const QString& folder)
{
    const QStringList names =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    m_taken = QSet<QString>(names.cbegin(), names.cend());
}

QString FolderNames::renamed(const QString& source)
{
    const SplitPath sp = splitFilePath(source);
    const QString base = stripNumberSuffix(sp.baseName);
    const QString plain = withExtension(base, sp.extension);
    if (!taken(plain))
        return plain;
    int& n = m_next[base + QLatin1Char('/') + sp.extension];  // '/' never occurs in a name
    n = std::max(n, 1);
    while (taken(numberedName(base, n, sp.extension)))
        ++n;
    return numberedName(base, n, sp.extension);
}

bool copyWithAutoRename(const QString& source, const QString& destFolder)
{
    if (!isNormalFile(source))
        return false;
    const SplitPath sp = splitFilePath(source);
    const QString base = stripNumberSuffix(sp.baseName);
    QString candidate = destFolder + withExtension(base, sp.extension);
    // Anything in the way (a folder, a hidden file, a link) blocks a name too:
    // copying onto it would fail or destroy it.
    for (int n = 1; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = destFolder + numberedName(base, n, sp.extension);
    return copyFileKeepingTime(source, candidate);
}

bool copyWithOption(const QString& source, const QString& destFolder, SameNameOption option)
{
    const SplitPath sp = splitFilePath(source);
    if (sameFolder(sp.folder, destFolder))
        return false;
    const QString targetName = trimSpaces(withExtension(sp.baseName, sp.extension));
    const QString target = destFolder + targetName;
    if (!entryExists(target))
        return copyFileKeepingTime(source, target);
    const QFileInfo src(source), dst(target);
    bool overwrite = false;
    switch (option) {
    case SameNameOption::Skip:
        return false;
    case SameNameOption::Overwrite:
        overwrite = true;
        break;
    case SameNameOption::Rename:
        break;
    case SameNameOption::SizeAndTime:
        overwrite = src.size() == dst.size() && src.lastModified() == dst.lastModified();
        break;
    case SameNameOption::SizeOnly:
        overwrite = src.size() == dst.size();
        break;
    }
    if (!overwrite)
        return copyWithAutoRename(source, destFolder);
    // Never delete the source itself (the same file reached by another path).
    if (src.canonicalFilePath() == dst.canonicalFilePath())
        return false;
    // The old file goes only when the new one is complete: the move replaces it.
    if (dst.isDir() && !dst.isSymLink())
        return false;
    return copyFileKeepingTime(source, target, true);
}

QCoro::Task<void> CopyRun::run(QStringList files, QString destFolder, SameNameOption option)
{
    m_running = true;
    m_copied = 0;
    const int count = static_cast<int>(files.size());
    Q_EMIT progress(0, count + 1);
    for (int j = 1; j <= count; ++j) {
        if (!m_running)
            continue;
        Q_EMIT progress(j, count + 1);
        const QString& source = files.at(j - 1);
        const SplitPath sp = splitFilePath(source);
        if (sameFolder(sp.folder, destFolder))
            continue;
        const QString name = trimSpaces(sp.extension.isEmpty() ? sp.baseName : sp.baseName + QLatin1Char('.') + sp.extension);
        Q_EMIT currentFile(name);
        // Let window events run: this is where "停止" is seen.
        co_await QCoro::sleepFor(std::chrono::milliseconds(0));
        if (copyWithOption(source, destFolder, option))
            ++m_copied;
    }
    // A finished run shows a full bar next to 复制文件完成！; a stopped one
    // shows how far it got.
    int reached = count + 1;
    if (!m_running)
        reached = std::min(count, m_copied);
    Q_EMIT progress(reached, count + 1);
    Q_EMIT currentFile(QString());
    m_running = false;
}

} // namespace dh
