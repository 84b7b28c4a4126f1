#pragma once
#include "ports/Prompter.h"

class QWidget;

namespace dh {

// Message boxes, input boxes and file dialogs of the desktop program. Dialogs
// are owned by the active window so they stay modal over it.
class QtPrompter : public Prompter {
public:
    void message(const QString& text, MessageIcon icon, const QString& title = {}) override;
    bool question(const QString& text, const QString& title = {}) override;
    std::optional<QString> input(const QString& prompt, const QString& title, const QString& defaultText) override;
    QString chooseFolder(const QString& title, const QString& start) override;
    QString openFile(const QString& title, const QString& start, const QString& filter) override;
    QString saveFile(const QString& title, const QString& start, const QString& filter) override;
};

} // namespace dh
