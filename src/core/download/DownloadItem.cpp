#include "download/DownloadItem.h"

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

} // namespace dh
