#pragma once
#include <QString>

#include <cstdint>
#include <vector>

// The node table behind a Document: every node of the parsed page in
// document (pre-)order in one vector. A node's descendants are exactly the
// nodes [index + 1, end), so subtree scans are plain loops and no operation
// needs recursion (deeply nested markup cannot exhaust the stack).
namespace dh::html {

enum class NodeKind : std::uint8_t { Document, Element, Text, Comment };
enum class Ns : std::uint8_t { Html, Svg, MathML };

struct Attr {
    QString name;   // lower-case for HTML elements
    QString value;
};

struct Node {
    NodeKind kind = NodeKind::Element;
    Ns ns = Ns::Html;
    std::uint16_t tag = 0;  // GumboTag (GUMBO_TAG_UNKNOWN for custom names)
    int parent = -1;
    int end = 0;            // one past the last descendant
    int attrBegin = 0;      // range in Tree::attrs
    int attrCount = 0;
    QString text;           // element: local name (lower-case for HTML); text/comment: data
};

struct Tree {
    std::vector<Node> nodes;  // nodes[0] is the document
    std::vector<Attr> attrs;
    int documentElement = -1;
    QString doctypeName;

    const Attr* findAttr(int node, QStringView name) const;
    // Index of the first element child at or after `from` (a child position), or -1.
    int nextElementSibling(int node) const;
    int firstElementChild(int node) const;
};

} // namespace dh::html
