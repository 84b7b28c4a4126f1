#pragma once
#include <QString>

#include <optional>

namespace dh {

class SearchWindow;

// Which search service the windows use. With none configured the program
// runs its built-in demo service (the one --demo starts) and says so; a
// configured or given address always wins over it.
namespace services {

inline QString demoModeText() { return QStringLiteral("演示模式"); }

// Start-up: the settings, then --demo, then --search-base / --update-base;
// when no search service is left, the demo service starts. Fills the
// process-wide addresses. False (with a message) when the demo service that
// is needed cannot start.
bool resolveAtStartup(bool demoFlag, const std::optional<QString>& searchArg,
                      const std::optional<QString>& updateArg, QString* error);

// The search address to use for a configured value: the value itself, or the
// demo service's address (started on first need) when it is empty. Empty only
// when the demo service cannot start.
QString searchBaseFor(const QString& configured);

// Makes a newly configured search address the one the open search window's
// next batch uses (the demo service when empty), and shows the mode.
void applySearchService(const QString& configured);

// The built-in demo service's address, starting it once; empty on failure.
QString startDemoService();
QString demoServiceAddress();  // empty when not started
// Whether the search windows currently use the built-in demo service.
bool demoMode();
void stopDemoService();

// The search window's status bar shows "演示模式" while the demo service is in use.
void showSearchServiceMode(SearchWindow* window);

} // namespace services
} // namespace dh
