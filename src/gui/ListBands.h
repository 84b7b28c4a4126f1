#pragma once
#include <QColor>

class QAbstractItemView;
class QPalette;

namespace dh {

// The two row bands of a list and the text drawn on them, derived from a
// palette: on a light palette light green and white; on a dark
// or high-contrast one a tinted and a plain base, with a text colour that
// stays readable on both (WCAG contrast of at least 4.5).
struct ListBandColours {
    QColor first;   // first row of every pair
    QColor second;  // second row
    QColor text;
};
ListBandColours listBandColours(const QPalette& palette);

// Whether the palette's base (the background of lists) is dark: the bands and
// the state icons switch to their dark-theme colours together.
bool isDarkPalette(const QPalette& palette);

// WCAG 2 contrast ratio of two opaque colours, 1 to 21.
double contrastRatio(const QColor& a, const QColor& b);

// Gives the view its bands and keeps them matched to the palette when the
// desktop theme changes.
void applyListBands(QAbstractItemView* view);

} // namespace dh
