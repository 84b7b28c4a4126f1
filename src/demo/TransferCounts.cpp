#include "demo/TransferCounts.h"

#include <algorithm>
#include <cstdio>

namespace dh::demo {

namespace {

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

} // namespace

TransferCounts::Active::Active(TransferCounts& counts, std::shared_ptr<Host> host)
    : m_counts(counts), m_host(std::move(host))
{
    std::lock_guard lock(m_counts.m_mutex);
    m_host->maximum = std::max(m_host->maximum, ++m_host->current);
}

TransferCounts::Active::~Active()
{
    end();
}

void TransferCounts::Active::end()
{
    std::lock_guard lock(m_counts.m_mutex);
    if (m_ended)
        return;
    m_ended = true;
    --m_host->current;
}

std::shared_ptr<TransferCounts::Path> TransferCounts::countRequest(const std::string& path, std::uint64_t* number)
{
    std::lock_guard lock(m_mutex);
    auto& entry = m_paths[path];
    if (!entry)
        entry = std::make_shared<Path>();
    *number = ++entry->requests;
    return entry;
}

void TransferCounts::addBytes(Path& path, std::uint64_t n)
{
    std::lock_guard lock(m_mutex);
    path.bodyBytes += n;
}

bool TransferCounts::takeCut(Path& path, long allowed)
{
    std::lock_guard lock(m_mutex);
    if (allowed >= 0 && path.cuts >= std::uint64_t(allowed))
        return false;
    ++path.cuts;
    return true;
}

std::shared_ptr<TransferCounts::Host> TransferCounts::host(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    auto& entry = m_hosts[name];
    if (!entry)
        entry = std::make_shared<Host>();
    return entry;
}

TransferCounts::Path TransferCounts::path(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_paths.find(name);
    return it == m_paths.end() ? Path{} : *it->second;
}

TransferCounts::Host TransferCounts::hostCounts(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_hosts.find(name);
    return it == m_hosts.end() ? Host{} : *it->second;
}

void TransferCounts::reset()
{
    std::lock_guard lock(m_mutex);
    m_paths.clear();
    m_hosts.clear();
}

std::string TransferCounts::json()
{
    std::lock_guard lock(m_mutex);
    std::string out = "{\"paths\":{";
    bool first = true;
    for (const auto& [name, p] : m_paths) {
        out += (first ? "" : ",") + jsonString(name) + ":{\"requests\":" + std::to_string(p->requests) +
               ",\"bytes\":" + std::to_string(p->bodyBytes) + ",\"cuts\":" + std::to_string(p->cuts) + "}";
        first = false;
    }
    out += "},\"hosts\":{";
    first = true;
    for (const auto& [name, h] : m_hosts) {
        out += (first ? "" : ",") + jsonString(name) + ":{\"current\":" + std::to_string(h->current) +
               ",\"max\":" + std::to_string(h->maximum) + "}";
        first = false;
    }
    return out + "}}\n";
}

} // namespace dh::demo
