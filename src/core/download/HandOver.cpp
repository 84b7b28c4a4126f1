#include "download/HandOver.h"

#include "app/Helpers.h"

namespace dh {

QString handOverName(const QString& url, const QString& title, bool useAddressName)
{
    const QString name = useAddressName ? fileNameFromPath(url, true) : trimSpaces(removeLineBreaks(title));
    return sanitizeFileName(name);
}

} // namespace dh
