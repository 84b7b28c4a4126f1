#pragma once
// The system proxy for a request, remembered per destination. Asking the
// system (libproxy) costs more than a small download on a fast line, and the
// answer for one host does not change from file to file.

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkProxy>

#include <functional>
#include <string>

namespace dh {

class SystemProxyCache {
public:
    using Lookup = std::function<QList<QNetworkProxy>(const QNetworkProxyQuery&)>;

    // lookup: the real question to the system; by default
    // QNetworkProxyFactory::systemProxyForQuery.
    explicit SystemProxyCache(Lookup lookup = {});

    // The answer for the query's scheme, host and port. An answer is asked
    // again once it is older than Timings::systemProxyHold, and every answer
    // is dropped when a proxy environment variable changes, so a changed
    // setting holds for the next run at the latest.
    QList<QNetworkProxy> proxyFor(const QNetworkProxyQuery& query);

    // Drops every answer.
    void clear();

private:
    struct Entry {
        QList<QNetworkProxy> proxies;
        QElapsedTimer age;
    };
    static std::string environmentStamp();

    Lookup m_lookup;
    std::string m_stamp;
    QHash<QString, Entry> m_entries;
};

} // namespace dh
