#include "html/Selector.h"

#include "html/DocumentTree.h"

#include <QHash>

#include <cstdint>

namespace dh::css {

using html::Node;
using html::NodeKind;
using html::Tree;

namespace {

enum class AttrOp { Exists, Equals, Includes, Prefix, Suffix, Contains };

struct Simple {
    enum Kind { Type, Universal, Class, Id, Attribute, FirstChild, NthOfType, Not } kind = Universal;
    QString name;   // type (lower-case), attribute name (lower-case)
    QString value;  // class, id, attribute value
    AttrOp op = AttrOp::Exists;
    int n = 0;                      // :nth-of-type
    std::shared_ptr<Simple> inner;  // :not
};

enum class Combinator { Descendant, Child };

// Longer selectors are refused: each compound is one bit of a 64-bit mask.
constexpr int kMaxCompounds = 64;

bool isAsciiSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'_' || c.unicode() >= 0x80;
}

bool hasToken(QStringView list, QStringView token)
{
    if (token.isEmpty())
        return false;
    qsizetype i = 0;
    const qsizetype n = list.size();
    while (i < n) {
        while (i < n && isAsciiSpace(list[i]))
            ++i;
        const qsizetype start = i;
        while (i < n && !isAsciiSpace(list[i]))
            ++i;
        if (i > start && list.mid(start, i - start) == token)
            return true;
    }
    return false;
}

// The element's place among its parent's element children.
struct Position {
    bool first = false;
    int ofType = 0;  // 1-based among siblings of the same name
};

Position scanPosition(const Tree& t, int node)
{
    Position p;
    const int parent = t.nodes[size_t(node)].parent;
    if (parent < 0)
        return p;
    const QString& name = t.nodes[size_t(node)].text;
    bool seenElement = false;
    for (int c = t.firstElementChild(parent); c >= 0; c = t.nextElementSibling(c)) {
        if (c == node) {
            p.first = !seenElement;
            ++p.ofType;
            break;
        }
        seenElement = true;
        if (t.nodes[size_t(c)].text == name)
            ++p.ofType;
    }
    return p;
}

bool matchSimple(const Simple& s, const Tree& t, int node, const Position& pos)
{
    const Node& n = t.nodes[size_t(node)];
    switch (s.kind) {
    case Simple::Universal:
        return true;
    case Simple::Type:
        return n.text.compare(s.name, Qt::CaseInsensitive) == 0;
    case Simple::Class: {
        const html::Attr* a = t.findAttr(node, u"class");
        return a && hasToken(a->value, s.value);
    }
    case Simple::Id: {
        const html::Attr* a = t.findAttr(node, u"id");
        return a && a->value == s.value;
    }
    case Simple::Attribute: {
        const html::Attr* a = t.findAttr(node, s.name);
        if (!a)
            return false;
        switch (s.op) {
        case AttrOp::Exists:
            return true;
        case AttrOp::Equals:
            return a->value == s.value;
        case AttrOp::Includes:
            return hasToken(a->value, s.value);
        case AttrOp::Prefix:
            return !s.value.isEmpty() && a->value.startsWith(s.value);
        case AttrOp::Suffix:
            return !s.value.isEmpty() && a->value.endsWith(s.value);
        case AttrOp::Contains:
            return !s.value.isEmpty() && a->value.contains(s.value);
        }
        return false;
    }
    case Simple::FirstChild:
        return pos.first;
    case Simple::NthOfType:
        return pos.ofType == s.n;
    case Simple::Not:
        return !matchSimple(*s.inner, t, node, pos);
    }
    return false;
}

bool needsPosition(const Simple& s)
{
    return s.kind == Simple::FirstChild || s.kind == Simple::NthOfType || (s.inner && needsPosition(*s.inner));
}

class Parser {
public:
    explicit Parser(QStringView text) : m_s(text) {}

    bool atEnd() const { return m_i >= m_s.size(); }
    QChar peek() const { return atEnd() ? QChar() : m_s[m_i]; }
    void skipSpaces()
    {
        while (!atEnd() && isAsciiSpace(m_s[m_i]))
            ++m_i;
    }
    bool fail(const QString& what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("%1 at position %2").arg(what).arg(m_i + 1);
        return false;
    }
    QString error() const { return m_error; }
    qsizetype pos() const { return m_i; }
    void advance() { ++m_i; }
    // Steps over c, or fails saying it was expected.
    bool expect(char16_t c)
    {
        if (peek() != QChar(c))
            return fail(QStringLiteral("expected '%1'").arg(QChar(c)));
        ++m_i;
        return true;
    }

    QString name()
    {
        const qsizetype start = m_i;
        while (!atEnd() && isNameChar(m_s[m_i]))
            ++m_i;
        return m_s.mid(start, m_i - start).toString();
    }

    bool value(QString* out)
    {
        const QChar q = peek();
        if (q == u'"' || q == u'\'') {
            const qsizetype close = m_s.indexOf(q, m_i + 1);
            if (close < 0)
                return fail(QStringLiteral("unterminated quoted value"));
            *out = m_s.mid(m_i + 1, close - m_i - 1).toString();
            m_i = close + 1;
            return true;
        }
        *out = name();
        if (out->isEmpty())
            return fail(QStringLiteral("expected a value"));
        return true;
    }

    // One simple selector; false (with an error) when there is none here.
    bool simple(Simple* s, bool allowNot)
    {
        const QChar c = peek();
        if (c == u'*') {
            ++m_i;
            s->kind = Simple::Universal;
            return true;
        }
        if (c == u'.' || c == u'#') {
            ++m_i;
            s->kind = c == u'.' ? Simple::Class : Simple::Id;
            s->value = name();
            return s->value.isEmpty() ? fail(QStringLiteral("expected a name after '%1'").arg(c)) : true;
        }
        if (c == u'[')
            return attribute(s);
        if (c == u':')
            return pseudo(s, allowNot);
        if (!atEnd() && isNameChar(c)) {
            s->kind = Simple::Type;
            s->name = name().toLower();
            return true;
        }
        return fail(atEnd() ? QStringLiteral("expected a selector") : QStringLiteral("unexpected '%1'").arg(c));
    }

    bool attribute(Simple* s)
    {
        ++m_i;  // [
        skipSpaces();
        s->kind = Simple::Attribute;
        s->name = name().toLower();
        if (s->name.isEmpty())
            return fail(QStringLiteral("expected an attribute name"));
        skipSpaces();
        if (atEnd())
            return fail(QStringLiteral("expected ']'"));
        if (peek() == u']') {
            ++m_i;
            return true;
        }
        static const struct {
            char16_t first;
            AttrOp op;
        } ops[] = {{u'~', AttrOp::Includes}, {u'^', AttrOp::Prefix}, {u'$', AttrOp::Suffix}, {u'*', AttrOp::Contains}};
        s->op = AttrOp::Equals;
        if (peek() != u'=') {
            bool known = false;
            for (const auto& o : ops) {
                if (peek() == QChar(o.first)) {
                    s->op = o.op;
                    known = true;
                }
            }
            if (!known)
                return fail(QStringLiteral("unknown attribute operator"));
            ++m_i;
        }
        if (!expect(u'='))
            return false;
        skipSpaces();
        if (!value(&s->value))
            return false;
        skipSpaces();
        return expect(u']');
    }

    bool pseudo(Simple* s, bool allowNot)
    {
        ++m_i;  // :
        const QString p = name().toLower();
        if (p == QLatin1String("first-child")) {
            s->kind = Simple::FirstChild;
            return true;
        }
        if (p == QLatin1String("nth-of-type")) {
            if (!expect(u'('))
                return false;
            skipSpaces();
            bool ok = false;
            s->n = name().toInt(&ok);
            if (!ok || s->n < 1)
                return fail(QStringLiteral("expected a whole number from 1"));
            skipSpaces();
            s->kind = Simple::NthOfType;
            return expect(u')');
        }
        if (p == QLatin1String("not")) {
            if (!allowNot)
                return fail(QStringLiteral(":not cannot be nested"));
            if (!expect(u'('))
                return false;
            skipSpaces();
            s->kind = Simple::Not;
            s->inner = std::make_shared<Simple>();
            if (!simple(s->inner.get(), false))
                return false;
            skipSpaces();
            return expect(u')');
        }
        return fail(p.isEmpty() ? QStringLiteral("expected a pseudo-class")
                                : QStringLiteral("unsupported pseudo-class ':%1'").arg(p));
    }

private:
    QStringView m_s;
    qsizetype m_i = 0;
    QString m_error;
};

} // namespace

struct ComplexSelector {
    std::vector<std::vector<Simple>> compounds;
    std::vector<Combinator> combinators;  // [k] joins compound k - 1 and k; [0] unused
    bool positional = false;
    QString text;

    bool compoundMatches(int k, const Tree& t, int node, const Position& pos) const
    {
        for (const Simple& s : compounds[size_t(k)])
            if (!matchSimple(s, t, node, pos))
                return false;
        return true;
    }

    // Bit k: compounds 0..k match with compound k on node, given the bits of
    // its parent (exact) and of all its proper ancestors (above).
    std::uint64_t exactBits(const Tree& t, int node, const Position& pos, std::uint64_t parentExact,
                            std::uint64_t above) const
    {
        std::uint64_t bits = 0;
        for (int k = 0; k < int(compounds.size()); ++k) {
            if (k > 0) {
                const std::uint64_t need = std::uint64_t(1) << (k - 1);
                const std::uint64_t have =
                    combinators[size_t(k)] == Combinator::Child ? parentExact : (above | parentExact);
                if (!(have & need))
                    continue;
            }
            if (compoundMatches(k, t, node, pos))
                bits |= std::uint64_t(1) << k;
        }
        return bits;
    }
    std::uint64_t lastBit() const { return std::uint64_t(1) << (compounds.size() - 1); }

    // The bits of node itself (exact) and of its proper ancestors (above),
    // walked down from the top of the page.
    void bitsAt(const Tree& t, int node, std::uint64_t* exact, std::uint64_t* above) const
    {
        std::vector<int> chain;
        for (int a = node; a >= 0 && t.nodes[size_t(a)].kind == NodeKind::Element; a = t.nodes[size_t(a)].parent)
            chain.push_back(a);
        std::uint64_t parentExact = 0, parentAbove = 0;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const Position pos = positional ? scanPosition(t, *it) : Position{};
            const std::uint64_t e = exactBits(t, *it, pos, parentExact, parentAbove);
            parentAbove |= parentExact;
            parentExact = e;
        }
        *exact = parentExact;
        *above = parentAbove;
    }
};

std::optional<SelectorList> SelectorList::parse(QStringView text, QString* error)
{
    Parser p(text);
    SelectorList list;
    auto refuse = [&](const QString& why) -> std::optional<SelectorList> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    p.skipSpaces();
    while (true) {
        auto sel = std::make_shared<ComplexSelector>();
        const qsizetype start = p.pos();
        Combinator pending = Combinator::Descendant;
        while (true) {
            std::vector<Simple> compound;
            while (!p.atEnd() && !isAsciiSpace(p.peek()) && p.peek() != u',' && p.peek() != u'>') {
                Simple s;
                if (!p.simple(&s, true))
                    return refuse(p.error());
                compound.push_back(std::move(s));
            }
            if (compound.empty()) {
                p.fail(QStringLiteral("expected a selector"));
                return refuse(p.error());
            }
            for (const Simple& s : compound)
                sel->positional = sel->positional || needsPosition(s);
            sel->combinators.push_back(pending);
            sel->compounds.push_back(std::move(compound));
            if (int(sel->compounds.size()) > kMaxCompounds)
                return refuse(QStringLiteral("selector longer than %1 parts").arg(kMaxCompounds));
            p.skipSpaces();
            if (p.atEnd() || p.peek() == u',')
                break;
            pending = Combinator::Descendant;
            if (p.peek() == u'>') {
                pending = Combinator::Child;
                p.advance();
                p.skipSpaces();
            }
        }
        sel->text = text.mid(start, p.pos() - start).trimmed().toString();
        list.m_selectors.push_back(std::move(sel));
        if (p.atEnd())
            break;
        p.advance();  // ,
        p.skipSpaces();
    }
    return list;
}

std::vector<int> SelectorList::run(const Tree& t, int scope, bool firstOnly) const
{
    std::vector<int> out;
    if (m_selectors.empty() || scope < 0 || size_t(scope) >= t.nodes.size())
        return out;
    const int end = t.nodes[size_t(scope)].end;
    const size_t count = m_selectors.size();
    const size_t span = size_t(end - scope);
    bool positional = false;
    for (const auto& s : m_selectors)
        positional = positional || s->positional;

    // Bits per node of the scope (index node - scope), one pair per selector.
    std::vector<std::uint64_t> exact(span * count, 0), above(span * count, 0);

    // The scope's own bits come from the chain of its ancestors.
    for (size_t s = 0; s < count; ++s)
        m_selectors[s]->bitsAt(t, scope, &exact[s], &above[s]);

    std::vector<int> firstChild;  // per parent in the scope: its first element child, -2 unknown
    QHash<QPair<int, QString>, int> ofType;
    if (positional)
        firstChild.assign(span, -2);
    for (int i = scope + 1; i < end; ++i) {
        const Node& n = t.nodes[size_t(i)];
        if (n.kind != NodeKind::Element)
            continue;
        const size_t pi = size_t(n.parent - scope);
        Position pos;
        if (positional) {
            if (firstChild[pi] == -2)
                firstChild[pi] = t.firstElementChild(n.parent);
            pos.first = firstChild[pi] == i;
            pos.ofType = ++ofType[qMakePair(n.parent, n.text)];
        }
        const size_t ii = size_t(i - scope);
        bool hit = false;
        for (size_t s = 0; s < count; ++s) {
            const std::uint64_t pe = exact[pi * count + s];
            const std::uint64_t pa = above[pi * count + s];
            above[ii * count + s] = pa | pe;
            const std::uint64_t e = m_selectors[s]->exactBits(t, i, pos, pe, pa);
            exact[ii * count + s] = e;
            hit = hit || (e & m_selectors[s]->lastBit());
        }
        if (hit) {
            out.push_back(i);
            if (firstOnly)
                break;
        }
    }
    return out;
}

std::vector<int> SelectorList::match(const Tree& t, int scope) const
{
    return run(t, scope, false);
}

int SelectorList::first(const Tree& t, int scope) const
{
    const std::vector<int> r = run(t, scope, true);
    return r.empty() ? -1 : r.front();
}

bool SelectorList::matches(const Tree& t, int node) const
{
    if (node < 0 || size_t(node) >= t.nodes.size() || t.nodes[size_t(node)].kind != NodeKind::Element)
        return false;
    for (const auto& sel : m_selectors) {
        std::uint64_t exact = 0, above = 0;
        sel->bitsAt(t, node, &exact, &above);
        if (exact & sel->lastBit())
            return true;
    }
    return false;
}

} // namespace dh::css
