#pragma once
#include "cache/CacheViewer.h"

#include <memory>

namespace dh {

// The folder where cached bodies are written out (~/.cache/DocHarvest/cache-files).
QString cacheSidecarFolder();
// The current user's cache index: the embedded browser's HTTP cache.
std::unique_ptr<CacheIndex> makeCurrentCacheIndex();
// The cache folders of the current user and of all users.
CacheLocations currentCacheLocations();

// Empties the browser cache of all users (the menu command "清空IE浏览器缓存"
// passes true, the exit passes false).
void clearBrowserCache(bool showMessage);

// Makes the start-up window clear the cache silently when the program exits.
void installCacheClearingAtExit();

} // namespace dh
