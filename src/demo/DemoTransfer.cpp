// Transfer test endpoints of the demo service (all GET, under /t/).
// Bodies are made on the fly from demoTransferByte() (DemoTransfer.h), so any
// size costs no memory. Sizes, holds and redirect counts are capped (caps in
// DemoService.h). Waits are bounded by hold_ms so that stopping the
// service never waits long for a handler.
//
//   /t/file/<size>[/<name>][?type=T&delay=MS&encoding=E&...]
//                                     <size> bytes with Content-Length; Content-Type T
//                                     (default application/octet-stream); the answer
//                                     waits MS ms first (default 0, at most 10000), a
//                                     stand-in for the latency of a distant server;
//                                     with E the body is labelled Content-Encoding E
//                                     (the bytes stay the same), a server that ignores
//                                     the identity coding the client asked for. <name>
//                                     (a non-empty last segment; "/t/file/N/" stays a
//                                     404) only names the file and the path counted.
//                                     Like a real file server it sends
//                                     Accept-Ranges: bytes, a strong ETag and a
//                                     Last-Modified derived from <size> and v, and
//                                     answers Range: bytes=N-, N-M and -S with 206 and
//                                     Content-Range, a range past the end with 416 and
//                                     Content-Range: bytes */<size>, and a Range whose
//                                     If-Range does not match with the whole body (200).
//                                     More options:
//                                       v=TEXT      another version: other bytes
//                                                   (demoTransferOrigin), other validators
//                                       next=TEXT&next_after=K   the file changes: from
//                                                   request K+1 of the path on (default K=1)
//                                                   it is version TEXT, as with v=TEXT
//                                       ranges=0    a server without ranges: Range is
//                                                   ignored, no Accept-Ranges
//                                       etag=0, last_modified=0   leave that validator out
//                                       cut=N       every response closes the connection
//                                                   after N body bytes (a Range request
//                                                   goes on from there); cuts=K: only the
//                                                   first K responses of the path are cut
//                                       busy=N      the first N requests of the path get
//                                                   busy_status (default 503) with
//                                                   Retry-After: retry_after seconds (default
//                                                   1; negative: no Retry-After);
//                                                   retry_date=1 gives it as an HTTP date
//                                       pace=N&pace_ms=M   the body goes out N bytes at a
//                                                   time, M ms apart (keeps transfers open)
//                                       bad_range=416|early   a server that answers ranges
//                                                   wrongly: every Range it would serve gets
//                                                   416, or a 206 starting 1000 bytes before
//                                                   the one asked for (its bytes and
//                                                   Content-Range agree)
//   /t/counters                       JSON: per path, "requests", body "bytes" and "cuts"; per
//                                     Host header value, "current" and "max" /t/file bodies
//                                     being sent at once. Not counted itself.
//   /t/counters/reset                 forgets every count (GET or POST); answers 204
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
#include "demo/TransferCounts.h"
#include "demo/DemoUtil.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <ctime>
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

// Set by a route that serves no ranges; taken out again before the answer is written.
constexpr const char* kNoRangesMark = "X-Demo-No-Ranges";

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

// A wait that ends early when the service stops.
void pause(const DemoState& state, long ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::clamp(ms, 0L, caps::holdMs));
    while (!state.stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20L)));
}

// "Sun, 06 Nov 1994 08:49:37 GMT", whatever the process locale.
std::string httpDate(std::time_t t)
{
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

struct ByteRange {
    enum Kind { Ignored, Satisfiable, Unsatisfiable } kind = Ignored;
    std::uint64_t first = 0, last = 0;  // inclusive
};

// Digits only; a number too large for 64 bits reads as the largest one.
bool readNumber(std::string_view s, std::uint64_t* out)
{
    if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    if (std::from_chars(s.data(), s.data() + s.size(), *out).ec != std::errc())
        *out = UINT64_MAX;
    return true;
}

// One range of "bytes=N-", "bytes=N-M" or "bytes=-S" against a body of size
// bytes. Several ranges, other units and malformed values are ignored: the
// answer is then the whole body, which a client must accept.
ByteRange parseRange(std::string_view header, std::uint64_t size)
{
    ByteRange r;
    auto trim = [](std::string_view v) {
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
            v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
            v.remove_suffix(1);
        return v;
    };
    header = trim(header);
    if (header.size() < 6 || !std::equal(header.begin(), header.begin() + 6, "bytes=",
                                         [](char a, char b) { return std::tolower(uint8_t(a)) == b; }))
        return r;
    const std::string_view range = trim(header.substr(6));
    const auto dash = range.find('-');
    if (dash == std::string_view::npos || range.find(',') != std::string_view::npos)
        return r;
    const std::string_view a = trim(range.substr(0, dash)), b = trim(range.substr(dash + 1));
    std::uint64_t first = 0, last = 0;
    if (a.empty()) {  // the last b bytes
        if (!readNumber(b, &last))
            return r;
        if (last == 0 || size == 0) {
            r.kind = ByteRange::Unsatisfiable;
            return r;
        }
        r = {ByteRange::Satisfiable, size - std::min(last, size), size - 1};
        return r;
    }
    if (!readNumber(a, &first) || (!b.empty() && (!readNumber(b, &last) || last < first)))
        return r;
    if (first >= size) {
        r.kind = ByteRange::Unsatisfiable;
        return r;
    }
    r = {ByteRange::Satisfiable, first, b.empty() ? size - 1 : std::min(last, size - 1)};
    return r;
}

// If-Range names the version the client holds part of: an entity tag,
// compared strongly (a weak one never matches), or the Last-Modified date,
// which must be the same text.
bool ifRangeHolds(const httplib::Request& req, const std::string& etag, const std::string& lastModified)
{
    if (!req.has_header("If-Range"))
        return true;
    const std::string v = req.get_header_value("If-Range");
    if (v.starts_with("W/") || v.starts_with("\""))
        return !etag.empty() && v == etag;
    return !lastModified.empty() && v == lastModified;
}

void answerBusy(const httplib::Request& req, httplib::Response& res)
{
    res.status = std::clamp(int(intParam(req, "busy_status", 503)), 400, 599);
    const long after = intParam(req, "retry_after", 1);
    if (after >= 0) {
        const bool asDate = intParam(req, "retry_date", 0) != 0;
        res.set_header("Retry-After", asDate ? httpDate(std::time(nullptr) + std::min(after, 86400L))
                                             : std::to_string(after));
    }
    res.set_content("Busy (" + std::to_string(res.status) + "), try again later\n", "text/plain");
}

void serveFile(DemoState& state, const std::shared_ptr<TransferCounts>& counts, const httplib::Request& req,
               httplib::Response& res)
{
    std::uint64_t number = 0;
    const auto path = counts->countRequest(req.path, &number);
    // Ranges are answered here. The server library would apply the request's
    // ranges to the body set below on its own, and answers a range past the
    // end with a 206 of a wrapped-around length, so they are taken from it.
    // (The request object is the server's own, not a const one.)
    const_cast<httplib::Request&>(req).ranges.clear();

    const std::uint64_t size = sizeParam(req, 1);
    const std::string type = req.has_param("type") ? req.get_param_value("type") : "application/octet-stream";
    if (const long delay = intParam(req, "delay", 0); delay > 0)
        sleepMs(std::min(delay, 10000L));
    if (number <= std::uint64_t(std::max(0L, intParam(req, "busy", 0)))) {
        answerBusy(req, res);
        return;
    }
    if (req.has_param("encoding"))
        res.set_header("Content-Encoding", req.get_param_value("encoding"));

    // The file may change on the server between two requests of the same address.
    const bool changed = req.has_param("next") && number > std::uint64_t(std::max(0L, intParam(req, "next_after", 1)));
    const std::string version = req.get_param_value(changed ? "next" : "v");
    const std::uint64_t origin = demoTransferOrigin(version);
    const std::uint64_t versionHash = util::stableHash(version);
    std::string etag, lastModified;
    if (intParam(req, "etag", 1) != 0) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "\"%llx-%016llx\"", static_cast<unsigned long long>(size),
                      static_cast<unsigned long long>(versionHash));
        etag = buf;
        res.set_header("ETag", etag);
    }
    if (intParam(req, "last_modified", 1) != 0) {
        // Some day of 2024 per version: past, and the same on every request.
        lastModified = httpDate(std::time_t(1704067200 + versionHash % (366 * 86400)));
        res.set_header("Last-Modified", lastModified);
    }
    const bool rangesServed = intParam(req, "ranges", 1) != 0;
    std::uint64_t start = 0, length = size;
    if (!rangesServed)
        res.set_header(kNoRangesMark, "1");
    if (rangesServed) {
        res.set_header("Accept-Ranges", "bytes");
        if (req.has_header("Range") && ifRangeHolds(req, etag, lastModified)) {
            const ByteRange r = parseRange(req.get_header_value("Range"), size);
            if (r.kind == ByteRange::Unsatisfiable) {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(size));
                return;
            }
            const std::string bad = req.get_param_value("bad_range");
            if (r.kind == ByteRange::Satisfiable && bad == "416") {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(size));
                return;
            }
            if (r.kind == ByteRange::Satisfiable) {
                res.status = 206;
                start = bad == "early" ? r.first - std::min<std::uint64_t>(r.first, 1000) : r.first;
                length = r.last - start + 1;
                res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(r.last) +
                                                    "/" + std::to_string(size));
            }
        }
    }
    if (length == 0) {
        res.set_content("", type);
        return;
    }
    std::uint64_t limit = length;  // body bytes this response sends before it closes
    if (const long cut = intParam(req, "cut", 0); cut > 0 && std::uint64_t(cut) < length &&
                                                  counts->takeCut(*path, intParam(req, "cuts", -1)))
        limit = std::uint64_t(cut);
    const std::uint64_t piece = std::uint64_t(std::clamp(intParam(req, "pace", long(kBlock)), 1L, long(kBlock)));
    const long paceMs = req.has_param("pace") ? holdParam(req, "pace_ms", 20) : 0;
    // A HEAD answer sends no body, so it is no transfer.
    std::shared_ptr<TransferCounts::Active> active;
    if (req.method != "HEAD")
        active = std::make_shared<TransferCounts::Active>(*counts, counts->host(req.get_header_value("Host")));
    res.set_content_provider(
        length, type,
        [&state, counts, path, active, origin, start, limit, piece, paceMs](std::size_t offset, std::size_t remaining,
                                                                             httplib::DataSink& sink) {
            if (offset >= limit)
                return false;  // the cut: the connection closes short of the announced length
            const std::uint64_t n = std::min<std::uint64_t>({remaining, limit - offset, piece});
            if (paceMs > 0 && offset > 0)
                pause(state, paceMs);
            // Counted before the bytes leave, so that a client holding the
            // whole body finds the counts final and the transfer over.
            if (offset + n >= limit && active)
                active->end();
            counts->addBytes(*path, n);
            return writeBody(sink, origin + start + offset, n);
        });
}

} // namespace

std::uint8_t demoTransferByte(std::uint64_t offset)
{
    return table()[offset % kPeriod];
}

std::uint64_t demoTransferOrigin(std::string_view version)
{
    return version.empty() ? 0 : util::stableHash(version) % kPeriod;
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

void registerRangeGuard(httplib::Server& server)
{
    // The server library applies a Range to the other routes' answers by
    // itself, but answers a range past the end with a 206 of a wrapped-around
    // length (a body without end) or a 416 whose Content-Range names the
    // impossible range, and labels a whole body without length 206. This runs
    // after it has, before anything is written, and mends those answers.
    server.set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        // It also announces ranges on every HEAD answer; a route without them says so.
        if (res.has_header(kNoRangesMark)) {
            res.headers.erase(kNoRangesMark);
            res.headers.erase("Accept-Ranges");
        }
        if (req.ranges.size() != 1 || (res.status != 206 && res.status != 416))
            return;
        if (res.status == 206 && !res.has_header("Content-Range")) {
            res.status = 200;  // a body without length goes out whole: no partial content
            return;
        }
        const std::string given = res.get_header_value("Content-Range");  // "bytes a-b/size"
        const auto slash = given.rfind('/');
        std::uint64_t size = 0;
        if (!given.starts_with("bytes ") || slash == std::string::npos ||
            !readNumber(std::string_view(given).substr(slash + 1), &size))
            return;
        const auto [first, last] = req.ranges.front();
        if (first >= 0 ? std::uint64_t(first) < size : last != 0)
            return;
        const_cast<httplib::Request&>(req).ranges.clear();  // the server's own object
        res.status = 416;
        res.body.clear();
        res.content_provider_ = nullptr;
        res.content_length_ = 0;
        for (const char* name : {"Content-Range", "Content-Length", "Content-Type"})
            res.headers.erase(name);
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        res.set_header("Content-Length", "0");
    });
}

namespace {

std::shared_ptr<TransferCounts> countsOf(DemoState& state)
{
    return std::static_pointer_cast<TransferCounts>(state.transfer);
}

} // namespace

PathCounts transferPathCounts(DemoState& state, const std::string& path)
{
    const auto counts = countsOf(state);
    if (!counts)
        return {};
    const TransferCounts::Path p = counts->path(path);
    return {p.requests, p.bodyBytes};
}

HostCounts transferHostCounts(DemoState& state, const std::string& host)
{
    const auto counts = countsOf(state);
    if (!counts)
        return {};
    const TransferCounts::Host h = counts->hostCounts(host);
    return {h.current, h.maximum};
}

void resetTransferCounts(DemoState& state)
{
    if (const auto counts = countsOf(state))
        counts->reset();
}

void registerTransferRoutes(httplib::Server& server, DemoState& state)
{
    table();  // build it before the first request, off the request's clock
    auto counts = std::make_shared<TransferCounts>();
    state.transfer = counts;

    server.Get(R"(/t/file/(\d+)(?:/[^/]+)?)", [&state, counts](const httplib::Request& req, httplib::Response& res) {
        serveFile(state, counts, req, res);
    });

    server.Get("/t/counters", [counts](const httplib::Request&, httplib::Response& res) {
        res.set_content(counts->json(), "application/json");
    });
    auto reset = [counts](const httplib::Request&, httplib::Response& res) {
        counts->reset();
        res.status = 204;
    };
    server.Get("/t/counters/reset", reset);
    server.Post("/t/counters/reset", reset);

    // The other routes count their requests too (a client's retries of a
    // 404 or a redirect chain show in /t/counters).
    auto get = [&server, counts](const std::string& pattern, httplib::Server::Handler handler) {
        server.Get(pattern, [counts, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            std::uint64_t number = 0;
            counts->countRequest(req.path, &number);
            handler(req, res);
        });
    };

    get(R"(/t/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        res.set_chunked_content_provider("application/octet-stream", [size](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
                sink.done();
                return true;
            }
            return writeBody(sink, offset, std::min<std::uint64_t>(size - offset, 64 * 1024));
        });
    });

    get(R"(/t/close/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
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

    get(R"(/t/slow/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
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

    get(R"(/t/stall/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
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

    get(R"(/t/cut/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = sizeParam(req, 1);
        const std::uint64_t after = std::min<std::uint64_t>(size, intParam(req, "after", long(size / 2)));
        res.set_content_provider(size, "application/octet-stream",
                                 [after](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     if (offset >= after)
                                         return false;
                                     return writeBody(sink, offset, std::min<std::uint64_t>(length, after - offset));
                                 });
    });

    get(R"(/t/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
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

    get(R"(/t/redirect/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
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

    get(R"(/t/loop/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("/t/loop/" + std::to_string(std::stol(req.matches[1].str()) + 1), 302);
    });

    get("/t/silent", [](const httplib::Request& req, httplib::Response& res) {
        sleepMs(holdParam(req, "hold_ms", 10000));
        res.status = 204;
    });

    get("/t/headers", [](const httplib::Request& req, httplib::Response& res) {
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
