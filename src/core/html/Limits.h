#pragma once
#include <QtGlobal>

namespace dh {

// Size bounds that keep a hostile page or service from exhausting memory or
// time. The defaults are the real values; tests shrink them through limits().
struct Limits {
    qint64 maxPageBytes = 32 * 1024 * 1024;  // a page body (or page snapshot) larger than this fails to load
    int maxNesting = 512;                    // element nesting depth handed to the HTML parser
    int maxAttributes = 64;                  // attributes per tag handed to the HTML parser
    // Elements, attributes, texts and comments of a page: each costs the parser
    // over a hundred bytes, so a page with more fails to load as too large.
    qint64 maxPageNodes = 500000;
};

// The process-wide limits. Mutable so that tests can shrink them.
Limits& limits();

} // namespace dh
