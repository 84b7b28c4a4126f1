#pragma once
// Server-side counts of the transfer routes: requests and body bytes per path,
// and bodies being sent at once per Host header value. Route handlers run on
// the server's worker threads; one mutex guards everything.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace dh::demo {

class TransferCounts {
public:
    struct Path {
        std::uint64_t requests = 0;
        std::uint64_t bodyBytes = 0;
        std::uint64_t cuts = 0;  // responses cut short on purpose (/t/file?cut=)
    };
    struct Host {
        int current = 0;
        int maximum = 0;
    };

    // A body being sent: counted from the moment its headers are decided
    // until end() or destruction, whichever comes first.
    class Active {
    public:
        Active(TransferCounts& counts, std::shared_ptr<Host> host);
        ~Active();
        Active(const Active&) = delete;
        Active& operator=(const Active&) = delete;
        void end();

    private:
        TransferCounts& m_counts;
        std::shared_ptr<Host> m_host;
        bool m_ended = false;
    };

    // Counts one request of path and returns the entry with its number (1: the first).
    std::shared_ptr<Path> countRequest(const std::string& path, std::uint64_t* number);
    void addBytes(Path& path, std::uint64_t n);
    // Takes one of the allowed cuts of path; false once `allowed` were taken (negative: no bound).
    bool takeCut(Path& path, long allowed);
    std::shared_ptr<Host> host(const std::string& name);

    Path path(const std::string& name);
    Host hostCounts(const std::string& name);
    void reset();
    std::string json();

private:
    std::mutex m_mutex;
    // Entries are shared with running transfers: after a reset they go on
    // counting into their own, now unlisted, entry.
    std::map<std::string, std::shared_ptr<Path>> m_paths;
    std::map<std::string, std::shared_ptr<Host>> m_hosts;
};

} // namespace dh::demo
