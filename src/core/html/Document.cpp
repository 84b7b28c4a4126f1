#include "html/Document.h"

#include "html/Limits.h"
#include "html/DocumentTree.h"
#include "html/HtmlBounds.h"
#include "html/HtmlText.h"
#include "html/Selector.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <gumbo.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace dh {

namespace html {

const Attr* Tree::findAttr(int node, QStringView name) const
{
    const Node& n = nodes[size_t(node)];
    for (int i = 0; i < n.attrCount; ++i) {
        const Attr& a = attrs[size_t(n.attrBegin + i)];
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

int Tree::firstElementChild(int node) const
{
    const int end = nodes[size_t(node)].end;
    for (int c = node + 1; c < end; c = nodes[size_t(c)].end)
        if (nodes[size_t(c)].kind == NodeKind::Element)
            return c;
    return -1;
}

int Tree::nextElementSibling(int node) const
{
    const int parent = nodes[size_t(node)].parent;
    if (parent < 0)
        return -1;
    const int end = nodes[size_t(parent)].end;
    for (int c = nodes[size_t(node)].end; c < end; c = nodes[size_t(c)].end)
        if (nodes[size_t(c)].kind == NodeKind::Element)
            return c;
    return -1;
}

} // namespace html

using html::Attr;
using html::Node;
using html::NodeKind;
using html::Tree;

namespace {

// Thrown out of the parser (through its C frames, which carry unwind
// tables) when it needs more memory than the page may cost; everything it
// made belongs to the arena, so nothing leaks.
struct ArenaFull {};

// Gumbo allocates many small blocks and frees them recursively at the end.
// A bump arena makes parsing faster and lets us drop the whole output at
// once, without gumbo's recursive destroy (deep nesting would overflow the
// stack there). Small blocks come from slabs of one size each, so a block
// gumbo frees (the tokenizer's buffers, five or so for every tag) is used
// again at once; large ones (the buffers a long text grows through) are
// given back to the system as soon as gumbo is done with them.
class Arena {
public:
    explicit Arena(size_t budget) : m_budget(budget) {}
    ~Arena()
    {
        for (char* b : m_slabs)
            std::free(b);
        for (const auto& [b, size] : m_big)
            std::free(b);
    }
    void* allocate(size_t n)
    {
        if (n > kSmallMax) {
            claim(n);
            void* big = std::malloc(n);
            if (!big)
                throw std::bad_alloc();
            m_big.emplace(big, n);
            return big;
        }
        const size_t c = n ? (n + 7) / 8 : 1;  // the size in units of 8 bytes
        if (void* p = m_free[c]) {
            m_free[c] = *static_cast<void**>(p);
            return p;
        }
        if (m_left[c] < c * 8) {
            claim(kSlab);
            char* slab = static_cast<char*>(std::aligned_alloc(kSlab, kSlab));
            if (!slab)
                throw std::bad_alloc();
            m_slabs.push_back(slab);
            *reinterpret_cast<size_t*>(slab) = c;
            m_cur[c] = slab + kHeader;
            m_left[c] = kSlab - kHeader;
        }
        void* p = m_cur[c];
        m_cur[c] += c * 8;
        m_left[c] -= c * 8;
        return p;
    }
    void release(void* p)
    {
        if (!p)
            return;
        if (auto it = m_big.find(p); it != m_big.end()) {
            std::free(p);
            m_bytes -= it->second;
            m_big.erase(it);
            return;
        }
        // A small block: its slab (found by alignment) says its size.
        const char* slab = reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) & ~(kSlab - 1));
        const size_t c = *reinterpret_cast<const size_t*>(slab);
        *static_cast<void**>(p) = m_free[c];
        m_free[c] = p;
    }
    static void* alloc(void* self, size_t n) { return static_cast<Arena*>(self)->allocate(n); }
    static void dealloc(void* self, void* p) { static_cast<Arena*>(self)->release(p); }

private:
    void claim(size_t n)
    {
        if (m_bytes + n > m_budget)
            throw ArenaFull();
        m_bytes += n;
    }
    static constexpr size_t kSlab = 64 * 1024;  // a power of two: slabs are aligned to it
    static constexpr size_t kHeader = 16;
    static constexpr size_t kSmallMax = 256;
    static constexpr size_t kClasses = kSmallMax / 8 + 1;
    std::vector<char*> m_slabs;
    std::unordered_map<void*, size_t> m_big;
    size_t m_budget;
    size_t m_bytes = 0;
    void* m_free[kClasses] = {};
    char* m_cur[kClasses] = {};
    size_t m_left[kClasses] = {};
};

QString fromPiece(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

QString elementName(const GumboElement& e)
{
    GumboStringPiece piece = e.original_tag;
    if (piece.length)
        gumbo_tag_from_original_text(&piece);
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG && piece.length) {
        // SVG keeps camel-case names such as foreignObject.
        if (const char* fixed = gumbo_normalize_svg_tagname(&piece))
            return QString::fromUtf8(fixed);
    }
    if (e.tag != GUMBO_TAG_UNKNOWN)
        return QString::fromUtf8(gumbo_normalized_tagname(e.tag));
    return QString::fromUtf8(piece.data, int(piece.length)).toLower();
}

QString attrName(const GumboAttribute& a)
{
    QString n = fromPiece(a.name);
    switch (a.attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK: return QStringLiteral("xlink:") + n;
    case GUMBO_ATTR_NAMESPACE_XML: return QStringLiteral("xml:") + n;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        return n == QLatin1String("xmlns") ? n : QStringLiteral("xmlns:") + n;
    default: return n;
    }
}

html::Ns nsOf(GumboNamespaceEnum ns)
{
    switch (ns) {
    case GUMBO_NAMESPACE_SVG: return html::Ns::Svg;
    case GUMBO_NAMESPACE_MATHML: return html::Ns::MathML;
    default: return html::Ns::Html;
    }
}

// Short strings a page repeats (tag and attribute names, white space
// between tags, link addresses) are made once and shared, instead of one
// allocation for every node. The table stops growing at a bound, so a page
// of distinct strings costs no more than without it.
class StringTable {
public:
    template <typename Make>
    QString get(char kind, const char* data, qsizetype size, Make make)
    {
        if (size > kLongest)
            return make();
        m_key.resize(size + 1);
        m_key[0] = kind;
        std::memcpy(m_key.data() + 1, data, size_t(size));
        if (auto it = m_strings.constFind(m_key); it != m_strings.cend())
            return *it;
        QString value = make();
        if (m_strings.size() < kMost)
            m_strings.insert(m_key, value);
        return value;
    }

private:
    static constexpr qsizetype kLongest = 32;
    static constexpr qsizetype kMost = 8192;
    QByteArray m_key;
    QHash<QByteArray, QString> m_strings;
};

// Copies gumbo's output into the flat node table, without recursion.
void convert(const GumboNode* root, Tree& tree)
{
    StringTable strings;
    auto shared = [&strings](char kind, const char* text) {
        if (!text)
            return QString();
        return strings.get(kind, text, qsizetype(std::strlen(text)), [text] { return fromPiece(text); });
    };
    struct Frame {
        const GumboNode* node;
        unsigned next;  // next child to visit
        int index;      // our node index
    };
    std::vector<Frame> stack;
    tree.nodes.push_back(Node{NodeKind::Document, html::Ns::Html, 0, -1, 0, 0, 0, {}});
    stack.push_back({root, 0, 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        const GumboVector* kids = nullptr;
        if (f.node->type == GUMBO_NODE_DOCUMENT)
            kids = &f.node->v.document.children;
        else if (f.node->type == GUMBO_NODE_ELEMENT || f.node->type == GUMBO_NODE_TEMPLATE)
            kids = &f.node->v.element.children;
        if (!kids || f.next >= kids->length) {
            tree.nodes[size_t(f.index)].end = int(tree.nodes.size());
            stack.pop_back();
            continue;
        }
        const GumboNode* child = static_cast<const GumboNode*>(kids->data[f.next++]);
        const int parent = f.index;
        Node n;
        n.parent = parent;
        switch (child->type) {
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE: {
            const GumboElement& e = child->v.element;
            n.kind = NodeKind::Element;
            n.ns = nsOf(e.tag_namespace);
            n.tag = std::uint16_t(e.tag);
            if (e.tag != GUMBO_TAG_UNKNOWN && e.tag_namespace != GUMBO_NAMESPACE_SVG) {
                const char* known = gumbo_normalized_tagname(e.tag);
                n.text = strings.get('t', known, qsizetype(std::strlen(known)), [&e] { return elementName(e); });
            } else {
                n.text = elementName(e);
            }
            n.attrBegin = int(tree.attrs.size());
            n.attrCount = int(e.attributes.length);
            for (unsigned i = 0; i < e.attributes.length; ++i) {
                const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
                const char ns = char('0' + int(a->attr_namespace));
                QString name = a->name ? strings.get(ns, a->name, qsizetype(std::strlen(a->name)),
                                                     [a] { return attrName(*a); })
                                       : attrName(*a);
                tree.attrs.push_back(Attr{std::move(name), shared('v', a->value)});
            }
            const int index = int(tree.nodes.size());
            tree.nodes.push_back(std::move(n));
            if (parent == 0 && tree.documentElement < 0)
                tree.documentElement = index;
            stack.push_back({child, 0, index});
            continue;
        }
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_CDATA:
        case GUMBO_NODE_WHITESPACE:
            n.kind = NodeKind::Text;
            n.text = shared('x', child->v.text.text);
            break;
        case GUMBO_NODE_COMMENT:
            n.kind = NodeKind::Comment;
            n.text = fromPiece(child->v.text.text);
            break;
        default:
            continue;
        }
        n.end = int(tree.nodes.size()) + 1;
        tree.nodes.push_back(std::move(n));
    }
}

bool isAsciiSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

// Does a class attribute value contain every one of the names?
bool hasAllClasses(QStringView classAttr, const QList<QStringView>& names)
{
    for (const QStringView& want : names) {
        bool found = false;
        qsizetype i = 0;
        const qsizetype n = classAttr.size();
        while (i < n && !found) {
            while (i < n && isAsciiSpace(classAttr[i]))
                ++i;
            qsizetype j = i;
            while (j < n && !isAsciiSpace(classAttr[j]))
                ++j;
            if (j > i && classAttr.mid(i, j - i) == want)
                found = true;
            i = j;
        }
        if (!found)
            return false;
    }
    return true;
}

QList<QStringView> splitClasses(const QString& names)
{
    QList<QStringView> out;
    const QStringView v(names);
    qsizetype i = 0;
    while (i < v.size()) {
        while (i < v.size() && isAsciiSpace(v[i]))
            ++i;
        qsizetype j = i;
        while (j < v.size() && !isAsciiSpace(v[j]))
            ++j;
        if (j > i)
            out.push_back(v.mid(i, j - i));
        i = j;
    }
    return out;
}

std::vector<int> byTagName(const Tree& t, int root, const QString& tag)
{
    std::vector<int> out;
    if (tag.isEmpty())
        return out;
    const bool all = tag == QLatin1String("*");
    const QString lower = tag.toLower();
    const int end = t.nodes[size_t(root)].end;
    for (int i = root + 1; i < end; ++i) {
        const Node& n = t.nodes[size_t(i)];
        if (n.kind != NodeKind::Element)
            continue;
        if (all || (n.ns == html::Ns::Html ? n.text == lower : n.text == tag))
            out.push_back(i);
    }
    return out;
}

std::vector<int> byClassName(const Tree& t, int root, const QString& names)
{
    std::vector<int> out;
    const QList<QStringView> wanted = splitClasses(names);
    if (wanted.isEmpty())
        return out;
    const int end = t.nodes[size_t(root)].end;
    for (int i = root + 1; i < end; ++i) {
        const Node& n = t.nodes[size_t(i)];
        if (n.kind != NodeKind::Element || n.attrCount == 0)
            continue;
        const Attr* a = t.findAttr(i, u"class");
        if (a && hasAllClasses(a->value, wanted))
            out.push_back(i);
    }
    return out;
}

QString normaliseCharsetLabel(QString label)
{
    label = label.trimmed().toLower();
    label.remove(QLatin1Char('"'));
    label.remove(QLatin1Char('\''));
    if (label.isEmpty())
        return {};
    static const struct {
        const char* label;
        const char* name;
    } aliases[] = {
        {"utf-8", "UTF-8"}, {"utf8", "UTF-8"}, {"unicode-1-1-utf-8", "UTF-8"},
        {"gb2312", "GBK"}, {"gbk", "GBK"}, {"x-gbk", "GBK"}, {"gb_2312-80", "GBK"},
        {"gb_2312", "GBK"}, {"chinese", "GBK"}, {"csgb2312", "GBK"}, {"iso-ir-58", "GBK"},
        {"csiso58gb231280", "GBK"}, {"cp936", "GBK"}, {"windows-936", "GBK"},
        {"gb18030", "GB18030"}, {"big5", "Big5"}, {"big5-hkscs", "Big5"}, {"x-x-big5", "Big5"},
        {"iso-8859-1", "windows-1252"}, {"latin1", "windows-1252"}, {"ascii", "windows-1252"},
        {"us-ascii", "windows-1252"}, {"windows-1252", "windows-1252"}, {"cp1252", "windows-1252"},
        {"utf-16", "UTF-16LE"}, {"utf-16le", "UTF-16LE"}, {"utf-16be", "UTF-16BE"},
    };
    for (const auto& a : aliases)
        if (label == QLatin1String(a.label))
            return QString::fromLatin1(a.name);
    QStringDecoder probe(label.toLatin1().constData());
    return probe.isValid() ? label : QString();
}

QString charsetFromContentType(const QString& contentType)
{
    static const QRegularExpression re(QStringLiteral(R"(charset\s*=\s*["']?\s*([A-Za-z0-9_\-:.]+))"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(contentType);
    return m.hasMatch() ? normaliseCharsetLabel(m.captured(1)) : QString();
}

QString charsetFromMeta(const QByteArray& bytes)
{
    // Only the start of the page is looked at, as browsers do; comments are
    // not skipped, which is good enough for real pages.
    const QString head = QString::fromLatin1(bytes.left(4096));
    static const QRegularExpression re(
        QStringLiteral(R"(<meta\b[^>]*?charset\s*=\s*["']?\s*([A-Za-z0-9_\-:.]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(head);
    if (!m.hasMatch())
        return {};
    QString name = normaliseCharsetLabel(m.captured(1));
    // A page cannot declare itself UTF-16 from inside: bytes that reach a
    // meta tag readable as ASCII are not UTF-16.
    if (name.startsWith(QLatin1String("UTF-16")))
        name = QStringLiteral("UTF-8");
    return name;
}

bool isValidUtf8(const QByteArray& bytes)
{
    return QUtf8StringView(bytes).isValidUtf8();
}

template <typename Text>
bool onlySpaces(const Text& s)
{
    return std::all_of(s.begin(), s.end(), [](auto c) { return c == ' '; });
}

QString decode(const QByteArray& bytes, const QString& charset)
{
    QString text;
    if (charset == QLatin1String("UTF-8")) {
        text = QString::fromUtf8(bytes);
    } else {
        QStringDecoder d(charset.toLatin1().constData());
        text = d.isValid() ? d.decode(bytes) : QString::fromUtf8(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

enum class BodyKind { Html, Text, Binary };

BodyKind bodyKind(const QByteArray& bytes, const QString& contentType)
{
    const QString mime = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (mime.isEmpty() || mime == QLatin1String("text/html") || mime == QLatin1String("application/xhtml+xml")
        || mime == QLatin1String("application/xml") || mime == QLatin1String("text/xml")) {
        // Without a declared type a body with NUL bytes near the start is a
        // file, not a page.
        if (mime.isEmpty() && bytes.left(1024).contains('\0'))
            return BodyKind::Binary;
        return BodyKind::Html;
    }
    if (mime.startsWith(QLatin1String("text/")) || mime == QLatin1String("application/json")
        || mime == QLatin1String("application/javascript"))
        return BodyKind::Text;
    return BodyKind::Binary;
}

QString escapeText(const QString& s)
{
    QString out;
    out.reserve(s.size() + 16);
    for (QChar c : s) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- Document

Document::Document() : m_tree(std::make_unique<Tree>()) {}
Document::~Document() = default;

QString Document::detectCharset(const QByteArray& bytes, const QString& contentType)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QStringLiteral("UTF-8");
    if (bytes.startsWith("\xFF\xFE"))
        return QStringLiteral("UTF-16LE");
    if (bytes.startsWith("\xFE\xFF"))
        return QStringLiteral("UTF-16BE");
    QString cs = charsetFromContentType(contentType);
    if (cs.isEmpty())
        cs = charsetFromMeta(bytes);
    if (cs.isEmpty())
        cs = isValidUtf8(bytes) ? QStringLiteral("UTF-8") : QStringLiteral("GBK");
    return cs;
}

std::shared_ptr<Document> Document::parse(const QByteArray& bytes, const QUrl& url,
                                          const QString& contentType, DocumentOrigin origin)
{
    std::shared_ptr<Document> doc(new Document);
    doc->m_url = url;
    doc->m_contentType = contentType;
    doc->m_origin = std::move(origin);
    switch (bodyKind(bytes, contentType)) {
    case BodyKind::Html:
        doc->m_charset = detectCharset(bytes, contentType);
        if (doc->m_charset == QLatin1String("UTF-8") && isValidUtf8(bytes)) {
            // Valid UTF-8 decodes and encodes back to the very same bytes, less
            // the byte-order marks decode() drops (the decoder's and one more):
            // the parser reads the body itself instead of two copies of it.
            qsizetype skip = 0;
            while (skip < 6 && bytes.size() >= skip + 3 && std::memcmp(bytes.constData() + skip, "\xEF\xBB\xBF", 3) == 0)
                skip += 3;
            const QByteArray utf8 =
                skip ? QByteArray::fromRawData(bytes.constData() + skip, bytes.size() - skip) : bytes;
            doc->m_sourceBlank = onlySpaces(utf8);
            doc->build(utf8);
        } else {
            QString text = decode(bytes, doc->m_charset);
            doc->m_sourceBlank = onlySpaces(text);
            const QByteArray utf8 = std::exchange(text, QString()).toUtf8();
            doc->build(utf8);
        }
        break;
    case BodyKind::Text: {
        // Shown as a browser shows plain text: one preformatted block.
        doc->m_charset = detectCharset(bytes, contentType);
        QString text = decode(bytes, doc->m_charset);
        doc->m_sourceBlank = onlySpaces(text);
        const QByteArray utf8 = (QStringLiteral("<html><head></head><body><pre>") + escapeText(std::exchange(text, QString()))
                                 + QStringLiteral("</pre></body></html>")).toUtf8();
        doc->build(utf8);
        break;
    }
    case BodyKind::Binary:
        doc->m_charset = QStringLiteral("UTF-8");
        doc->build(QByteArray());
        break;
    }
    return doc;
}

std::shared_ptr<Document> Document::fromHtml(const QString& html, const QUrl& url, const QString& charset,
                                             DocumentOrigin origin)
{
    std::shared_ptr<Document> doc(new Document);
    doc->m_url = url;
    doc->m_charset = charset.isEmpty() ? QStringLiteral("UTF-8") : charset;
    doc->m_origin = std::move(origin);
    doc->m_sourceBlank = onlySpaces(html);
    doc->build(html.toUtf8());
    return doc;
}

std::shared_ptr<Document> Document::blank(const QUrl& url, DocumentOrigin origin)
{
    return fromHtml(QString(), url, QStringLiteral("UTF-8"), std::move(origin));
}

void Document::build(const QByteArray& markup)
{
    *m_tree = Tree{};
    m_baseUrl = m_url;
    html::BoundedMarkup bounded =
        html::boundMarkup(markup, limits().maxNesting, limits().maxAttributes, limits().maxPageNodes);
    if (bounded.tooManyNodes) {
        m_tooManyNodes = true;
        m_tree->nodes.push_back(Node{NodeKind::Document, html::Ns::Html, 0, -1, 1, 0, 0, {}});
        return;
    }
    // The scan's count bounds the table (give or take the elements the parser
    // adds itself): reserved room that is never written costs no memory, while
    // growing by doubling would hold the old and the new table at once.
    m_tree->nodes.reserve(size_t(bounded.nodes) + 16);
    {
        const QByteArray utf8 = std::exchange(bounded.utf8, QByteArray());
        // The scan's count follows the parser closely but not in every
        // misnested corner, so the parser's own memory is capped too, at
        // what the node budget allows: its nodes take 130 to 190 bytes each
        // on real pages, long texts and attribute values up to three times
        // their size while their buffers grow.
        constexpr size_t kBytesPerNode = 320;
        const qint64 maxNodes = limits().maxPageNodes;
        Arena arena(maxNodes < 0 ? SIZE_MAX
                                 : size_t(2) * 1024 * 1024 + size_t(maxNodes) * kBytesPerNode + size_t(utf8.size()) * 3);
        GumboOptions opts = kGumboDefaultOptions;
        opts.allocator = &Arena::alloc;
        opts.deallocator = &Arena::dealloc;
        opts.userdata = &arena;
        opts.max_errors = 0;
        GumboOutput* out = nullptr;
        try {
            out = gumbo_parse_with_options(&opts, utf8.constData(), size_t(utf8.size()));
        } catch (const ArenaFull&) {
            m_tooManyNodes = true;
        }
        if (out) {
            if (out->document->type == GUMBO_NODE_DOCUMENT && out->document->v.document.has_doctype)
                m_tree->doctypeName = fromPiece(out->document->v.document.name);
            convert(out->document, *m_tree);
        }
        // The no-recursion arena is freed with `arena`, right here, before
        // anything else is made of the page; gumbo_destroy_output is
        // deliberately not called.
    }
    if (m_tooManyNodes)
        *m_tree = Tree{};
    // Never leave the table empty: callers rely on a document node.
    if (m_tree->nodes.empty())
        m_tree->nodes.push_back(Node{NodeKind::Document, html::Ns::Html, 0, -1, 1, 0, 0, {}});

    for (int i : byTagName(*m_tree, 0, QStringLiteral("base"))) {
        if (const Attr* a = m_tree->findAttr(i, u"href")) {
            const QUrl b = m_url.resolved(QUrl(a->value.trimmed()));
            if (b.isValid() && !b.isRelative())
                m_baseUrl = b;
            break;
        }
    }
}

bool Document::outerHTMLContains(QStringView text, Qt::CaseSensitivity cs) const
{
    if (text.isEmpty())
        return true;
    if (m_tree->documentElement < 0)
        return false;
    // Each piece is searched together with the end of the one before, so a
    // match across the seam is found too.
    QString carry;
    bool found = false;
    htmltext::serializePieces(*m_tree, m_tree->documentElement, true, [&](QString& piece) {
        carry += piece;
        piece.clear();
        if (carry.contains(text, cs)) {
            found = true;
            return false;
        }
        carry.remove(0, std::max<qsizetype>(0, carry.size() - (text.size() - 1)));
        return true;
    });
    return found;
}

int Document::elementCount() const
{
    return int(std::count_if(m_tree->nodes.begin(), m_tree->nodes.end(),
                             [](const Node& n) { return n.kind == NodeKind::Element; }));
}

QString Document::title() const
{
    for (int i : byTagName(*m_tree, 0, QStringLiteral("title"))) {
        if (m_tree->nodes[size_t(i)].ns != html::Ns::Html)
            continue;
        return htmltext::collapseWhitespace(htmltext::textContent(*m_tree, i));
    }
    return {};
}

QString Document::outerHTML() const
{
    return m_tree->documentElement >= 0 ? htmltext::serialize(*m_tree, m_tree->documentElement, true) : QString();
}

Element Document::documentElement() const
{
    if (m_tree->documentElement < 0)
        return {};
    return Element(shared_from_this(), m_tree->documentElement);
}

Element Document::body() const
{
    const int root = m_tree->documentElement;
    if (root < 0)
        return {};
    for (int c = m_tree->firstElementChild(root); c >= 0; c = m_tree->nextElementSibling(c)) {
        const Node& n = m_tree->nodes[size_t(c)];
        if (n.text == QLatin1String("body") || n.text == QLatin1String("frameset"))
            return Element(shared_from_this(), c);
    }
    return {};
}

Element Document::head() const
{
    const int root = m_tree->documentElement;
    if (root < 0)
        return {};
    for (int c = m_tree->firstElementChild(root); c >= 0; c = m_tree->nextElementSibling(c))
        if (m_tree->nodes[size_t(c)].text == QLatin1String("head"))
            return Element(shared_from_this(), c);
    return {};
}

ElementCollection Document::getElementsByTagName(const QString& tag) const
{
    return ElementCollection(shared_from_this(), byTagName(*m_tree, 0, tag));
}

ElementCollection Document::getElementsByClassName(const QString& names) const
{
    return ElementCollection(shared_from_this(), byClassName(*m_tree, 0, names));
}

Element Document::getElementById(const QString& id) const
{
    if (id.isEmpty())
        return {};
    const int end = int(m_tree->nodes.size());
    for (int i = 1; i < end; ++i) {
        const Node& n = m_tree->nodes[size_t(i)];
        if (n.kind != NodeKind::Element || n.attrCount == 0)
            continue;
        const Attr* a = m_tree->findAttr(i, u"id");
        if (a && a->value == id)
            return Element(shared_from_this(), i);
    }
    return {};
}

ElementCollection Document::getElementsByName(const QString& name) const
{
    std::vector<int> out;
    const int end = int(m_tree->nodes.size());
    for (int i = 1; i < end; ++i) {
        const Node& n = m_tree->nodes[size_t(i)];
        if (n.kind != NodeKind::Element || n.attrCount == 0)
            continue;
        const Attr* a = m_tree->findAttr(i, u"name");
        if (a && a->value == name)
            out.push_back(i);
    }
    return ElementCollection(shared_from_this(), std::move(out));
}

Element Document::elementAtPath(const QList<int>& path) const
{
    int cur = m_tree->documentElement;
    if (cur < 0)
        return {};
    for (int step : path) {
        if (step < 0)
            return {};
        int c = m_tree->firstElementChild(cur);
        for (int k = 0; k < step && c >= 0; ++k)
            c = m_tree->nextElementSibling(c);
        if (c < 0)
            return {};
        cur = c;
    }
    return Element(shared_from_this(), cur);
}

Element Document::elementAt(int node) const
{
    if (node <= 0 || node >= int(m_tree->nodes.size()) || m_tree->nodes[size_t(node)].kind != NodeKind::Element)
        return {};
    return Element(shared_from_this(), node);
}

// ---------------------------------------------------------- collections

Element ElementCollection::item(int index) const
{
    if (index < 0 || index >= length())
        return {};
    return Element(m_doc, m_nodes[size_t(index)]);
}

// --------------------------------------------------------------- Element

namespace {

bool isHtml(const Node& n, const char* name)
{
    return n.kind == NodeKind::Element && n.ns == html::Ns::Html && n.text == QLatin1String(name);
}

QString resolveAgainst(const QUrl& base, const QString& raw)
{
    // Browsers strip surrounding ASCII white space and drop tabs and line
    // breaks inside an address.
    QString ref = raw.trimmed();
    ref.remove(QLatin1Char('\t'));
    ref.remove(QLatin1Char('\n'));
    ref.remove(QLatin1Char('\r'));
    QUrl target(ref, QUrl::TolerantMode);
    QUrl abs = base.isValid() && !base.isRelative() ? base.resolved(target) : target;
    if (ref.isEmpty() && base.isValid())
        abs = base.adjusted(QUrl::RemoveFragment);
    if (!abs.isValid())
        return ref;
    return abs.toString(QUrl::FullyEncoded);
}

} // namespace

QString Element::tagName() const
{
    if (!m_doc)
        return {};
    const Node& n = m_doc->tree().nodes[size_t(m_node)];
    return n.ns == html::Ns::Html ? n.text.toUpper() : n.text;
}

QString Element::getAttribute(const QString& name) const
{
    if (!m_doc)
        return {};
    const Attr* a = m_doc->tree().findAttr(m_node, name.toLower());
    return a ? a->value : QString();
}

bool Element::hasAttribute(const QString& name) const
{
    return m_doc && m_doc->tree().findAttr(m_node, name.toLower()) != nullptr;
}

QString Element::id() const { return getAttribute(QStringLiteral("id")); }
QString Element::className() const { return getAttribute(QStringLiteral("class")); }
QString Element::name() const { return getAttribute(QStringLiteral("name")); }

QString Element::type() const
{
    if (!m_doc)
        return {};
    const Node& n = m_doc->tree().nodes[size_t(m_node)];
    const QString raw = getAttribute(QStringLiteral("type"));
    if (isHtml(n, "input")) {
        static const QStringList known = {
            QStringLiteral("hidden"), QStringLiteral("text"), QStringLiteral("search"),
            QStringLiteral("tel"), QStringLiteral("url"), QStringLiteral("email"),
            QStringLiteral("password"), QStringLiteral("date"), QStringLiteral("month"),
            QStringLiteral("week"), QStringLiteral("time"), QStringLiteral("datetime-local"),
            QStringLiteral("number"), QStringLiteral("range"), QStringLiteral("color"),
            QStringLiteral("checkbox"), QStringLiteral("radio"), QStringLiteral("file"),
            QStringLiteral("submit"), QStringLiteral("image"), QStringLiteral("reset"),
            QStringLiteral("button")};
        const QString t = raw.trimmed().toLower();
        return known.contains(t) ? t : QStringLiteral("text");
    }
    if (isHtml(n, "button")) {
        const QString t = raw.trimmed().toLower();
        return (t == QLatin1String("reset") || t == QLatin1String("button")) ? t : QStringLiteral("submit");
    }
    if (isHtml(n, "select"))
        return hasAttribute(QStringLiteral("multiple")) ? QStringLiteral("select-multiple")
                                                         : QStringLiteral("select-one");
    if (isHtml(n, "textarea"))
        return QStringLiteral("textarea");
    return raw;
}

QString Element::value() const
{
    if (!m_doc)
        return {};
    const auto& ov = m_doc->valueOverrides();
    if (auto it = ov.find(m_node); it != ov.end())
        return it->second;
    const Tree& t = m_doc->tree();
    const Node& n = t.nodes[size_t(m_node)];
    if (isHtml(n, "textarea"))
        return htmltext::textContent(t, m_node);
    if (isHtml(n, "option")) {
        if (hasAttribute(QStringLiteral("value")))
            return getAttribute(QStringLiteral("value"));
        return htmltext::collapseWhitespace(htmltext::textContent(t, m_node));
    }
    if (isHtml(n, "select")) {
        const ElementCollection options = getElementsByTagName(QStringLiteral("option"));
        for (const Element& o : options)
            if (o.checked())
                return o.value();
        if (type() == QLatin1String("select-one") && getAttribute(QStringLiteral("size")).toInt() <= 1)
            for (const Element& o : options)
                if (!o.disabled())
                    return o.value();
        return {};
    }
    if (isHtml(n, "input")) {
        const QString t = type();
        if ((t == QLatin1String("checkbox") || t == QLatin1String("radio")) && !hasAttribute(QStringLiteral("value")))
            return QStringLiteral("on");
    }
    return getAttribute(QStringLiteral("value"));
}

bool Element::checked() const
{
    if (!m_doc)
        return false;
    const auto& ov = m_doc->checkedOverrides();
    if (auto it = ov.find(m_node); it != ov.end())
        return it->second;
    const Node& n = m_doc->tree().nodes[size_t(m_node)];
    if (isHtml(n, "option"))
        return hasAttribute(QStringLiteral("selected"));
    return hasAttribute(QStringLiteral("checked"));
}

bool Element::disabled() const
{
    if (!m_doc)
        return false;
    if (hasAttribute(QStringLiteral("disabled")))
        return true;
    // Controls inside a disabled fieldset are disabled too.
    for (Element p = parentElement(); !p.isNull(); p = p.parentElement())
        if (p.tagName() == QLatin1String("FIELDSET") && p.hasAttribute(QStringLiteral("disabled")))
            return true;
    return false;
}

QString Element::innerText() const
{
    return m_doc ? htmltext::innerText(m_doc->tree(), m_node) : QString();
}

QString Element::textContent() const
{
    return m_doc ? htmltext::textContent(m_doc->tree(), m_node) : QString();
}

QString Element::outerHTML() const
{
    return m_doc ? htmltext::serialize(m_doc->tree(), m_node, true) : QString();
}

QString Element::href() const
{
    if (!m_doc)
        return {};
    const Node& n = m_doc->tree().nodes[size_t(m_node)];
    if (isHtml(n, "base")) {
        const Attr* a = m_doc->tree().findAttr(m_node, u"href");
        return a ? resolveAgainst(m_doc->url(), a->value) : QString();
    }
    if (!(isHtml(n, "a") || isHtml(n, "area") || isHtml(n, "link")))
        return {};
    return resolvedAttribute(QStringLiteral("href"));
}

QString Element::resolvedAttribute(const QString& name) const
{
    if (!m_doc)
        return {};
    const Attr* a = m_doc->tree().findAttr(m_node, name.toLower());
    if (!a)
        return {};
    return resolveAgainst(m_doc->baseUrl(), a->value);
}

ElementCollection Element::getElementsByTagName(const QString& tag) const
{
    if (!m_doc)
        return {};
    return ElementCollection(m_doc, byTagName(m_doc->tree(), m_node, tag));
}

ElementCollection Element::getElementsByClassName(const QString& names) const
{
    if (!m_doc)
        return {};
    return ElementCollection(m_doc, byClassName(m_doc->tree(), m_node, names));
}

ElementCollection Element::children() const
{
    if (!m_doc)
        return {};
    std::vector<int> out;
    const Tree& t = m_doc->tree();
    for (int c = t.firstElementChild(m_node); c >= 0; c = t.nextElementSibling(c))
        out.push_back(c);
    return ElementCollection(m_doc, std::move(out));
}

ElementCollection Element::querySelectorAll(const QString& selectors) const
{
    const auto list = css::SelectorList::parse(selectors);
    return list ? querySelectorAll(*list) : ElementCollection();
}

ElementCollection Element::querySelectorAll(const css::SelectorList& selectors) const
{
    if (!m_doc)
        return {};
    return ElementCollection(m_doc, selectors.match(m_doc->tree(), m_node));
}

Element Element::querySelector(const QString& selectors) const
{
    const auto list = css::SelectorList::parse(selectors);
    return list ? querySelector(*list) : Element();
}

Element Element::querySelector(const css::SelectorList& selectors) const
{
    if (!m_doc)
        return {};
    const int node = selectors.first(m_doc->tree(), m_node);
    return node < 0 ? Element() : Element(m_doc, node);
}

bool Element::matches(const css::SelectorList& selectors) const
{
    return m_doc && selectors.matches(m_doc->tree(), m_node);
}

ElementCollection Document::querySelectorAll(const QString& selectors) const
{
    const auto list = css::SelectorList::parse(selectors);
    return list ? querySelectorAll(*list) : ElementCollection();
}

ElementCollection Document::querySelectorAll(const css::SelectorList& selectors) const
{
    return ElementCollection(shared_from_this(), selectors.match(*m_tree, 0));
}

Element Document::querySelector(const QString& selectors) const
{
    const auto list = css::SelectorList::parse(selectors);
    return list ? querySelector(*list) : Element();
}

Element Document::querySelector(const css::SelectorList& selectors) const
{
    const int node = selectors.first(*m_tree, 0);
    return node < 0 ? Element() : Element(shared_from_this(), node);
}

Element Element::parentElement() const
{
    if (!m_doc)
        return {};
    const int p = m_doc->tree().nodes[size_t(m_node)].parent;
    if (p <= 0 || m_doc->tree().nodes[size_t(p)].kind != NodeKind::Element)
        return {};
    return Element(m_doc, p);
}

Element Element::form() const
{
    if (!m_doc)
        return {};
    const QString owner = getAttribute(QStringLiteral("form"));
    if (!owner.isEmpty()) {
        Element f = m_doc->getElementById(owner);
        if (!f.isNull() && f.tagName() == QLatin1String("FORM"))
            return f;
    }
    for (Element p = parentElement(); !p.isNull(); p = p.parentElement())
        if (p.tagName() == QLatin1String("FORM"))
            return p;
    return {};
}

QList<int> Element::indexPath() const
{
    QList<int> path;
    if (!m_doc)
        return path;
    const Tree& t = m_doc->tree();
    int cur = m_node;
    while (cur != t.documentElement && cur > 0) {
        const int parent = t.nodes[size_t(cur)].parent;
        if (parent <= 0)
            return {};  // not below documentElement
        int k = 0;
        for (int c = t.firstElementChild(parent); c >= 0 && c != cur; c = t.nextElementSibling(c))
            ++k;
        path.prepend(k);
        cur = parent;
    }
    return path;
}

bool Element::click() const
{
    if (!m_doc || !m_doc->origin().browser)
        return false;
    return m_doc->origin().browser->elementClick(*m_doc, m_node);
}

bool Element::setValue(const QString& text) const
{
    if (!m_doc)
        return false;
    // The snapshot reflects the write even without a browser, so value()
    // reads back what was set, as in a live page.
    m_doc->setValueOverride(m_node, text);
    if (!m_doc->origin().browser)
        return false;
    return m_doc->origin().browser->elementSetValue(*m_doc, m_node, text);
}

} // namespace dh
