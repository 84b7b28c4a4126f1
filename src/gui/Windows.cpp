#include "gui/Windows.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/Helpers.h"
#include "platform/Prompter.h"
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

void showAbout()
{
    const QString text = programTitle() + QLatin1Char('\n') + versionLabelText() + QLatin1Char('\n')
                         + globals().OsDescription;
    Prompter::instance().message(text, MessageIcon::Information, QStringLiteral("关于") + programTitle());
}

} // namespace dh::windows
