#pragma once

namespace dh {

// Lets the start window's one-shot timer start the update check: an
// XmlHttpRequest owned by the start window asks updateBaseAddress for the
// latest version, and a newer one appears in its "最新版本：" label.
void installUpdateCheck();

} // namespace dh
