#pragma once
#include <QString>

namespace dh {

// The name a collected link gets when it goes into the download list: its
// title with line breaks removed and outer spaces trimmed, or with
// useAddressName ("原文件名") the last segment of its address without the
// extension, percent-decoded; either way made usable as a file name. The search window's
// hand-over and docharvest-cli name rows through this one rule.
QString handOverName(const QString& url, const QString& title, bool useAddressName);

} // namespace dh
