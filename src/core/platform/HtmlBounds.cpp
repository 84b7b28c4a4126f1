#include "platform/HtmlBounds.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dh::html {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}

bool oneOf(std::string_view name, std::initializer_list<std::string_view> list)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

bool isVoid(std::string_view n)
{
    return oneOf(n, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "image", "img",
                     "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements the tree builder closes by itself when a sibling starts; they never
// nest without a counted element between them.
bool isSelfClosingBySibling(std::string_view n)
{
    return oneOf(n, {"html", "head", "body", "p", "li", "dt", "dd", "option", "optgroup", "tr", "td", "th", "thead",
                     "tbody", "tfoot", "colgroup", "caption", "rb", "rt", "rp", "rtc"});
}

bool isRawText(std::string_view n)
{
    return oneOf(n, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

// Case-insensitive search for "</name" from pos.
size_t findEndTag(std::string_view s, size_t pos, std::string_view name)
{
    while (pos < s.size()) {
        const void* p = std::memchr(s.data() + pos, '<', s.size() - pos);
        if (!p)
            return s.size();
        const size_t at = size_t(static_cast<const char*>(p) - s.data());
        if (at + 2 + name.size() <= s.size() && s[at + 1] == '/') {
            bool match = true;
            for (size_t k = 0; k < name.size(); ++k) {
                if (lower(s[at + 2 + k]) != name[k]) {
                    match = false;
                    break;
                }
            }
            if (match)
                return at;
        }
        pos = at + 1;
    }
    return s.size();
}

struct Tag {
    std::string name;
    size_t end = 0;             // one past '>' (or the input's end)
    bool selfClosing = false;
    bool complete = false;      // a '>' was found
    size_t cutFrom = 0;         // attributes beyond the cap: [cutFrom, cutTo)
    size_t cutTo = 0;
    int attributes = 0;
};

// Reads a tag from s[pos] (just after "<" or "</") as the tokenizer does:
// name, then attributes with quoted values, up to '>'.
Tag readTag(std::string_view s, size_t pos, int maxAttributes)
{
    Tag t;
    const size_t n = s.size();
    while (pos < n && !isSpace(s[pos]) && s[pos] != '/' && s[pos] != '>')
        t.name += lower(s[pos++]);
    for (;;) {
        while (pos < n && (isSpace(s[pos]) || s[pos] == '/')) {
            t.selfClosing = s[pos] == '/';
            ++pos;
        }
        if (pos >= n)
            break;
        if (s[pos] == '>') {
            if (t.cutFrom)
                t.cutTo = t.selfClosing ? pos - 1 : pos;  // keeps a closing slash
            t.end = pos + 1;
            t.complete = true;
            return t;
        }
        t.selfClosing = false;
        ++t.attributes;
        if (t.attributes == maxAttributes + 1)
            t.cutFrom = pos;
        // Attribute name (a leading '=' belongs to the name).
        ++pos;
        while (pos < n && !isSpace(s[pos]) && s[pos] != '/' && s[pos] != '>' && s[pos] != '=')
            ++pos;
        size_t p = pos;
        while (p < n && isSpace(s[p]))
            ++p;
        if (p < n && s[p] == '=') {
            ++p;
            while (p < n && isSpace(s[p]))
                ++p;
            if (p < n && (s[p] == '"' || s[p] == '\'')) {
                const void* q = std::memchr(s.data() + p + 1, s[p], n - p - 1);
                pos = q ? size_t(static_cast<const char*>(q) - s.data()) + 1 : n;
            } else {
                while (p < n && !isSpace(s[p]) && s[p] != '>')
                    ++p;
                pos = p;
            }
        }
    }
    t.end = n;
    return t;
}

} // namespace

BoundedMarkup boundMarkup(const QByteArray& utf8, int maxNesting, int maxAttributes, qint64 maxNodes)
{
    BoundedMarkup out;
    const std::string_view s(utf8.constData(), size_t(utf8.size()));
    const size_t n = s.size();
    std::vector<std::pair<size_t, size_t>> cuts;  // byte ranges left out, in order
    std::vector<std::string> open;                // counted open elements
    std::unordered_map<std::string, int> openCount;
    std::unordered_map<std::string, int> dropped;  // start tags left out, awaiting their end tags
    int foreign = 0;                               // open svg / math elements
    if (maxAttributes < 0)
        maxAttributes = 0;

    auto pop = [&] {
        const std::string& top = open.back();
        if (top == "svg" || top == "math")
            --foreign;
        --openCount[top];
        open.pop_back();
    };

    size_t i = 0;
    size_t textFrom = 0;  // where the text after the last counted markup starts
    // A run of text before markup at `at` makes a text node.
    auto markupAt = [&](size_t at, size_t end) {
        if (at > textFrom)
            ++out.nodes;
        textFrom = end;
    };
    while (i < n) {
        if (maxNodes >= 0 && out.nodes > maxNodes) {
            out.tooManyNodes = true;
            return out;
        }
        const void* p = std::memchr(s.data() + i, '<', n - i);
        if (!p)
            break;
        i = size_t(static_cast<const char*>(p) - s.data());
        if (i + 1 >= n)
            break;
        const char c = s[i + 1];
        if (c == '!') {
            const size_t start = i;
            if (s.substr(i + 2, 2) == "--") {
                const size_t e = s.find("-->", i + 4);
                i = e == std::string_view::npos ? n : e + 3;
            } else {
                const size_t e = s.find('>', i + 2);
                i = e == std::string_view::npos ? n : e + 1;
            }
            markupAt(start, i);
            ++out.nodes;  // a comment (or a doctype)
            continue;
        }
        if (c == '?') {
            const size_t start = i;
            const size_t e = s.find('>', i + 2);
            i = e == std::string_view::npos ? n : e + 1;
            markupAt(start, i);
            ++out.nodes;  // a bogus comment
            continue;
        }
        if (c == '/') {
            if (i + 2 >= n || !isAlpha(s[i + 2])) {
                i += 2;
                continue;
            }
            const size_t start = i;
            Tag t = readTag(s, i + 2, maxAttributes);
            i = t.end;
            if (!t.complete)
                break;
            markupAt(start, i);
            auto d = dropped.find(t.name);
            if (d != dropped.end() && d->second > 0) {
                --d->second;
                cuts.emplace_back(start, t.end);
                ++out.droppedTags;
            } else if (openCount[t.name] > 0) {
                while (!open.empty()) {
                    const bool match = open.back() == t.name;
                    pop();
                    if (match)
                        break;
                }
            }
            continue;
        }
        if (!isAlpha(c)) {
            ++i;
            continue;
        }
        const size_t start = i;
        Tag t = readTag(s, i + 1, maxAttributes);
        i = t.end;
        if (!t.complete)
            break;
        markupAt(start, i);
        bool cutWhole = false;
        if (t.name == "plaintext")
            break;  // the rest of the input is text
        if (isRawText(t.name)) {
            i = findEndTag(s, i, t.name);
            if (i > textFrom)
                ++out.nodes;  // the raw text
            textFrom = i;
        } else if (!isVoid(t.name) && !(foreign > 0 && t.selfClosing) && !isSelfClosingBySibling(t.name)) {
            if (int(open.size()) >= maxNesting) {
                ++dropped[t.name];
                cutWhole = true;
            } else {
                open.push_back(t.name);
                ++openCount[t.name];
                if (t.name == "svg" || t.name == "math")
                    ++foreign;
            }
        }
        if (cutWhole) {
            cuts.emplace_back(start, t.end);
            ++out.droppedTags;
        } else if (t.cutFrom) {
            cuts.emplace_back(t.cutFrom, t.cutTo);
            out.droppedAttributes += t.attributes - maxAttributes;
            out.nodes += 1 + maxAttributes;
        } else {
            out.nodes += 1 + t.attributes;
        }
    }
    if (n > textFrom)
        ++out.nodes;  // the text at the end
    if (maxNodes >= 0 && out.nodes > maxNodes) {
        out.tooManyNodes = true;
        return out;
    }

    if (cuts.empty()) {
        out.utf8 = utf8;
        return out;
    }
    size_t kept = n;
    for (const auto& [a, b] : cuts)
        kept -= b - a;
    out.utf8.reserve(qsizetype(kept));
    size_t from = 0;
    for (const auto& [a, b] : cuts) {
        out.utf8.append(s.data() + from, qsizetype(a - from));
        from = b;
    }
    out.utf8.append(s.data() + from, qsizetype(n - from));
    return out;
}

} // namespace dh::html
