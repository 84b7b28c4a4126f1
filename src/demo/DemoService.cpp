#include "demo/DemoService.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>

namespace dh::demo {

namespace {
constexpr std::size_t kWorkers = 48;
}

DemoService::DemoService(DemoOptions options)
    : m_server(std::make_unique<httplib::Server>()), m_state(std::make_unique<DemoState>())
{
    m_state->options = std::move(options);
    // httplib's default adds SO_REUSEPORT, which lets a second service bind a
    // port that is already serving and split the traffic with it. Only
    // SO_REUSEADDR (quick restarts) is wanted.
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void*>(&yes), sizeof(yes));
    });
    registerSearchRoutes(*m_server, *m_state);
    registerDocumentRoutes(*m_server, *m_state);
    registerUpdateRoutes(*m_server, *m_state);
    registerRangeGuard(*m_server);
    if (m_state->options.testRoutes) {
        registerTransferRoutes(*m_server, *m_state);
        registerBrowserTestRoutes(*m_server, *m_state);
        registerHostileRoutes(*m_server, *m_state);
    }
    // Slow or stuck clients must not take the service down for everyone (it
    // is also the test server): short read and write time-outs free a worker
    // held by a client that sends or takes nothing, and enough workers remain
    // for the others meanwhile.
    const int readSeconds = std::max(1, m_state->options.readTimeoutSeconds);
    m_server->set_read_timeout(readSeconds, 0);
    m_server->set_write_timeout(std::max(1, m_state->options.writeTimeoutSeconds), 0);
    m_server->set_keep_alive_timeout(readSeconds);
    // httplib sends the status line and headers, then the body, as two
    // writes: with Nagle's algorithm on, the body of a small page waits for
    // the client's delayed acknowledgement of the headers (about 40 ms per
    // page on a kept-alive connection).
    m_server->set_tcp_nodelay(true);
    // Result pages go out as they are: httplib compresses text for any client
    // that offers br at brotli's highest quality, which costs the service
    // more per 4 KB page (several ms) than the page takes to cross the
    // loopback, so every browser would wait on the stand-in's own work.
    m_server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (req.path == "/p")
            const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");  // a non-const object in httplib
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
}

DemoService::~DemoService()
{
    stop();
}

bool DemoService::start(quint16 port, const std::string& host)
{
    if (m_running)
        return true;
    m_host = host;
    int bound = 0;
    if (port == 0)
        bound = m_server->bind_to_any_port(host);
    else
        bound = m_server->bind_to_port(host, port) ? port : -1;
    if (bound <= 0)
        return false;
    m_port = quint16(bound);
    m_running = true;
    m_state->stopping = false;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void DemoService::stop()
{
    if (!m_running)
        return;
    m_state->stopping = true;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_running = false;
}

QString DemoService::baseUrl() const
{
    return QStringLiteral("http://%1:%2").arg(QString::fromStdString(m_host)).arg(m_port);
}

} // namespace dh::demo
