#include "gui/Windows.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/Helpers.h"
#include "ports/Prompter.h"
#include "gui/StartWindow.h"
#include "gui/DownloadWindow.h"
#include "gui/SearchWindow.h"

#include <QPointer>

namespace dh::windows {

namespace {
QPointer<SearchWindow>& searchSlot()
{
    static QPointer<SearchWindow> p;
    return p;
}
QPointer<DownloadWindow>& downloadSlot()
{
    static QPointer<DownloadWindow> p;
    return p;
}
} // namespace

SearchWindow* search()
{
    if (!searchSlot())
        searchSlot() = new SearchWindow();
    return searchSlot();
}

SearchWindow* searchIfLoaded()
{
    return searchSlot();
}

DownloadWindow* download()
{
    if (!downloadSlot())
        downloadSlot() = new DownloadWindow();
    return downloadSlot();
}

DownloadWindow* downloadIfLoaded()
{
    return downloadSlot();
}

void coverBackIfLastMainWindow(const char* closingWindow)
{
    const QString other = QLatin1String(closingWindow) == QLatin1String("fWebSearch")
        ? QStringLiteral("fFileDownload")
        : QStringLiteral("fWebSearch");
    if (isWindowLoaded(other))
        return;
    if (StartWindow* c = StartWindow::instance())
        c->show();
}

void showAbout()
{
    const QString text = programTitle() + QLatin1Char('\n') + versionLabelText() + QLatin1Char('\n')
                         + globals().osDescription;
    Prompter::instance().message(text, MessageIcon::Information, QStringLiteral("关于") + programTitle());
}

} // namespace dh::windows
