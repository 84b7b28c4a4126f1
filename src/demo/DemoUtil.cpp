#include "demo/DemoUtil.h"

#include <httplib.h>

#include <cctype>

namespace dh::demo::util {

std::uint64_t stableHash(std::string_view bytes)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

std::string rawQuery(const httplib::Request& req)
{
    const auto q = req.target.find('?');
    if (q == std::string::npos)
        return {};
    std::string query = req.target.substr(q + 1);
    const auto hash = query.find('#');
    if (hash != std::string::npos)
        query.resize(hash);
    return query;
}

std::vector<std::pair<std::string, std::string>> splitRawQuery(const std::string& query)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string part = query.substr(start, end - start);
        if (!part.empty()) {
            const auto eq = part.find('=');
            if (eq == std::string::npos)
                out.emplace_back(part, std::string());
            else
                out.emplace_back(part.substr(0, eq), part.substr(eq + 1));
        }
        start = end + 1;
    }
    return out;
}

std::string rawParam(const std::string& query, const std::string& name, bool* found)
{
    for (auto& [k, v] : splitRawQuery(query)) {
        if (k == name) {
            if (found)
                *found = true;
            return v;
        }
    }
    if (found)
        *found = false;
    return {};
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray percentDecode(std::string_view raw, bool plusIsSpace)
{
    QByteArray out;
    out.reserve(qsizetype(raw.size()));
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '%' && i + 2 < raw.size()) {
            const int hi = hexValue(raw[i + 1]);
            const int lo = hexValue(raw[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.append(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        if (c == '+' && plusIsSpace)
            out.append(' ');
        else
            out.append(c);
    }
    return out;
}

QString htmlEscape(const QString& text)
{
    return text.toHtmlEscaped();
}

std::string htmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string baseUrlOf(const httplib::Request& req)
{
    std::string host = req.get_header_value("Host");
    // Only plain host[:port] text is taken over; anything else falls back to
    // the address the connection arrived on.
    bool plain = !host.empty();
    for (char c : host) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '['
              || c == ']'))
            plain = false;
    }
    if (!plain)
        host = req.local_addr + ":" + std::to_string(req.local_port);
    return "http://" + host;
}

std::string cookieValue(const httplib::Request& req, const std::string& name)
{
    const std::size_t n = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < n; ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        std::size_t start = 0;
        while (start < header.size()) {
            std::size_t end = header.find(';', start);
            if (end == std::string::npos)
                end = header.size();
            std::string part = header.substr(start, end - start);
            while (!part.empty() && part.front() == ' ')
                part.erase(part.begin());
            const auto eq = part.find('=');
            if (eq != std::string::npos && part.substr(0, eq) == name)
                return part.substr(eq + 1);
            start = end + 1;
        }
    }
    return {};
}

std::string formValue(const httplib::Request& req, const std::string& name)
{
    bool found = false;
    std::string raw = rawParam(rawQuery(req), name, &found);
    if (!found && req.method == "POST") {
        const std::string type = req.get_header_value("Content-Type");
        if (type.empty() || type.rfind("application/x-www-form-urlencoded", 0) == 0)
            raw = rawParam(req.body, name, &found);
    }
    return percentDecode(raw, true).toStdString();
}

void sendHtml(httplib::Response& res, const QString& html, int status)
{
    res.status = status;
    const QByteArray body = html.toUtf8();
    res.set_content(body.constData(), std::size_t(body.size()), "text/html; charset=utf-8");
}

} // namespace dh::demo::util
