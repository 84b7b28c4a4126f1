#pragma once
// The window tests (tests/gui) drive a window's controls directly, as a user
// would; the controls stay private to everything else. A window names them
// all as friends with DH_WINDOW_TEST_FRIENDS in its private part.

class CacheViewerTest;
class CliWindowSameFolderTest;
class DesktopLookTest;
class DownloadListOpsTest;
class DownloadWindowTest;
class FirstRunTest;
class HostileSearchWindowTest;
class LoginPanelTest;
class OptionsDialogTest;
class SaveDialogTest;
class SearchCommandsTest;
class SearchWindowTest;
class UpdateCheckTest;
class WebEngineBrowserTest;
class WindowLifecycleTest;

#define DH_WINDOW_TEST_FRIENDS                                                                          \
    friend class ::CacheViewerTest;                                                                     \
    friend class ::CliWindowSameFolderTest;                                                             \
    friend class ::DesktopLookTest;                                                                     \
    friend class ::DownloadListOpsTest;                                                                 \
    friend class ::DownloadWindowTest;                                                                  \
    friend class ::FirstRunTest;                                                                        \
    friend class ::HostileSearchWindowTest;                                                             \
    friend class ::LoginPanelTest;                                                                      \
    friend class ::OptionsDialogTest;                                                                   \
    friend class ::SaveDialogTest;                                                                      \
    friend class ::SearchCommandsTest;                                                                  \
    friend class ::SearchWindowTest;                                                                    \
    friend class ::UpdateCheckTest;                                                                     \
    friend class ::WebEngineBrowserTest;                                                                \
    friend class ::WindowLifecycleTest;
