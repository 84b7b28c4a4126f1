#include "gui/CacheWiring.h"

#include "gui/StartWindow.h"
#include "platform/chromiumcache/SimpleCache.h"
#include "platform/webengine/WebEngineBrowser.h"

#include <QDir>
#include <QStandardPaths>

namespace dh {

QString cacheSidecarFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QStringLiteral("/DocHarvest/cache-files");
}

std::unique_ptr<CacheIndex> makeCurrentCacheIndex()
{
    return std::make_unique<SimpleCacheIndex>(WebEngineBrowser::httpCacheDirectory(), cacheSidecarFolder());
}

CacheLocations currentCacheLocations()
{
    return defaultCacheLocations(WebEngineBrowser::httpCacheDirectory(), cacheSidecarFolder(), QDir::homePath());
}

void clearBrowserCache(bool showMessage)
{
    const auto index = makeCurrentCacheIndex();
    clearBrowserCache(index.get(), currentCacheLocations(), showMessage);
}

void installCacheClearingAtExit()
{
    StartWindow::clearCacheHook() = [] { clearBrowserCache(false); };
}

} // namespace dh
