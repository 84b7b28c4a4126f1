#include "gui/Windows.h"

#include "app/Helpers.h"
#include "gui/fCover.h"
#include "gui/fFileDownload.h"
#include "gui/fWebSearch.h"

#include <QPointer>

namespace dh::windows {

namespace {
QPointer<fWebSearch>& searchSlot()
{
    static QPointer<fWebSearch> p;
    return p;
}
QPointer<fFileDownload>& downloadSlot()
{
    static QPointer<fFileDownload> p;
    return p;
}
} // namespace

fWebSearch* search()
{
    if (!searchSlot())
        searchSlot() = new fWebSearch();
    return searchSlot();
}

fWebSearch* searchIfLoaded()
{
    return searchSlot();
}

fFileDownload* download()
{
    if (!downloadSlot())
        downloadSlot() = new fFileDownload();
    return downloadSlot();
}

fFileDownload* downloadIfLoaded()
{
    return downloadSlot();
}

void coverBackIfLastMainWindow(const char* closingWindow)
{
    const QString other = QLatin1String(closingWindow) == QLatin1String("fWebSearch")
        ? QStringLiteral("fFileDownload")
        : QStringLiteral("fWebSearch");
    if (IsFormLoaded(other))
        return;
    if (fCover* c = fCover::instance())
        c->show();
}

} // namespace dh::windows
