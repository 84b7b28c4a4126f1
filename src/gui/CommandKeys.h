#pragma once
// Text boxes claim some Ctrl keys before a window's menu sees them: on X11
// Ctrl+D deletes a character and Ctrl+K the rest of a line, so a command key
// of the window would do nothing while the keywords have the focus. This keeps
// the window's own command keys for its commands, wherever its focus is.

#include <QList>

class QAction;
class QWidget;

namespace dh {

// While an action of the list is enabled, its shortcuts reach it from every
// control in window, text boxes included.
void keepCommandKeys(QWidget* window, const QList<QAction*>& actions);

} // namespace dh
