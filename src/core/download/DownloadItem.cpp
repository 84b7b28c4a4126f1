#include "download/DownloadItem.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace dh {

QString itemFilePath(const QString& folder, const QString& name, const QString& fileType)
{
    QString p = folder;
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    p += name;
    if (!fileType.isEmpty())
        p += QLatin1Char('.') + fileType;
    return p;
}

QString itemFilePath(const DownloadItem& item)
{
    return itemFilePath(item.folder, item.name, item.fileType);
}

OwnedFile identifyFile(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return identifyFile(path, st);
}

OwnedFile identifyFile(const QString& path, const struct ::stat& st)
{
    OwnedFile f;
    if (path.isEmpty() || !S_ISREG(st.st_mode))
        return f;
    f.path = path;
    f.device = quint64(st.st_dev);
    f.inode = quint64(st.st_ino);
    f.changeNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return f;
}

bool PartialBody::usable() const
{
    if (!isSet() || validator.isEmpty() || bytes <= 0 || bytes >= total)
        return false;
    const QFileInfo fi(path);
    return fi.isFile() && !fi.isSymLink() && fi.size() == bytes;
}

void discardPartial(PartialBody& partial)
{
    if (partial.isSet())
        QFile::remove(partial.path);
    partial = {};
}

bool isSameFile(const OwnedFile& file, const struct ::stat& st)
{
    const OwnedFile now = identifyFile(file.path, st);
    return file.isSet() && now.isSet() && now.device == file.device && now.inode == file.inode
        && now.changeNs == file.changeNs;
}

bool DownloadItem::isComplete() const
{
    return (state == DownloadState::Done || state == DownloadState::Page) && !isSkipped();
}

RowOutcome outcomeOf(const DownloadItem& item)
{
    switch (item.state) {
    case DownloadState::Waiting: return RowOutcome::Waiting;
    case DownloadState::Downloading: return RowOutcome::Downloading;
    case DownloadState::Page: return RowOutcome::WebPage;
    case DownloadState::Failed:
        return item.note == RowNote::Cancelled || item.failCode == FailCode::Cancelled ? RowOutcome::Cancelled
                                                                                    : RowOutcome::Failed;
    case DownloadState::Done:
        if (item.note == RowNote::SkippedExisting)
            return RowOutcome::SkippedExisting;
        if (item.note == RowNote::SkippedTooLarge)
            return RowOutcome::SkippedTooLarge;
        return RowOutcome::Done;
    }
    return RowOutcome::Waiting;
}

bool ownsItemFile(const DownloadItem& item)
{
    if (!item.owned.isSet() || item.owned.path != itemFilePath(item))
        return false;
    struct stat st {};
    return ::lstat(QFile::encodeName(item.owned.path).constData(), &st) == 0 && isSameFile(item.owned, st);
}

} // namespace dh
