#pragma once
#include <QString>

namespace dh {

// Whether text is usable as the base address of a service: an absolute
// http:// or https:// address with a host, nothing else (no spaces, no
// user information). Surrounding spaces are ignored.
bool IsHttpServiceAddress(const QString& text);

} // namespace dh
