#include "html/HtmlText.h"

#include <gumbo.h>

#include <algorithm>
#include <vector>

namespace dh::htmltext {

using html::Node;
using html::NodeKind;
using html::Tree;

namespace {

bool isSpace(char16_t u)
{
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

bool htmlTagIn(const Node& n, std::initializer_list<GumboTag> tags)
{
    if (n.kind != NodeKind::Element || n.ns != html::Ns::Html)
        return false;
    return std::find(tags.begin(), tags.end(), GumboTag(n.tag)) != tags.end();
}

// Elements whose content is never rendered as text.
bool isNeverRendered(const Node& n)
{
    return htmlTagIn(n, {GUMBO_TAG_HEAD, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE,
                         GUMBO_TAG_NOSCRIPT, GUMBO_TAG_TITLE, GUMBO_TAG_META, GUMBO_TAG_LINK,
                         GUMBO_TAG_BASE, GUMBO_TAG_IFRAME, GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES,
                         GUMBO_TAG_OBJECT, GUMBO_TAG_SELECT, GUMBO_TAG_TEXTAREA, GUMBO_TAG_DATALIST,
                         GUMBO_TAG_AUDIO, GUMBO_TAG_VIDEO, GUMBO_TAG_CANVAS, GUMBO_TAG_MAP});
}

bool isHiddenByAttributes(const Tree& t, int i)
{
    const Node& n = t.nodes[size_t(i)];
    if (n.attrCount == 0)
        return false;
    if (n.ns == html::Ns::Html && t.findAttr(i, u"hidden"))
        return true;
    if (const html::Attr* style = t.findAttr(i, u"style")) {
        QString s;
        s.reserve(style->value.size());
        for (QChar c : style->value)
            if (!isSpace(c.unicode()))
                s += c.toLower();
        if (s.contains(QLatin1String("display:none")))
            return true;
    }
    return false;
}

bool skipsText(const Tree& t, int i)
{
    const Node& n = t.nodes[size_t(i)];
    return isNeverRendered(n) || isHiddenByAttributes(t, i);
}

// Required line breaks around an element (0 for inline content).
int blockBreaks(const Node& n)
{
    if (n.kind != NodeKind::Element || n.ns != html::Ns::Html)
        return 0;
    switch (GumboTag(n.tag)) {
    case GUMBO_TAG_P:
        return 2;
    case GUMBO_TAG_ADDRESS: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE: case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY: case GUMBO_TAG_CENTER: case GUMBO_TAG_DD: case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR: case GUMBO_TAG_DIV: case GUMBO_TAG_DL:
    case GUMBO_TAG_DT: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_FIGCAPTION: case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER: case GUMBO_TAG_FORM: case GUMBO_TAG_FRAMESET: case GUMBO_TAG_H1:
    case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER: case GUMBO_TAG_HGROUP: case GUMBO_TAG_HR: case GUMBO_TAG_HTML:
    case GUMBO_TAG_LEGEND: case GUMBO_TAG_LI: case GUMBO_TAG_LISTING: case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU: case GUMBO_TAG_NAV: case GUMBO_TAG_OL: case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE: case GUMBO_TAG_SECTION: case GUMBO_TAG_SUMMARY: case GUMBO_TAG_TABLE:
    case GUMBO_TAG_CAPTION: case GUMBO_TAG_THEAD: case GUMBO_TAG_TBODY: case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TR: case GUMBO_TAG_UL: case GUMBO_TAG_XMP:
        return 1;
    default:
        return 0;
    }
}

bool isPreformatted(const Node& n)
{
    return htmlTagIn(n, {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_PLAINTEXT, GUMBO_TAG_XMP});
}

// Builds rendered text: white space collapses within lines, required line
// breaks between blocks merge to the largest, and leading/trailing breaks
// and spaces disappear.
class TextBuilder {
public:
    void visibleChar(QChar c)
    {
        flushPending();
        m_out += c;
        m_lineStart = false;
    }
    void collapsibleSpace()
    {
        if (!m_lineStart)
            m_pendingSpace = true;
    }
    void text(const QString& s, bool pre)
    {
        for (QChar c : s) {
            if (pre) {
                if (c == QLatin1Char('\r'))
                    continue;
                if (c == QLatin1Char('\n')) {
                    lineBreak();
                    continue;
                }
                visibleChar(c);
            } else if (isSpace(c.unicode())) {
                collapsibleSpace();
            } else {
                visibleChar(c);
            }
        }
    }
    // A forced break (<br>, a newline inside <pre>): always written.
    void lineBreak()
    {
        flushBreaks();
        m_pendingSpace = false;
        m_out += QLatin1Char('\n');
        m_lineStart = true;
    }
    // A literal separator such as the tab between table cells.
    void literal(QChar c)
    {
        m_pendingSpace = false;
        flushBreaks();
        m_out += c;
        m_lineStart = false;
    }
    void requireBreaks(int n)
    {
        m_pendingBreaks = std::max(m_pendingBreaks, n);
        m_pendingSpace = false;
    }
    QString take() { return std::move(m_out); }

private:
    void flushBreaks()
    {
        if (m_pendingBreaks && !m_out.isEmpty()) {
            m_out += QString(m_pendingBreaks, QLatin1Char('\n'));
            m_lineStart = true;
            m_pendingSpace = false;
        }
        m_pendingBreaks = 0;
    }
    void flushPending()
    {
        flushBreaks();
        if (m_pendingSpace && !m_lineStart)
            m_out += QLatin1Char(' ');
        m_pendingSpace = false;
    }

    QString m_out;
    bool m_lineStart = true;
    bool m_pendingSpace = false;
    int m_pendingBreaks = 0;
};

bool isRawTextParent(const Node& n)
{
    return htmlTagIn(n, {GUMBO_TAG_STYLE, GUMBO_TAG_SCRIPT, GUMBO_TAG_XMP, GUMBO_TAG_IFRAME,
                         GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_PLAINTEXT});
}

bool isVoid(const Node& n)
{
    return htmlTagIn(n, {GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND,
                         GUMBO_TAG_BR, GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_FRAME,
                         GUMBO_TAG_HR, GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_KEYGEN,
                         GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE,
                         GUMBO_TAG_TRACK, GUMBO_TAG_WBR});
}

// Where serialisation writes: one string, or pieces handed on as they fill.
class Sink {
public:
    explicit Sink(const std::function<bool(QString&)>* piece) : m_piece(piece) {}
    QString out;
    bool stopped = false;

    void append(QStringView s)
    {
        if (!m_piece) {
            out += s;
            return;
        }
        for (qsizetype at = 0; at < s.size() && !stopped; at += kPiece) {
            out += s.mid(at, kPiece);
            flushIfFull();
        }
    }
    void append(QChar c) { out += c; }
    void append(QLatin1StringView s) { out += s; }
    void appendEscaped(QStringView s, bool attribute)
    {
        if (!m_piece) {
            escape(s, attribute);
            return;
        }
        for (qsizetype at = 0; at < s.size() && !stopped; at += kPiece) {
            escape(s.mid(at, kPiece), attribute);
            flushIfFull();
        }
    }
    void flushIfFull()
    {
        if (m_piece && !stopped && out.size() >= kPiece)
            stopped = !(*m_piece)(out);
    }
    void finish()
    {
        if (m_piece && !stopped)
            stopped = !(*m_piece)(out);
    }

private:
    static constexpr qsizetype kPiece = 16384;

    void escape(QStringView s, bool attribute)
    {
        for (QChar c : s) {
            switch (c.unicode()) {
            case '&': out += QLatin1String("&amp;"); break;
            case 0xA0: out += QLatin1String("&nbsp;"); break;
            case '"':
                if (attribute)
                    out += QLatin1String("&quot;");
                else
                    out += c;
                break;
            case '<':
                if (!attribute)
                    out += QLatin1String("&lt;");
                else
                    out += c;
                break;
            case '>':
                if (!attribute)
                    out += QLatin1String("&gt;");
                else
                    out += c;
                break;
            default: out += c;
            }
        }
    }

    const std::function<bool(QString&)>* m_piece;
};

void serializeTo(const Tree& t, int node, bool outer, Sink& out)
{
    const int end = t.nodes[size_t(node)].end;
    std::vector<int> open;
    auto closeUntil = [&](int i) {
        while (!open.empty() && t.nodes[size_t(open.back())].end <= i) {
            out.append(QLatin1String("</"));
            out.append(t.nodes[size_t(open.back())].text);
            out.append(QLatin1Char('>'));
            open.pop_back();
        }
    };
    for (int i = outer ? node : node + 1; i < end && !out.stopped; ++i) {
        closeUntil(i);
        const Node& n = t.nodes[size_t(i)];
        switch (n.kind) {
        case NodeKind::Element: {
            out.append(QLatin1Char('<'));
            out.append(n.text);
            for (int a = 0; a < n.attrCount; ++a) {
                const html::Attr& attr = t.attrs[size_t(n.attrBegin + a)];
                out.append(QLatin1Char(' '));
                out.append(attr.name);
                out.append(QLatin1String("=\""));
                out.appendEscaped(attr.value, true);
                out.append(QLatin1Char('"'));
            }
            out.append(QLatin1Char('>'));
            if (!isVoid(n))
                open.push_back(i);
            break;
        }
        case NodeKind::Text:
            if (n.parent >= 0 && isRawTextParent(t.nodes[size_t(n.parent)]))
                out.append(n.text);
            else
                out.appendEscaped(n.text, false);
            break;
        case NodeKind::Comment:
            out.append(QLatin1String("<!--"));
            out.append(n.text);
            out.append(QLatin1String("-->"));
            break;
        case NodeKind::Document:
            break;
        }
        out.flushIfFull();
    }
    if (!out.stopped)
        closeUntil(end);
    out.finish();
}

} // namespace

QString textContent(const Tree& t, int node)
{
    QString out;
    const int end = t.nodes[size_t(node)].end;
    for (int i = node + 1; i < end; ++i)
        if (t.nodes[size_t(i)].kind == NodeKind::Text)
            out += t.nodes[size_t(i)].text;
    return out;
}

QString collapseWhitespace(const QString& s)
{
    QString out;
    out.reserve(s.size());
    bool space = false;
    for (QChar c : s) {
        if (isSpace(c.unicode())) {
            space = !out.isEmpty();
        } else {
            if (space)
                out += QLatin1Char(' ');
            space = false;
            out += c;
        }
    }
    return out;
}

QString innerText(const Tree& t, int node)
{
    const Node& root = t.nodes[size_t(node)];
    if (root.kind == NodeKind::Text)
        return root.text;
    if (root.kind != NodeKind::Element && root.kind != NodeKind::Document)
        return {};
    // An element that is not rendered itself answers its text content, as
    // browsers do.
    if (root.kind == NodeKind::Element && skipsText(t, node))
        return textContent(t, node);

    int preDepth = 0;
    for (int p = root.parent; p > 0; p = t.nodes[size_t(p)].parent)
        if (isPreformatted(t.nodes[size_t(p)]))
            ++preDepth;
    if (isPreformatted(root))
        ++preDepth;

    TextBuilder b;
    std::vector<int> open;  // elements entered below root, innermost last
    auto closeElement = [&](int i) {
        const Node& n = t.nodes[size_t(i)];
        if (isPreformatted(n))
            --preDepth;
        if (htmlTagIn(n, {GUMBO_TAG_TD, GUMBO_TAG_TH})) {
            const int next = t.nextElementSibling(i);
            if (next >= 0 && htmlTagIn(t.nodes[size_t(next)], {GUMBO_TAG_TD, GUMBO_TAG_TH}))
                b.literal(QLatin1Char('\t'));
        }
        if (const int k = blockBreaks(n))
            b.requireBreaks(k);
    };
    const int end = root.end;
    int i = node + 1;
    while (i < end) {
        while (!open.empty() && t.nodes[size_t(open.back())].end <= i) {
            closeElement(open.back());
            open.pop_back();
        }
        const Node& n = t.nodes[size_t(i)];
        if (n.kind == NodeKind::Text) {
            b.text(n.text, preDepth > 0);
            ++i;
            continue;
        }
        if (n.kind != NodeKind::Element) {
            ++i;
            continue;
        }
        if (skipsText(t, i)) {
            i = n.end;
            continue;
        }
        if (htmlTagIn(n, {GUMBO_TAG_BR})) {
            b.lineBreak();
            i = n.end;
            continue;
        }
        if (const int k = blockBreaks(n))
            b.requireBreaks(k);
        if (isPreformatted(n))
            ++preDepth;
        open.push_back(i);
        ++i;
    }
    while (!open.empty()) {
        closeElement(open.back());
        open.pop_back();
    }
    return b.take();
}

QString serialize(const Tree& t, int node, bool outer)
{
    Sink out(nullptr);
    out.out.reserve((t.nodes[size_t(node)].end - node) * 24);
    serializeTo(t, node, outer, out);
    return std::move(out.out);
}

void serializePieces(const Tree& t, int node, bool outer, const std::function<bool(QString&)>& piece)
{
    Sink out(&piece);
    serializeTo(t, node, outer, out);
}

} // namespace dh::htmltext
