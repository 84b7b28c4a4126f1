#pragma once
#include <QByteArray>

namespace dh::html {

// The HTML parser does work proportional to the depth of open elements for
// every tag, and to the attributes already seen for every attribute, so a
// page of a million nested <div>s or one tag with a million attributes keeps
// it busy for minutes. This linear pre-scan follows the markup roughly as the
// tokenizer does and cuts what goes beyond the bounds: a start tag opened
// deeper than maxNesting is left out together with its end tag (its text
// stays, as browsers flatten such trees), and attributes after the first
// maxAttributes of a tag are left out. Elements whose end tag is optional
// (p, li, td ...) and void elements do not count towards the depth.
//
// The parser's tree costs far more memory than the markup (over a hundred
// bytes per element, attribute, text or comment), so the scan also counts
// what the parser would make of the kept markup; past maxNodes (when not
// negative) it stops and answers tooManyNodes without any markup.
struct BoundedMarkup {
    QByteArray utf8;      // the markup to parse (the input itself when nothing was cut)
    int droppedTags = 0;  // start and end tags left out
    int droppedAttributes = 0;
    qint64 nodes = 0;     // elements, attributes, text runs and comments counted
    bool tooManyNodes = false;
};
BoundedMarkup boundMarkup(const QByteArray& utf8, int maxNesting, int maxAttributes, qint64 maxNodes = -1);

} // namespace dh::html
