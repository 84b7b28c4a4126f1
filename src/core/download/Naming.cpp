#include "download/Naming.h"

#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "download/DownloadListModel.h"
#include "download/TransferSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <sys/stat.h>

namespace dh {

namespace {

// A bracketed counter: digits only, surrounding spaces allowed. Signs,
// fractions and numbers too long for a counter are plain text.
bool parseCounter(const QString& text, qint64* value)
{
    const QString t = trimSpaces(text);
    if (t.isEmpty() || t.size() > 18)
        return false;
    for (QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *value = t.toLongLong();
    return true;
}

// One counter format for every numbered name ("x[001]"); counters of any
// width are still read and continued.
constexpr int kCounterDigits = 3;

QString padded(qint64 n, int width)
{
    return QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
}

QString withSlash(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString withType(const QString& name, const QString& type)
{
    return type.isEmpty() ? name : name + QLatin1Char('.') + type;
}

// The first max UTF-16 units, without splitting a surrogate pair.
QString leftChars(const QString& s, int max)
{
    if (s.size() <= max)
        return s;
    int n = max;
    if (n > 0 && s.at(n - 1).isHighSurrogate())
        --n;
    return s.left(n);
}

} // namespace

QString sameNamePolicyCaption(SameNamePolicy policy)
{
    switch (policy) {
    case SameNamePolicy::Skip:
        return QStringLiteral("跳过");
    case SameNamePolicy::Overwrite:
        return QStringLiteral("覆盖");
    case SameNamePolicy::Rename:
        break;
    }
    return QStringLiteral("重命名");
}

QString sameNamePolicyLabel()
{
    return QStringLiteral("同名文件：");
}

SameNamePolicy sameNamePolicyFromText(const QString& stored)
{
    if (stored == trimSpaces(sameNamePolicyCaption(SameNamePolicy::Skip)))
        return SameNamePolicy::Skip;
    if (stored == trimSpaces(sameNamePolicyCaption(SameNamePolicy::Overwrite)))
        return SameNamePolicy::Overwrite;
    return SameNamePolicy::Rename;
}

SameNamePolicy loadSameNamePolicy(const SettingsStore& store)
{
    return sameNamePolicyFromText(store.get(keys::sameNamePolicy));
}

void saveSameNamePolicy(SettingsStore& store, SameNamePolicy policy)
{
    store.save(keys::sameNamePolicy, trimSpaces(sameNamePolicyCaption(policy)));
}

bool pathTaken(const QString& path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool nameInUse(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    // A killed run cannot remove its placeholders; the name is not the user's.
    return !(isStalePlaceholder(path, st) && removePlaceholder(path));
}

std::optional<qint64> lengthInTheWay(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty() || ::lstat(native.constData(), &st) != 0)
        return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
        // A link is in the way whatever it leads to, except to a folder; its
        // length is what it leads to (nothing for a dangling one).
        struct stat to {};
        if (::stat(native.constData(), &to) != 0)
            return 0;
        return S_ISDIR(to.st_mode) ? std::nullopt : std::optional<qint64>(to.st_size);
    }
    if (S_ISDIR(st.st_mode) || (isStalePlaceholder(path, st) && removePlaceholder(path)))
        return std::nullopt;
    return qint64(st.st_size);
}

SameNamePolicy savePolicyFor(const DownloadItem& row, SameNamePolicy chosen)
{
    return ownsItemFile(row) ? SameNamePolicy::Overwrite : chosen;
}

QString nameFromAddress(const QString& url)
{
    const QString raw = fileNameFromPath(url, true);
    if (!raw.contains(QLatin1Char('%')))
        return raw;
    const QByteArray bytes = QByteArray::fromPercentEncoding(raw.toUtf8());
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString name = utf8(bytes);
    if (!utf8.hasError())
        return name;
    // Chinese sites often escape GBK bytes.
    QStringDecoder gbk("GBK");
    if (gbk.isValid()) {
        name = gbk(bytes);
        if (!gbk.hasError())
            return name;
    }
    return raw;
}

QString fallbackNameFromAddress(const QString& url)
{
    QString path = QUrl(trimSpaces(url)).path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = url;
    return sanitizeFileName(nameFromAddress(path));
}

QString unnamedFileName()
{
    return QStringLiteral("未命名");
}

QString fitNameForType(const QString& name, const QString& type, int counterBytes)
{
    const int typeBytes = type.isEmpty() ? 0 : int(QFile::encodeName(type).size()) + 1;
    const int room = kFileNameMaxBytes - typeBytes - counterBytes;
    return cutToBytes(name, std::max(room, 1));
}

bool needsDownload(DownloadItem& row, SameNamePolicy policy)
{
    if (!isDownloadableAddress(row.url)) {
        row.state = DownloadState::Failed;
        row.note = RowNote::Unsupported;
        row.failCode = FailCode::Unsupported;
        return false;
    }
    if (trimSpaces(row.name).isEmpty()) {
        // A hidden ".pdf" would be the result, one shared by every such row.
        row.name = fallbackNameFromAddress(row.url);
        if (row.name.isEmpty())
            renameForSavePath(row.folder, unnamedFileName(), row.fileType, SameNamePolicy::Rename, &row.name);
    }
    if (policy != SameNamePolicy::Skip || ownsItemFile(row))
        return true;
    // Any entry but a folder is a file in the way, a link (dangling or not)
    // too: writing would go through it.
    const std::optional<qint64> length = lengthInTheWay(itemFilePath(row));
    if (!length)
        return true;
    row.state = DownloadState::Done;
    row.size = row.received = *length;
    row.percent = -1;
    row.note = RowNote::SkippedExisting;
    return false;
}

bool needsDownload(DownloadListModel& list, int row, SameNamePolicy policy)
{
    if (row < 0 || row >= list.size())
        return false;
    DownloadItem item = list.item(row);
    const QString name = item.name;
    const bool needed = needsDownload(item, policy);
    if (!needed || item.name != name)
        list.setItem(row, item);
    return needed;
}

QString renameForSavePath(const QString& folder, const QString& name, const QString& type, SameNamePolicy policy,
                      QString* outName)
{
    const QString dir = withSlash(folder);
    QString path = dir + withType(name, type);
    if (outName)
        *outName = name;
    // Anything in the way counts, not only files: a folder of that name would
    // make the transfer fail just the same.
    if (policy == SameNamePolicy::Overwrite || !nameInUse(path))
        return path;

    // Continue a number the name already carries instead of stacking a second one.
    QString base = name;
    qint64 n = 0;
    const qsizetype open = base.lastIndexOf(QLatin1Char('['));
    const qsizetype close = base.lastIndexOf(QLatin1Char(']'));
    if (open >= 0 && close >= 0 && open < close) {
        qint64 value = 0;
        if (parseCounter(base.mid(open + 1, close - open - 1), &value)) {
            n = value;
            base = base.left(open);
        }
    }
    // Only the counter may use ASCII brackets.
    base.replace(QLatin1Char('['), QStringLiteral("『"));
    base.replace(QLatin1Char(']'), QStringLiteral("』"));

    auto numbered = [&](qint64 k) {
        const QString counter = QLatin1Char('[') + padded(k, kCounterDigits) + QLatin1Char(']');
        return fitNameForType(base, type, int(counter.size())) + counter;
    };
    QString shown = n != 0 ? numbered(n) : fitNameForType(base, type);
    path = dir + withType(shown, type);
    while (nameInUse(path)) {
        ++n;
        shown = numbered(n);
        path = dir + withType(shown, type);
    }
    if (outName)
        *outName = shown;
    return path;
}

QString makeUniquePath(const QString& path, const std::function<bool(const QString&)>& alsoTaken)
{
    // Nothing is removed here (a dry run plans with this): the mover clears a stale placeholder.
    auto taken = [&](const QString& p) {
        return (pathTaken(p) && !isStalePlaceholder(p)) || (alsoTaken && alsoTaken(p));
    };
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (!taken(path) || slash < 0)
        return path;

    const QString dir = path.left(slash + 1);
    const QString file = path.mid(slash + 1);
    QString base = file;
    QString ext;
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        base = file.left(dot);
        ext = file.mid(dot + 1);
    }
    base = leftChars(base, 100);
    // Room for the counter and the extension within the file-name limit.
    base = cutToBytes(base, kFileNameMaxBytes - 8 - int(QFile::encodeName(ext).size()));
    if (base.endsWith(QLatin1Char(']'))) {
        const qsizetype open = base.lastIndexOf(QLatin1Char('['));
        qint64 value = 0;
        if (open >= 0 && parseCounter(base.mid(open + 1, base.size() - open - 2), &value))
            base = base.left(open);
    }
    const QString suffix = ext.isEmpty() ? QString() : QLatin1Char('.') + ext;
    QString candidate = dir + base + suffix;
    qint64 n = 0;
    while (taken(candidate)) {
        ++n;
        candidate = dir + base + QLatin1Char('[') + padded(n, kCounterDigits) + QLatin1Char(']') + suffix;
    }
    return candidate;
}

QString makeUniquePath(const QString& path)
{
    return makeUniquePath(path, {});
}

QString splitNameAndExtension(const QString& path, QString* outBase)
{
    QString s = trimSpaces(path);
    const qsizetype slash = s.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        s = s.mid(slash + 1);
    QString base = s;
    QString ext;
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        base = s.left(dot);
        ext = s.mid(dot + 1);
        if (ext.size() >= 7) {
            base = s;
            ext.clear();
        }
    }
    if (outBase)
        *outBase = trimSpaces(base);
    return trimSpaces(ext);
}

} // namespace dh
