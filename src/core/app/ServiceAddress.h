#pragma once
#include "app/SettingsStore.h"

#include <QString>

namespace dh {

// Whether text is usable as the base address of a service: an absolute
// http:// or https:// address with a host, nothing else (no spaces, no
// user information). Surrounding spaces are ignored.
bool isHttpServiceAddress(const QString& text);

// Whether text is an absolute http or https address with a host. Pages,
// next-page links and collected links are only taken from such addresses.
bool isWebAddress(const QString& text);

// Why text cannot serve as a service base address (the search or update
// service): empty when it can. Only http and https addresses are accepted
// (isHttpServiceAddress), so that a setting such as "javascript:..." or
// "file:///..." never reaches a browser or a request.
QString serviceBaseProblem(const QString& text);

// A service base address from the settings: the stored value when it is
// usable or empty, otherwise the key's default, with the reason in *problem.
QString serviceBaseFromSettings(const SettingKey& key, QString* problem = nullptr);

} // namespace dh
