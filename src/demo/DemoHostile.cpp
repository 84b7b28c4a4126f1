// Hostile search pages (this file): result pages built to attack the
// extraction and the paging, for the reliability tests and the benchmark.
// Each kind serves the search paths under its own base address, so a client
// searches it with the search base "http://127.0.0.1:<port>/hostile/<kind>"
// or ".../hostile/<kind>/<N>", where N is the kind's number below (the search
// address is made from the base, so the number rides in the path):
//
//   GET /hostile/<kind>[/N]/p?w=<query>[&pn=P]   result page P (two results each)
//     self        the next-page link points at the page itself
//     pingpong    page 2's next-page link points back at page 1
//     grow        every page links to page N+1, for ever
//     emptyhref   the next-page link has an empty href
//     stall       page 2 answers only after N seconds (default 120)
//     huge        the page is N megabytes (default 64), sent as it is made:
//                 the results, then many small elements (<p>filler</p> ...)
//     hugelinks   the same with many links outside the results
//     hugetext    the same with one text node of N megabytes
//     hugedeep    the same with blocks of <div>s nested 512 deep
//     hugestream  huge without a length (chunked) and without a Content-Type
//                 (so the server does not compress it; the client takes it as HTML)
//     nest        the results, then N nested <div>s (default 1,000,000)
//     attrs       the results, then one tag with N attributes (default 1,000,000)
//     formatting  the results, then 512 <b>s closed by their paragraphs (<p><b id=k></p>),
//                 then N paragraphs (default 40,000): the parser rebuilds the 512 <b>s
//                 in every paragraph
//     schemes     results behind javascript:, data:, file:, ftp:, mailto: links and one
//                 http link; the next-page link goes to file:///etc/passwd
//     status      answers 500 with an HTML body
//     notresults  a page without the result container
//     empty       a real result page without any result
//   GET /hostile/<kind>/p?w=1                the home page (a plain page)
//
// Every N is capped (caps in DemoService.h): one request cannot make the
// service build a page of any size or hold a worker for ever.

#include "demo/DemoService.h"
#include "demo/DemoUtil.h"

#include <httplib.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace dh::demo {

namespace {

long longParam(const httplib::Request& req, const char* name, long fallback)
{
    bool found = false;
    const std::string v = util::rawParam(util::rawQuery(req), name, &found);
    bool ok = false;
    const long n = QString::fromStdString(v).toLong(&ok);
    return found && ok && n >= 0 ? n : fallback;
}

// The kind's number from the path (at most cap), or fallback.
long pathNumber(const httplib::Request& req, long fallback, long cap)
{
    const std::string n = req.matches.size() > 2 ? std::string(req.matches[2]) : std::string();
    return std::min(n.empty() ? fallback : std::stol(n), cap);
}

// The address of page P of the query this request belongs to.
std::string pageAddress(const httplib::Request& req, long page)
{
    const std::string w = util::rawParam(util::rawQuery(req), "w");
    std::string a = req.path + "?w=" + w;
    if (page > 1)
        a += "&pn=" + std::to_string(page);
    return a;
}

std::string results(const std::string& base, const std::string& kind, long page)
{
    std::string out = "<div class=\"content-net-left\">";
    for (int i = 1; i <= 2; ++i) {
        const std::string name = kind + "-" + std::to_string(page) + "-" + std::to_string(i);
        out += "<h3><a href=\"" + base + "/doc/" + name + ".pdf\">" + name + "</a></h3>";
    }
    return out + "</div>";
}

std::string pager(const std::string& href)
{
    return "<div class=\"pager\"><a class=\"next\" href=\"" + util::htmlEscape(href) + "\">下一页&gt;</a></div>";
}

// Sent with a length, which the server never compresses: the client must meet
// the page's real size.
void sendPlain(httplib::Response& res, std::string body)
{
    auto shared = std::make_shared<std::string>(std::move(body));
    res.set_content_provider(shared->size(), "text/html; charset=utf-8",
                             [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
                             });
}

// What a huge page of the kind repeats after its results.
const std::string& hugeFiller(const std::string& kind)
{
    static const std::string paragraphs = [] {
        std::string f;
        for (int i = 0; i < 4096; ++i)
            f += "<p>filler</p>";
        return f;
    }();
    static const std::string links = [] {
        std::string f;
        for (int i = 0; i < 4096; ++i)
            f += "<a href=\"/l/" + std::to_string(i) + "\">link</a>";
        return f;
    }();
    static const std::string text = [] {
        std::string f;
        for (int i = 0; i < 4096; ++i)
            f += "lorem ipsum ";
        return f;
    }();
    static const std::string deep = [] {
        std::string f;
        for (int i = 0; i < 512; ++i)
            f += "<div>";
        f += "deep";
        for (int i = 0; i < 512; ++i)
            f += "</div>";
        return f;
    }();
    if (kind == "hugelinks")
        return links;
    if (kind == "hugetext")
        return text;
    if (kind == "hugedeep")
        return deep;
    return paragraphs;
}

const char* kHead = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>hostile</title></head><body>";
const char* kTail = "</body></html>";

} // namespace

void registerHostileRoutes(httplib::Server& server, DemoState& state)
{
    DemoState* ds = &state;
    server.Get(R"(/hostile/(\w+)(?:/(\d{1,9}))?/p)", [ds](const httplib::Request& req, httplib::Response& res) {
        const std::string kind = req.matches[1];
        const std::string base = util::baseUrlOf(req);
        const std::string w = util::rawParam(util::rawQuery(req), "w");
        if (w.empty() || w == "1") {
            util::sendHtml(res, QStringLiteral("<html><body><form action=\"p\"><input name=\"w\"></form></body></html>"));
            return;
        }
        const long page = std::max(1L, longParam(req, "pn", 1));
        std::string body = kHead;
        if (kind == "self") {
            body += results(base, kind, page) + pager(pageAddress(req, page));
        } else if (kind == "pingpong") {
            body += results(base, kind, page) + pager(pageAddress(req, page == 1 ? 2 : 1));
        } else if (kind == "grow") {
            body += results(base, kind, page) + pager(pageAddress(req, page + 1));
        } else if (kind == "emptyhref") {
            body += results(base, kind, page) + pager("");
        } else if (kind == "stall") {
            if (page >= 2) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(pathNumber(req, 120, caps::stallSeconds));
                while (std::chrono::steady_clock::now() < until && !ds->stopping)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            body += results(base, kind, page) + pager(pageAddress(req, page + 1));
        } else if (kind == "huge" || kind == "hugelinks" || kind == "hugetext" || kind == "hugedeep") {
            // Made as it is sent: the service itself stays small.
            const std::size_t total = std::size_t(pathNumber(req, 64, caps::pageMegabytes)) * 1024 * 1024;
            std::string head = body + results(base, kind, page);
            if (kind == "hugetext")
                head += "<p>";
            auto shared = std::make_shared<std::string>(std::move(head));
            const std::string& filler = hugeFiller(kind);
            res.set_content_provider(
                total, "text/html; charset=utf-8",
                [shared, &filler](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (offset < shared->size())
                        return sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
                    const std::size_t at = (offset - shared->size()) % filler.size();
                    return sink.write(filler.data() + at, std::min(length, filler.size() - at));
                });
            return;
        } else if (kind == "hugestream") {
            const std::size_t total = std::size_t(pathNumber(req, 64, caps::pageMegabytes)) * 1024 * 1024;
            auto head = std::make_shared<std::string>(body + results(base, kind, page));
            res.set_chunked_content_provider(
                "", [head, total](std::size_t offset, httplib::DataSink& sink) {
                    if (offset == 0)
                        return sink.write(head->data(), head->size());
                    if (offset >= total) {
                        sink.done();
                        return true;
                    }
                    const std::string& filler = hugeFiller("huge");
                    return sink.write(filler.data(), filler.size());
                });
            return;
        } else if (kind == "nest") {
            const long levels = pathNumber(req, 1000000, caps::nestedElements);
            body += results(base, kind, page);
            body.reserve(body.size() + std::size_t(levels) * 11 + 64);
            for (long i = 0; i < levels; ++i)
                body += "<div>";
            body += "deep";
            for (long i = 0; i < levels; ++i)
                body += "</div>";
        } else if (kind == "attrs") {
            const long attrs = pathNumber(req, 1000000, caps::nestedElements);
            body += results(base, kind, page) + "<span";
            body.reserve(body.size() + std::size_t(attrs) * 10 + 64);
            for (long i = 0; i < attrs; ++i)
                body += " a" + std::to_string(i);
            body += ">x</span>";
        } else if (kind == "formatting") {
            const long paragraphs = pathNumber(req, 40000, caps::paragraphs);
            body += results(base, kind, page);
            for (int k = 0; k < 512; ++k)
                body += "<p><b id=" + std::to_string(k) + "></p>";
            body.reserve(body.size() + std::size_t(paragraphs) * 8 + 64);
            for (long k = 0; k < paragraphs; ++k)
                body += "<p>x</p>";
        } else if (kind == "schemes") {
            body += "<div class=\"content-net-left\">";
            for (const char* href : {"javascript:alert(1)//a.pdf", "data:text/html,x.pdf", "file:///etc/passwd.pdf",
                                     "ftp://127.0.0.1/a.pdf", "mailto:someone@example.org?x.pdf"})
                body += std::string("<h3><a href=\"") + href + "\">bad</a></h3>";
            body += "<h3><a href=\"" + base + "/doc/schemes-good.pdf\">good</a></h3></div>";
            body += pager("file:///etc/passwd");
        } else if (kind == "status") {
            res.status = 500;
            res.set_content(std::string(kHead) + "<h1>500 Internal Server Error</h1>" + kTail, "text/html; charset=utf-8");
            return;
        } else if (kind == "notresults") {
            body += "<p>Service unavailable</p>";
        } else if (kind == "empty") {
            body += "<div class=\"content-net-left\"><p>没有找到相关文档</p></div>";
        } else {
            res.status = 404;
            return;
        }
        body += kTail;
        sendPlain(res, std::move(body));
    });
}

} // namespace dh::demo
