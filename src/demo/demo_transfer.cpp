// Transfer test endpoints of the demo service (all GET, under /t/).
// Bodies are made on the fly from demoTransferByte() (DemoTransfer.h), so any
// size costs no memory. Sizes, holds and redirect counts are capped (caps in
// DemoService.h). Waits are bounded by hold_ms so that stopping the
// service never waits long for a handler.
//
//   /t/file/<size>[?type=T&delay=MS&encoding=E]
//                                     <size> bytes with Content-Length; Content-Type T
//                                     (default application/octet-stream); the answer
//                                     waits MS ms first (default 0, at most 10000), a
//                                     stand-in for the latency of a distant server;
//                                     with E the body is labelled Content-Encoding E
//                                     (the bytes stay the same), a server that ignores
//                                     the identity coding the client asked for
//   /t/chunked/<size>                 <size> bytes, chunked, no length
//   /t/close/<size>                   <size> bytes, no length, ended by closing the connection
//   /t/slow/<size>?piece=N&delay_ms=M Content-Length body sent N bytes (default 1024)
//                                     every M ms (default 20)
//   /t/stall/<size>?after=N&hold_ms=M announces <size>, sends N bytes (default 4096),
//                                     then nothing for M ms (default 5000), then closes
//   /t/cut/<size>?after=N             announces <size>, sends N bytes (default half), closes
//   /t/status/<code>[?type=T]         that status with a short HTML body and its length
//                                     (404, 500, ...); with a type T other than text/html
//                                     the body is plain text ("Not Found" for 404)
//   /t/redirect/<n>?code=C&to=URL     a chain of n redirects (status C, default 302), the
//                                     last pointing to URL (default /t/file/1000); URL may
//                                     name another server (other origin)
//   /t/loop/<i>                       redirects to /t/loop/<i+1> for ever
//   /t/silent?hold_ms=M               accepts the request and answers nothing for M ms
//                                     (default 10000), then sends 204
//   /t/headers                        text/plain: the request line, then every request
//                                     header as "Name: value", CR LF separated
#include "demo/DemoService.h"
#include "demo/DemoTransfer.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace dh::demo {

namespace {

// A table of pseudo-random bytes with a prime period: no short repetition
// that could hide a misplaced block, and bodies are plain copies from it.
constexpr std::uint64_t kPeriod = 1000003;

const std::vector<std::uint8_t>& table()
{
    static const std::vector<std::uint8_t> t = [] {
        std::vector<std::uint8_t> v(kPeriod + 256 * 1024);
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (std::uint64_t i = 0; i < kPeriod; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v[i] = std::uint8_t(x >> 24);
        }
        // The tail repeats the start so that a block never wraps.
        std::copy(v.begin(), v.begin() + (v.size() - kPeriod), v.begin() + kPeriod);
        return v;
    }();
    return t;
}

constexpr std::uint64_t kBlock = 256 * 1024;

// Writes bytes [offset, offset+length) of the demo body, in blocks.
bool writeBody(httplib::DataSink& sink, std::uint64_t offset, std::uint64_t length)
{
    const auto& t = table();
    while (length > 0) {
        const std::uint64_t n = std::min(length, kBlock);
        const char* p = reinterpret_cast<const char*>(t.data() + offset % kPeriod);
        if (!sink.write(p, n))
            return false;
        offset += n;
        length -= n;
    }
    return true;
}

std::uint64_t sizeParam(const httplib::Request& req, std::size_t index)
{
    try {
        return std::min<std::uint64_t>(std::stoull(req.matches[index].str()), caps::bodyBytes);
    } catch (const std::out_of_range&) {
        return caps::bodyBytes;
    }
}


long intParam(const httplib::Request& req, const char* name, long fallback)
{
    if (!req.has_param(name))
        return fallback;
    try {
        return std::stol(req.get_param_value(name));
    } catch (...) {
        return fallback;
    }
}

long holdParam(const httplib::Request& req, const char* name, long fallback)
{
    return std::clamp(intParam(req, name, fallback), 0L, caps::holdMs);
}

void sleepMs(long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(ms, 0L, 120000L)));
}

std::string encodeQueryValue(const std::string& s)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace

std::uint8_t demoTransferByte(std::uint64_t offset)
{
    return table()[offset % kPeriod];
}

QByteArray demoTransferBytes(std::uint64_t offset, std::uint64_t length)
{
    QByteArray out;
    out.reserve(qsizetype(length));
    const auto& t = table();
    while (length > 0) {
        const std::uint64_t n = std::min(length, kBlock);
        out.append(reinterpret_cast<const char*>(t.data() + offset % kPeriod), qsizetype(n));
        offset += n;
        length -= n;
    }
    return out;
}

void registerTransferRoutes(httplib::Server& server, DemoState& state)
{
    (void)state;
    table();  // build it before the first request, off the request's clock

    server.Get(R"(/t/file/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        const std::string type = req.has_param("type") ? req.get_param_value("type") : "application/octet-stream";
        if (const long delay = intParam(req, "delay", 0); delay > 0)
            sleepMs(std::min(delay, 10000L));
        if (req.has_param("encoding"))
            res.set_header("Content-Encoding", req.get_param_value("encoding"));
        if (size == 0) {
            res.set_content("", type);
            return;
        }
        res.set_content_provider(size, type, [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return writeBody(sink, offset, std::min<std::uint64_t>(length, kBlock));
        });
    });

    server.Get(R"(/t/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        res.set_chunked_content_provider("application/octet-stream", [size](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
                sink.done();
                return true;
            }
            return writeBody(sink, offset, std::min<std::uint64_t>(size - offset, 64 * 1024));
        });
    });

    server.Get(R"(/t/close/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        // The server would keep such a connection open after sink.done(), and
        // the client could not see the end of the body; a false return closes it.
        res.set_header("Connection", "close");
        res.set_content_provider("application/octet-stream", [size](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= size)
                return false;  // ends the response by closing the connection
            return writeBody(sink, offset, std::min<std::uint64_t>(size - offset, 64 * 1024));
        });
    });

    server.Get(R"(/t/slow/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        const long piece = std::clamp(intParam(req, "piece", 1024), 1L, long(kBlock));
        const long delay = holdParam(req, "delay_ms", 20);
        res.set_content_provider(size, "application/octet-stream",
                                 [piece, delay](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     if (offset > 0)
                                         sleepMs(delay);
                                     return writeBody(sink, offset, std::min<std::uint64_t>(length, piece));
                                 });
    });

    server.Get(R"(/t/stall/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        const std::uint64_t after = std::min<std::uint64_t>(size, intParam(req, "after", 4096));
        const long hold = holdParam(req, "hold_ms", 5000);
        res.set_content_provider(size, "application/octet-stream",
                                 [after, hold](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     if (offset < after)
                                         return writeBody(sink, offset, std::min<std::uint64_t>(length, after - offset));
                                     sleepMs(hold);
                                     return false;  // close without the rest
                                 });
    });

    server.Get(R"(/t/cut/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        const std::uint64_t after = std::min<std::uint64_t>(size, intParam(req, "after", long(size / 2)));
        res.set_content_provider(size, "application/octet-stream",
                                 [after](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     if (offset >= after)
                                         return false;
                                     return writeBody(sink, offset, std::min<std::uint64_t>(length, after - offset));
                                 });
    });

    server.Get(R"(/t/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const int code = std::stoi(req.matches[1].str());
        res.status = code;
        const std::string type = req.has_param("type") ? req.get_param_value("type") : "text/html";
        if (type != "text/html") {
            res.set_content(code == 404 ? std::string("Not Found") : "Error " + std::to_string(code), type);
            return;
        }
        res.set_content("<html><head><title>" + std::to_string(code) + "</title></head><body><h1>Error " +
                            std::to_string(code) + "</h1></body></html>",
                        "text/html");
    });

    server.Get(R"(/t/redirect/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const long n = req.matches[1].length() > 3 ? caps::redirects
                                                   : std::min(std::stol(req.matches[1].str()), caps::redirects);
        const int code = int(intParam(req, "code", 302));
        const std::string to = req.has_param("to") ? req.get_param_value("to") : "/t/file/1000";
        std::string location = to;
        if (n > 1) {
            location = "/t/redirect/" + std::to_string(n - 1) + "?code=" + std::to_string(code);
            if (req.has_param("to"))
                location += "&to=" + encodeQueryValue(to);
        }
        res.set_redirect(location, code);
    });

    server.Get(R"(/t/loop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("/t/loop/" + std::to_string(std::stol(req.matches[1].str()) + 1), 302);
    });

    server.Get("/t/silent", [](const httplib::Request& req, httplib::Response& res) {
        sleepMs(holdParam(req, "hold_ms", 10000));
        res.status = 204;
    });

    server.Get("/t/headers", [](const httplib::Request& req, httplib::Response& res) {
        std::string body = req.method + " " + req.target + " " + req.version;
        for (const auto& [name, value] : req.headers) {
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue;  // added by the server, not sent by the client
            body += "\r\n" + name + ": " + value;
        }
        res.set_content(body, "text/plain");
    });
}

} // namespace dh::demo
