#include "download/DownloadItem.h"

#include <QFile>
#include <sys/stat.h>

namespace dh {

QString ItemFilePath(const QString& folder, const QString& name, const QString& fileType)
{
    QString p = folder;
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    p += name;
    if (!fileType.isEmpty())
        p += QLatin1Char('.') + fileType;
    return p;
}

QString ItemFilePath(const DownloadItem& item)
{
    return ItemFilePath(item.Folder, item.Name, item.FileType);
}

OwnedFile IdentifyFile(const QString& path)
{
    OwnedFile f;
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return f;
    f.path = path;
    f.device = quint64(st.st_dev);
    f.inode = quint64(st.st_ino);
    f.changeNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return f;
}

bool OwnsItemFile(const DownloadItem& item)
{
    if (!item.Owned.isSet() || item.Owned.path != ItemFilePath(item))
        return false;
    const OwnedFile now = IdentifyFile(item.Owned.path);
    return now.isSet() && now.device == item.Owned.device && now.inode == item.Owned.inode
        && now.changeNs == item.Owned.changeNs;
}

} // namespace dh
