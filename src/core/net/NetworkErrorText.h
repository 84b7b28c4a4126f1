#pragma once
// Transfer failures in the user's words. The network layers (QNetworkReply,
// Chromium in the embedded browser, the page caps of the browsers) speak
// English; the windows and the command line show a Chinese reason with the
// network's own words in brackets, so that the cause can still be looked up.

#include <QString>

namespace dh {

struct NetworkFailure {
    QString reason;   // short Chinese reason: "无法连接"
    QString network;  // what the network layer said: "Connection refused"
    // "无法连接（Connection refused）"; the reason alone when the network said nothing.
    QString text() const;
};

// Maps a network layer's error text to its reason. Texts it does not know
// get the general reason "网络错误", still with their own words.
NetworkFailure describeNetworkError(const QString& networkText);

} // namespace dh
