#pragma once

namespace dh {

// Lets the cover's one-shot timer start the update check: the request control
// uXMLHTTP2 on the cover asks updateBaseAddress for the latest version, and a
// newer one appears in the cover's "最新版本：" label.
void installUpdateCheck();

} // namespace dh
