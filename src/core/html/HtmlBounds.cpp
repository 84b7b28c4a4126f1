#include "html/HtmlBounds.h"

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

bool isFormatting(std::string_view n)
{
    return oneOf(n, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt", "u"});
}

// Elements that end the scope in which an end tag looks for its element.
bool isScopeBoundary(std::string_view n)
{
    return oneOf(n, {"applet", "caption", "table", "td", "th", "marquee", "object", "template"});
}

// Elements an end tag of an ordinary phrasing element does not close across.
bool isSpecial(std::string_view n)
{
    return isScopeBoundary(n)
           || oneOf(n, {"address", "article", "aside", "blockquote", "button", "center", "col", "colgroup", "dd",
                        "details", "dir", "div", "dl", "dt", "fieldset", "figcaption", "figure", "footer", "form",
                        "frameset", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hgroup", "iframe", "li",
                        "listing", "main", "menu", "nav", "noembed", "noframes", "noscript", "ol", "p", "pre",
                        "section", "select", "summary", "tbody", "textarea", "tfoot", "thead", "tr", "ul", "xmp"});
}

// Start tags that close an open <p> first.
bool closesParagraph(std::string_view n)
{
    return oneOf(n, {"address", "article", "aside", "blockquote", "center", "details", "dialog", "dir", "div", "dl",
                     "fieldset", "figcaption", "figure", "footer", "header", "hgroup", "main", "menu", "nav", "ol",
                     "p", "section", "summary", "ul", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "listing", "form",
                     "li", "dd", "dt", "table", "hr", "xmp"});
}

// Start tags before which the tree builder rebuilds closed formatting
// elements. A rebuild counted where there is none would leave the list open
// in the count while the parser's is closed, so the exceptions are all listed.
bool rebuildsBefore(std::string_view n)
{
    if (n == "xmp")
        return true;
    return !closesParagraph(n)
           && !oneOf(n, {"html", "head", "body", "base", "basefont", "bgsound", "link", "meta", "noframes", "script",
                         "style", "template", "title", "frameset", "frame", "caption", "col", "colgroup", "tbody",
                         "td", "tfoot", "th", "thead", "tr", "textarea", "iframe", "noembed", "noscript", "plaintext",
                         "rb", "rp", "rt", "rtc"});
}

bool isHeading(std::string_view n)
{
    return n.size() == 2 && n[0] == 'h' && n[1] >= '1' && n[1] <= '6';
}

// Follows the tree builder's stack of open elements and its list of
// formatting elements (b, font, a ...), closely enough to count what it
// makes beyond the tags: before a text and most start tags it rebuilds every
// formatting element that was closed without its end tag, so 512 unclosed
// <b>s before 40,000 paragraphs make twenty million elements.
class TreeModel {
public:
    // A kept start tag of an element that has content (not void, not raw
    // text); answers the nodes the parser makes beyond the tag.
    qint64 start(std::string_view name, std::string_view attrs, int attributes)
    {
        if (name == "html" || name == "head" || name == "body")
            return 0;
        if (inSelect()) {
            // Inside a <select> only its options count; a new select or a
            // field ends it.
            if (oneOf(name, {"select", "input", "keygen", "textarea"}))
                popTo(topOf("select"));
            else if (name != "option" && name != "optgroup")
                return 0;
        }
        closeBefore(name);
        qint64 rebuilt = 0;
        if ((name == "a" || name == "nobr") && lastEntry(name) != npos)
            rebuilt += endFormatting(lastEntry(name));  // a new <a> ends the open one
        if (rebuildsBefore(name))
            rebuilt += rebuild();
        if (isFormatting(name)) {
            noahsArk(name, attrs);
            m_list.push_back({std::string(name), std::string(attrs), 1 + attributes, newId(), false});
            push(name, m_list.back().id);
        } else {
            const bool cell = name == "td" || name == "th" || name == "caption";
            if (cell && (topOf("table") < 0 || topOf("table") < topOf("template")))
                return rebuilt;  // a cell outside a table is ignored
            push(name, -1);
            if (cell || oneOf(name, {"applet", "marquee", "object", "template"})) {
                m_stack.back().marker = true;
                m_list.push_back({std::string(name), {}, 0, -1, true});
            }
        }
        return rebuilt;
    }
    // A void or raw-text start tag: only what happens before it.
    qint64 startEmpty(std::string_view name)
    {
        closeBefore(name);
        return rebuildsBefore(name) ? rebuild() : 0;
    }
    // A kept end tag; answers the nodes the parser makes for it (</br> is a <br>).
    qint64 end(std::string_view name)
    {
        if (name == "br")
            return rebuild();
        if (name == "html" || name == "head" || name == "body")
            return 0;
        if (isFormatting(name)) {
            if (const size_t e = lastEntry(name); e != npos)
                return endFormatting(e);
        }
        if (name == "p") {
            popToIfInScope("p", "button");
        } else if (name == "li") {
            popToIfInScope("li", "ul", "ol");
        } else if (isHeading(name)) {
            int at = -1;
            for (const char* h : {"h1", "h2", "h3", "h4", "h5", "h6"})
                at = std::max(at, topOf(h));
            if (at > topBoundary())
                popTo(at);
        } else if (isSpecial(name)) {
            popToIfInScope(name);
        } else if (topOf(name) > (m_specials.empty() ? -1 : m_specials.back())) {
            popTo(topOf(name));
        }
        return 0;
    }
    // Before a text run.
    qint64 text() { return inSelect() ? 0 : rebuild(); }

private:
    static constexpr size_t npos = size_t(-1);
    struct Open {
        std::string name;
        int entry;  // the formatting entry it stands for, or -1
        bool marker = false;
    };
    struct Entry {
        std::string name;
        std::string attrs;  // as written: equal text, equal attributes
        int nodes;          // the element and its attributes
        int id;             // which element currently stands for it
        bool marker;
    };

    int newId()
    {
        m_where.push_back(0);
        return int(m_where.size() - 1);
    }
    bool isOpen(const Entry& e) const { return e.marker || m_where[size_t(e.id)] != 0; }
    int topOf(std::string_view name) const
    {
        const auto it = m_at.find(name);
        return it == m_at.end() || it->second.empty() ? -1 : it->second.back();
    }
    int topBoundary() const { return m_boundaries.empty() ? -1 : m_boundaries.back(); }
    bool inSelect() const { return topOf("select") > topBoundary(); }
    void push(std::string_view name, int entry)
    {
        const int at = int(m_stack.size());
        m_stack.push_back({std::string(name), entry});
        auto it = m_at.find(name);
        if (it == m_at.end())
            it = m_at.emplace(std::string(name), std::vector<int>()).first;
        it->second.push_back(at);
        if (isScopeBoundary(name))
            m_boundaries.push_back(at);
        if (isSpecial(name))
            m_specials.push_back(at);
        if (entry >= 0)
            m_where[size_t(entry)] = at + 1;
    }
    void popTo(int at)
    {
        while (int(m_stack.size()) > at && at >= 0) {
            Open& top = m_stack.back();
            const int index = int(m_stack.size()) - 1;
            if (top.entry >= 0)
                m_where[size_t(top.entry)] = 0;
            m_at.find(top.name)->second.pop_back();
            if (!m_boundaries.empty() && m_boundaries.back() == index)
                m_boundaries.pop_back();
            if (!m_specials.empty() && m_specials.back() == index)
                m_specials.pop_back();
            if (top.marker) {
                while (!m_list.empty()) {
                    const bool marker = m_list.back().marker;
                    m_list.pop_back();
                    if (marker)
                        break;
                }
            }
            m_stack.pop_back();
        }
    }
    // Closes the element if it is in scope (the extra names also end the scope).
    void popToIfInScope(std::string_view name, std::string_view extra1 = {}, std::string_view extra2 = {})
    {
        const int at = topOf(name);
        int boundary = isScopeBoundary(name) ? -1 : topBoundary();
        if (name == "table" || name == "tbody" || name == "thead" || name == "tfoot" || name == "tr")
            boundary = std::max(topOf("template"), topOf("html"));
        if (!extra1.empty())
            boundary = std::max(boundary, topOf(extra1));
        if (!extra2.empty())
            boundary = std::max(boundary, topOf(extra2));
        if (at > boundary)
            popTo(at);
    }
    void closeBefore(std::string_view name)
    {
        if (closesParagraph(name))
            popToIfInScope("p", "button");
        if (name == "li") {
            popToIfInScope("li", "ul", "ol");
        } else if (name == "dd" || name == "dt") {
            popToIfInScope("dd", "dl");
            popToIfInScope("dt", "dl");
        } else if (isHeading(name)) {
            if (!m_stack.empty() && isHeading(m_stack.back().name))
                popTo(int(m_stack.size()) - 1);
        } else if (name == "button") {
            popToIfInScope("button");
        } else if (name == "option" || name == "optgroup") {
            if (!m_stack.empty() && m_stack.back().name == "option")
                popTo(int(m_stack.size()) - 1);
        } else if (oneOf(name, {"td", "th", "tr", "tbody", "thead", "tfoot", "caption", "colgroup", "col", "table"})) {
            const int table = topOf("table");
            if (table < 0)
                return;
            const int cell = std::max({topOf("td"), topOf("th"), topOf("caption")});
            if (name == "table") {
                if (cell < table)
                    popTo(table);  // a table straight inside a table ends it
                return;
            }
            // A new part ends the open cell, then everything above the part it
            // goes in: what the table's foster parenting left open too.
            if (cell > table)
                popTo(cell);
            const int section = std::max({table, topOf("tbody"), topOf("thead"), topOf("tfoot")});
            if (name == "td" || name == "th")
                popTo(std::max(section, topOf("tr")) + 1);
            else if (name == "tr")
                popTo(topOf("tr") > section ? topOf("tr") : section + 1);
            else
                popTo(table + 1);
        }
    }
    size_t lastEntry(std::string_view name) const
    {
        for (size_t k = m_list.size(); k > 0 && !m_list[k - 1].marker; --k)
            if (m_list[k - 1].name == name)
                return k - 1;
        return npos;
    }
    // The end tag of a formatting element: it and what was opened inside it
    // close. With a block opened inside it the parser moves and copies
    // elements, in time that grows with what it has built (5,000 such end
    // tags take it a second, 20,000 eight), so each counts as many nodes;
    // real pages have a handful.
    qint64 endFormatting(size_t e)
    {
        constexpr qint64 kMisnestedNodes = 500;
        const int where = m_where[size_t(m_list[e].id)];
        const bool misnested = where > 0 && !m_specials.empty() && m_specials.back() >= where;
        m_list.erase(m_list.begin() + std::ptrdiff_t(e));
        if (where > 0)
            popTo(where - 1);
        return misnested ? kMisnestedNodes : 0;
    }
    // At most three entries of the same tag and attributes after the last
    // marker: the earliest goes.
    void noahsArk(std::string_view name, std::string_view attrs)
    {
        int same = 0;
        size_t earliest = 0;
        for (size_t k = m_list.size(); k > 0 && !m_list[k - 1].marker; --k) {
            if (m_list[k - 1].name == name && m_list[k - 1].attrs == attrs) {
                ++same;
                earliest = k - 1;
            }
        }
        if (same >= 3)
            m_list.erase(m_list.begin() + std::ptrdiff_t(earliest));
    }
    qint64 rebuild()
    {
        if (m_list.empty() || isOpen(m_list.back()))
            return 0;
        size_t k = m_list.size();
        while (k > 0 && !isOpen(m_list[k - 1]))
            --k;
        qint64 nodes = 0;
        for (; k < m_list.size(); ++k) {
            Entry& e = m_list[k];
            nodes += e.nodes;
            e.id = newId();
            push(e.name, e.id);
        }
        return nodes;
    }

    std::vector<Open> m_stack;
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view n) const { return std::hash<std::string_view>()(n); }
    };
    std::unordered_map<std::string, std::vector<int>, NameHash, std::equal_to<>> m_at;  // stack positions by name
    std::vector<int> m_boundaries;                          // stack positions of scope boundaries
    std::vector<int> m_specials;
    std::vector<Entry> m_list;  // the formatting list, markers included
    std::vector<int> m_where;   // by element id: stack position + 1 while open, else 0
};

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
    size_t attrsFrom = 0;       // the attributes as written: [attrsFrom, attrsTo)
    size_t attrsTo = 0;
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
    t.attrsFrom = pos;
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
            t.attrsTo = std::max(t.attrsFrom, pos - (t.selfClosing ? 1 : 0));
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
    TreeModel model;
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
            out.nodes += 1 + model.text();
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
                continue;
            }
            out.nodes += model.end(t.name);
            if (openCount[t.name] > 0) {
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
        if (!cutWhole) {
            if (isRawText(t.name) || isVoid(t.name) || (foreign > 0 && t.selfClosing))
                out.nodes += model.startEmpty(t.name);
            else
                out.nodes += model.start(t.name, s.substr(t.attrsFrom, t.attrsTo - t.attrsFrom),
                                         std::min(t.attributes, maxAttributes));
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
        out.nodes += 1 + model.text();  // the text at the end
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
