#include "download/HandOver.h"

#include "app/Helpers.h"
#include "download/Naming.h"

namespace dh {

QString handOverName(const QString& url, const QString& title, bool useAddressName)
{
    const QString name = useAddressName ? nameFromAddress(url) : trimSpaces(removeLineBreaks(title));
    return sanitizeFileName(name);
}

} // namespace dh
