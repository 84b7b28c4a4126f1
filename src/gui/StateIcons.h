#pragma once
#include "download/DownloadItem.h"

#include <QIcon>

namespace dh {

// The 16x16 row-state pictures: blue pause, blue play, green tick, red cross, amber globe.
QIcon stateIcon(DownloadState s);
// Hands the pictures to the download list model.
void installStateIcons();

} // namespace dh
