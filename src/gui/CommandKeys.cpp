#include "gui/CommandKeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPointer>
#include <QWidget>

namespace dh {

namespace {

// A text box says it wants a key by accepting the ShortcutOverride event
// sent before shortcuts are matched; this answers for it first.
class CommandKeyKeeper : public QObject {
public:
    CommandKeyKeeper(QWidget* window, const QList<QAction*>& actions) : QObject(window), m_window(window)
    {
        for (QAction* a : actions)
            m_actions << a;
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (!m_window || widget->window() != m_window)
            return false;
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const QPointer<QAction>& a : m_actions) {
            if (!a || !a->isEnabled())
                continue;
            for (const QKeySequence& s : a->shortcuts())
                if (s.matches(pressed) == QKeySequence::ExactMatch) {
                    event->ignore();
                    return true;  // the editor never sees it, so the shortcut runs
                }
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
    QList<QPointer<QAction>> m_actions;
};

} // namespace

void keepCommandKeys(QWidget* window, const QList<QAction*>& actions)
{
    new CommandKeyKeeper(window, actions);
}

} // namespace dh
