#pragma once
#include <QString>

namespace dh {

class SettingsStore;

// The rendering level value for this program's embedded browser. Linux has no
// registry; the value is kept in the settings section below so the choice stays
// visible and stable. Chromium renders in standards mode whatever it holds.
inline constexpr const char* kBrowserEmulationSection = "FEATURE_BROWSER_EMULATION";

enum class EmulationResult { Written, Unchanged, Deleted };

// 10001/10000 for IE10 (forced / not forced), 9999/9000, 8888/8000, 7000/7000;
// 0 for any other level.
unsigned browserEmulationValue(const QString& level, bool forceStandards);

// Writes the value under the executable's name + ".exe" when it differs from
// the stored one; deletes it for an unknown level.
EmulationResult setBrowserEmulation(const QString& level, bool forceStandards, SettingsStore& store,
                                    const QString& executableName);
EmulationResult setBrowserEmulation(const QString& level, bool forceStandards);

} // namespace dh
