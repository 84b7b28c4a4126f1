#include "net/SystemProxyCache.h"

#include "app/Timings.h"

#include <QNetworkProxyFactory>

#include <cstdlib>

namespace dh {

SystemProxyCache::SystemProxyCache(Lookup lookup)
    : m_lookup(lookup ? std::move(lookup) : Lookup(&QNetworkProxyFactory::systemProxyForQuery))
    , m_stamp(environmentStamp())
{
}

std::string SystemProxyCache::environmentStamp()
{
    // The variables libproxy and QtNetwork read; a desktop's own proxy
    // settings are caught by the age limit instead.
    static const char* const kNames[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                         "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
    std::string stamp;
    for (const char* name : kNames) {
        if (const char* value = std::getenv(name)) {
            stamp += name;
            stamp += '=';
            stamp += value;
        }
        stamp += '\n';
    }
    return stamp;
}

QList<QNetworkProxy> SystemProxyCache::proxyFor(const QNetworkProxyQuery& query)
{
    std::string stamp = environmentStamp();
    if (stamp != m_stamp) {
        m_entries.clear();
        m_stamp = std::move(stamp);
    }
    const QUrl url = query.url();
    const QString key = QString::number(int(query.queryType())) + QLatin1Char(' ') + query.protocolTag() + QLatin1Char(' ')
        + query.peerHostName() + QLatin1Char(':') + QString::number(query.peerPort()) + QLatin1Char(' ')
        + url.scheme() + QLatin1Char(' ') + url.host() + QLatin1Char(':') + QString::number(url.port());
    auto it = m_entries.find(key);
    if (it != m_entries.end() && it->age.isValid() && it->age.elapsed() < timings().systemProxyHold.count())
        return it->proxies;
    Entry entry;
    entry.proxies = m_lookup(query);
    entry.age.start();
    m_entries.insert(key, entry);
    return entry.proxies;
}

void SystemProxyCache::clear()
{
    m_entries.clear();
}

} // namespace dh
