#pragma once
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace dh::demo {

struct DemoOptions {
    // Result pages asked for faster than this turn into the verification page.
    int rateLimitPages = 8;          // more than this many result pages (negative: no limit) ...
    int rateLimitWindowSeconds = 10; // ... within this many seconds
    int captchaTimeoutSeconds = 30;  // the verification page goes away by itself after this
    QString versionText = QStringLiteral("1.0.0");  // served as newver.txt
    int pagesPerQuery = 0;    // result pages per query; 0: 3 to 6, derived from the query
    int resultsPerPage = 10;  // results on each result page
    // The transfer, browser-test and hostile routes, for tests and benchmarks.
    // They exist to exhaust or stall a client (and the service with it), so
    // the desktop program's built-in demo, which every local user can reach,
    // goes without them (builtIn()).
    bool testRoutes = true;
    // A connection on which the client sends, or takes, nothing for this long
    // is closed, so stalled clients cannot hold the workers.
    int readTimeoutSeconds = 2;
    int writeTimeoutSeconds = 5;

    // What the desktop program serves as its demo: search, documents, login
    // and update only.
    static DemoOptions builtIn()
    {
        DemoOptions o;
        o.testRoutes = false;
        return o;
    }
};

// Upper bounds of the size and time parameters the test routes take; larger
// values are served as these.
namespace caps {
constexpr std::uint64_t bodyBytes = std::uint64_t(4) << 30;  // /t/... sizes
constexpr long holdMs = 60000;                                // delays and stalls of the transfer routes
constexpr long redirects = 100;
constexpr long pageMegabytes = 1024;                          // /hostile/huge...
constexpr long stallSeconds = 120;
constexpr long nestedElements = 10000000;                     // /hostile/nest, /hostile/attrs
constexpr long paragraphs = 1000000;                          // /hostile/formatting
} // namespace caps

// State shared by the route handlers. Handlers run on the server's worker
// threads, so everything mutable is guarded by mutex.
struct DemoState {
    DemoOptions options;
    std::mutex mutex;
    // Filled and used by the route files; opaque here.
    std::shared_ptr<void> search;
    std::shared_ptr<void> documents;
    std::shared_ptr<void> transfer;
    // Set when the service stops, so that handlers that hold a request on
    // purpose let go at once.
    std::atomic<bool> stopping{false};
};

// The local stand-in for the document search service, the document servers
// and the update server. Listens on 127.0.0.1 in a background thread.
class DemoService {
public:
    explicit DemoService(DemoOptions options = {});
    ~DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    // port 0 picks a free port. Returns false when it cannot listen.
    bool start(quint16 port = 0, const std::string& host = "127.0.0.1");
    void stop();
    bool running() const { return m_running; }
    quint16 port() const { return m_port; }
    QString baseUrl() const;  // "http://127.0.0.1:<port>"
    DemoState& state() { return *m_state; }

private:
    std::unique_ptr<httplib::Server> m_server;
    std::unique_ptr<DemoState> m_state;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    quint16 m_port = 0;
    std::string m_host;
};

// Route groups, each in its own file.
void registerSearchRoutes(httplib::Server& server, DemoState& state);    // home, results, verification
void registerDocumentRoutes(httplib::Server& server, DemoState& state);  // documents, login pages
void registerTransferRoutes(httplib::Server& server, DemoState& state);  // transfer test endpoints
void registerUpdateRoutes(httplib::Server& server, DemoState& state);    // newver.txt
void registerBrowserTestRoutes(httplib::Server& server, DemoState& state);  // GBK, pop-up, alert pages
void registerHostileRoutes(httplib::Server& server, DemoState& state);      // pages that attack the paging
void registerRangeGuard(httplib::Server& server);  // a proper 416 for a range past the end, on every route

} // namespace dh::demo
