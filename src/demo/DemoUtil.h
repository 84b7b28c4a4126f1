#pragma once
// Small helpers shared by the demo route files: raw query parsing, HTML
// escaping, a stable hash and response shortcuts.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}

namespace dh::demo::util {

// FNV-1a over the bytes: stable across runs and platforms, unlike std::hash.
std::uint64_t stableHash(std::string_view bytes);

// The text after '?' of the request line, exactly as the client sent it.
std::string rawQuery(const httplib::Request& req);

// Splits a raw query at '&' into (name, raw value) pairs, nothing decoded.
std::vector<std::pair<std::string, std::string>> splitRawQuery(const std::string& query);

// The raw value of the first parameter called name; found tells whether it exists.
std::string rawParam(const std::string& query, const std::string& name, bool* found = nullptr);

// Percent-decoding; '+' becomes a space only when plusIsSpace is set.
// Bad escapes are kept as they are.
QByteArray percentDecode(std::string_view raw, bool plusIsSpace);

// Text safe inside HTML element content and double-quoted attributes.
QString htmlEscape(const QString& text);
std::string htmlEscape(const std::string& text);

// "http://host:port" as the client addressed this server (Host header).
std::string baseUrlOf(const httplib::Request& req);

// Value of cookie `name` in the request's Cookie headers, or empty.
std::string cookieValue(const httplib::Request& req, const std::string& name);

// A form field from the query (GET) or the urlencoded body (POST), decoded.
std::string formValue(const httplib::Request& req, const std::string& name);

// An HTML page in UTF-8.
void sendHtml(httplib::Response& res, const QString& html, int status = 200);

} // namespace dh::demo::util
