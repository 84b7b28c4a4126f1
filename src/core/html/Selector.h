#pragma once
// CSS selectors over the parsed node table, so that a search service can be
// described in data: which elements are results, which is the next page.
//
// Supported: type, *, .class, #id, [attr], [attr=v], [attr~=v], [attr^=v],
// [attr$=v], [attr*=v] (values quoted or bare), descendant (space) and child
// (>) combinators, lists (,), :first-child, :nth-of-type(n), :not(simple).
// Matching walks the scope once whatever the page's depth: per element it keeps
// one bit per compound of each selector, so the cost is linear in the number
// of elements for a selector of fixed length.
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace dh {

namespace html {
struct Tree;
}

namespace css {

struct ComplexSelector;

class SelectorList {
public:
    // The parsed list, or nothing with *error saying what and where.
    static std::optional<SelectorList> parse(QStringView text, QString* error = nullptr);

    // Node indexes of the elements below scope (a node of t; 0 is the
    // document) that match, in document order, each once. Ancestors of scope
    // take part in combinators, as in a browser's element.querySelectorAll.
    std::vector<int> match(const html::Tree& t, int scope) const;
    // The first of those, -1 when none.
    int first(const html::Tree& t, int scope) const;

    // Whether the element at node matches (ancestors included).
    bool matches(const html::Tree& t, int node) const;

    bool isEmpty() const { return m_selectors.empty(); }

private:
    std::vector<std::shared_ptr<const ComplexSelector>> m_selectors;
    std::vector<int> run(const html::Tree& t, int scope, bool firstOnly) const;
};

} // namespace css
} // namespace dh
