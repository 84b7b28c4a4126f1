#pragma once

namespace dh {

class SearchWindow;
class DownloadWindow;

// Each main window exists at most once: referring to it loads it, closing it
// destroys it, and the next reference creates a fresh one.
namespace windows {
SearchWindow* search();        // loads it when needed
SearchWindow* searchIfLoaded();
DownloadWindow* download();   // loads it when needed
DownloadWindow* downloadIfLoaded();
// Shows the cover again when neither main window is loaded.
void coverBackIfLastMainWindow(const char* closingWindow);
// The about box of both main windows: title, version and operating system.
void showAbout();
} // namespace windows

} // namespace dh
