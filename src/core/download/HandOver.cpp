#include "download/HandOver.h"

#include "app/Helpers.h"

namespace dh {

QString HandOverName(const QString& url, const QString& title, bool useAddressName)
{
    const QString name = useAddressName ? FileNameFromPath(url, true) : TrimSpaces(RemoveLineBreaks(title));
    return SanitizeFileName(name);
}

} // namespace dh
