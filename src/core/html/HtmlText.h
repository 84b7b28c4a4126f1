#pragma once
#include "html/DocumentTree.h"

#include <QString>

#include <functional>

// Text and markup produced from the node table: innerText by rendered-text
// rules, textContent, and HTML serialisation (outerHTML).
namespace dh::htmltext {

QString innerText(const html::Tree& tree, int node);
QString textContent(const html::Tree& tree, int node);
// Runs of ASCII white space become one space; leading and trailing removed.
QString collapseWhitespace(const QString& s);
// outer: include the node's own tags.
QString serialize(const html::Tree& tree, int node, bool outer);
// The same serialisation handed over in pieces of some ten thousand
// characters: `piece` gets the text so far (it may clear it) and answers
// whether to go on.
void serializePieces(const html::Tree& tree, int node, bool outer, const std::function<bool(QString&)>& piece);

} // namespace dh::htmltext
