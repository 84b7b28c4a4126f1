#pragma once
#include <QColor>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;
class QAbstractItemView;
class QTreeView;
class QComboBox;

namespace dh {

class SettingsStore;

// Light green for the first row of every pair, white for the second.
inline const QColor kBandGreen(231, 247, 237);

// wanted moved and shrunk as little as needed to lie inside available
// (returned unchanged when available is not valid).
QRect clampToScreen(const QRect& wanted, const QRect& available);

// Screen width "*" height in pixels, e.g. "1920*1080".
QString screenSizeText(const QWidget* w = nullptr);

// Stores the window's geometry in twips (pixels x 15) under its section, or
// only "分辨率" = "0*0" when it is maximised.
void saveWindowGeometry(QWidget* window, const QString& section, SettingsStore& store);
// Restores it; a different screen size (or a window saved maximised, or no
// stored value) opens it maximised. Values are clamped: top/left >= 0,
// width >= 4000, height >= 3000 twips; then the window is kept inside the
// screen's available area (no larger than it, no edge outside it).
void restoreWindowGeometry(QWidget* window, const QString& section, SettingsStore& store);

// Gives a window its opening size, no larger than the available area of the
// screen it opens on (a 1366×768 screen, or scale 2, must still show it
// whole), centred on parent when there is one, else on that screen.
void placeWindow(QWidget* window, const QSize& wanted, const QWidget* parent = nullptr);

// Fits every column to the wider of its contents and its header.
void autoSizeColumns(QTreeView* view);

// Alternating bands behind a list: green first, white second on a light
// palette; derived from the palette on a dark one (see ListBands.h).
void stripeListRows(QAbstractItemView* view);

// Widens a combo box's drop-down for its longest entry, limited to the room
// between the combo's left edge and the screen's right edge.
void fitDropDownWidth(QComboBox* combo);

} // namespace dh
