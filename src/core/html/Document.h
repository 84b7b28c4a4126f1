#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>
#include <unordered_map>
#include <vector>

namespace dh {

class Document;
class ElementCollection;

namespace html {
struct Tree;  // the parsed node table (DocumentTree.h)
}
namespace css {
class SelectorList;  // platform/Selector.h
}

// One element of a Document. A cheap value: a shared reference to the
// document plus the element's position in it, so it stays valid for as long
// as anyone holds it, even after the browser has moved on. A default
// constructed (or failed lookup) element is null; every getter of a null
// element answers an empty text and every action answers false.
class Element {
public:
    Element() = default;

    bool isNull() const { return !m_doc; }
    explicit operator bool() const { return !isNull(); }

    // Upper-case name for HTML elements ("H3", "A"), as the DOM reports it.
    QString tagName() const;
    QString id() const;
    QString className() const;
    QString name() const;
    // input: the type attribute lower-cased, "text" when missing or unknown;
    // button: "submit" by default; select: "select-one"/"select-multiple";
    // textarea: "textarea"; anything else: the raw attribute.
    QString type() const;
    // The current value: what setValue() wrote, else the markup's value
    // (input/button attribute, textarea text, select's selected option).
    QString value() const;
    bool checked() const;  // checkbox/radio state (markup or after click())
    bool disabled() const;
    QString getAttribute(const QString& name) const;  // empty when missing
    bool hasAttribute(const QString& name) const;

    // Rendered text: collapsed white space, line breaks for <br> and block
    // boundaries, nothing from script/style/template/hidden content,
    // entities decoded.
    QString innerText() const;
    QString textContent() const;
    QString outerHTML() const;
    // Absolute address of a/area/link/base (against <base href> and the
    // document URL); empty for other elements and for a missing href.
    QString href() const;
    // Same resolution for any attribute that holds an address (src, action).
    QString resolvedAttribute(const QString& name) const;

    ElementCollection getElementsByTagName(const QString& tag) const;
    ElementCollection getElementsByClassName(const QString& names) const;
    ElementCollection children() const;
    // CSS selectors (platform/Selector.h): matching elements below this one,
    // in document order. A selector that does not parse matches nothing.
    ElementCollection querySelectorAll(const QString& selectors) const;
    ElementCollection querySelectorAll(const css::SelectorList& selectors) const;
    Element querySelector(const QString& selectors) const;
    Element querySelector(const css::SelectorList& selectors) const;
    bool matches(const css::SelectorList& selectors) const;
    Element parentElement() const;
    Element form() const;  // form owner of a control, null if none

    // Position among the element children of each ancestor, starting below
    // documentElement (documentElement itself is the empty path). Used to
    // find the same element in a live page.
    QList<int> indexPath() const;

    // Actions go to the browser that produced the document. They answer
    // false when there is no such browser any more, the browser has moved to
    // another page since this snapshot, or the element cannot be acted on.
    bool click() const;
    bool setValue(const QString& text) const;

    const Document* document() const { return m_doc.get(); }
    std::shared_ptr<const Document> documentPtr() const { return m_doc; }
    int nodeIndex() const { return m_node; }

    bool operator==(const Element& o) const { return m_doc == o.m_doc && m_node == o.m_node; }

private:
    friend class Document;
    friend class ElementCollection;
    Element(std::shared_ptr<const Document> doc, int node) : m_doc(std::move(doc)), m_node(node) {}
    std::shared_ptr<const Document> m_doc;
    int m_node = -1;
};

// A static list of elements in document order (what getElementsBy... give).
class ElementCollection {
public:
    ElementCollection() = default;

    int length() const { return int(m_nodes.size()); }
    bool isEmpty() const { return m_nodes.empty(); }
    // Null element when index is out of range.
    Element item(int index) const;
    Element first() const { return item(0); }

    class const_iterator {
    public:
        using value_type = Element;
        using difference_type = std::ptrdiff_t;
        const_iterator(const ElementCollection* c, int i) : m_c(c), m_i(i) {}
        Element operator*() const { return m_c->item(m_i); }
        const_iterator& operator++() { ++m_i; return *this; }
        bool operator==(const const_iterator& o) const { return m_i == o.m_i; }
        bool operator!=(const const_iterator& o) const { return m_i != o.m_i; }
    private:
        const ElementCollection* m_c;
        int m_i;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, length()}; }

private:
    friend class Document;
    friend class Element;
    ElementCollection(std::shared_ptr<const Document> doc, std::vector<int> nodes)
        : m_doc(std::move(doc)), m_nodes(std::move(nodes)) {}
    std::shared_ptr<const Document> m_doc;
    std::vector<int> m_nodes;
};

// What Element::click()/setValue() are forwarded to: the browser that
// produced the document. Declared here so the document model needs nothing
// from the browser's interface.
class ElementActions : public QObject {
public:
    using QObject::QObject;
    // The node belongs to doc, which this browser produced.
    virtual bool elementClick(const Document& doc, int node) = 0;
    virtual bool elementSetValue(const Document& doc, int node, const QString& value) = 0;
};

// Where a document came from, so element actions can be forwarded.
struct DocumentOrigin {
    QPointer<ElementActions> browser;
    quint64 generation = 0;  // the browser's page generation at snapshot time
};

// A snapshot of a page, parsed with gumbo. Immutable except for form state
// written through Element::setValue()/click(), which a browser that submits
// forms itself (the headless one) reads back. Always held by shared_ptr.
class Document : public std::enable_shared_from_this<Document> {
public:
    // Raw bytes as received. The charset comes from a byte-order mark, the
    // Content-Type header, a <meta> in the first bytes, or is guessed (UTF-8
    // when the bytes are valid UTF-8, else GBK). Never fails: empty, binary
    // or non-HTML bodies give a document with an empty body.
    static std::shared_ptr<Document> parse(const QByteArray& bytes, const QUrl& url,
                                           const QString& contentType = {},
                                           DocumentOrigin origin = {});
    // Already decoded text (the WebEngine source snapshot).
    static std::shared_ptr<Document> fromHtml(const QString& html, const QUrl& url,
                                              const QString& charset = QStringLiteral("UTF-8"),
                                              DocumentOrigin origin = {});
    // Empty page ("about:blank").
    static std::shared_ptr<Document> blank(const QUrl& url = QUrl(QStringLiteral("about:blank")),
                                           DocumentOrigin origin = {});

    // The charset name a body would be decoded with (exposed for tests and
    // for form submission).
    static QString detectCharset(const QByteArray& bytes, const QString& contentType);

    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    QString URL() const { return m_url.toString(QUrl::FullyEncoded); }
    const QUrl& url() const { return m_url; }
    QUrl baseUrl() const { return m_baseUrl; }
    QString characterSet() const { return m_charset; }
    QString contentType() const { return m_contentType; }  // as given, may be empty
    QString title() const;
    // Whether the decoded source text as received is empty or only spaces.
    bool sourceIsBlank() const { return m_sourceBlank; }
    // The page would have made more nodes than limits().maxPageNodes (or
    // its parse outgrew the memory those allow): it reads as an empty page.
    bool tooManyNodes() const { return m_tooManyNodes; }
    // Whether outerHTML() contains the text; made piece by piece, so a large
    // page is never held twice.
    bool outerHTMLContains(QStringView text, Qt::CaseSensitivity cs = Qt::CaseSensitive) const;
    // Serialisation of the tree from <html> on, as a browser's
    // documentElement.outerHTML gives it.
    QString outerHTML() const;

    Element documentElement() const;
    Element body() const;
    Element head() const;
    ElementCollection getElementsByTagName(const QString& tag) const;
    ElementCollection getElementsByClassName(const QString& names) const;
    Element getElementById(const QString& id) const;
    ElementCollection querySelectorAll(const QString& selectors) const;
    ElementCollection querySelectorAll(const css::SelectorList& selectors) const;
    Element querySelector(const QString& selectors) const;
    Element querySelector(const css::SelectorList& selectors) const;
    ElementCollection getElementsByName(const QString& name) const;
    // Find an element by Element::indexPath(); null when the path leads nowhere.
    Element elementAtPath(const QList<int>& path) const;
    // The element at a node index (Element::nodeIndex()); null if not an element.
    Element elementAt(int node) const;

    const DocumentOrigin& origin() const { return m_origin; }
    int elementCount() const;

    // Form state written by actions (node index -> value / checkedness).
    const std::unordered_map<int, QString>& valueOverrides() const { return m_values; }
    const std::unordered_map<int, bool>& checkedOverrides() const { return m_checked; }
    void setValueOverride(int node, const QString& v) const { m_values[node] = v; }
    void setCheckedOverride(int node, bool c) const { m_checked[node] = c; }

    // Internal node table, for the element functions and the browsers.
    const html::Tree& tree() const { return *m_tree; }

private:
    Document();
    void build(const QByteArray& utf8);
    friend class Element;

    QUrl m_url;
    QUrl m_baseUrl;
    QString m_charset;
    QString m_contentType;
    bool m_sourceBlank = true;
    bool m_tooManyNodes = false;
    DocumentOrigin m_origin;
    std::unique_ptr<html::Tree> m_tree;
    mutable std::unordered_map<int, QString> m_values;
    mutable std::unordered_map<int, bool> m_checked;
};

using DocumentPtr = std::shared_ptr<Document>;

} // namespace dh
