#pragma once
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

namespace dh {

enum class MessageIcon { Information, Error, Question, Exclamation };

// Message boxes, questions, input boxes and file/folder pickers, as the engine
// asks for them. The program answers with Qt dialogs; tests answer from a script.
class Prompter {
public:
    virtual ~Prompter() = default;

    virtual void message(const QString& text, MessageIcon icon, const QString& title = {}) = 0;
    // A yes/no question; true for yes.
    virtual bool question(const QString& text, const QString& title = {}) = 0;
    // A line of input; nullopt when cancelled.
    virtual std::optional<QString> input(const QString& prompt, const QString& title,
                                         const QString& defaultText) = 0;
    // A folder; empty when cancelled.
    virtual QString chooseFolder(const QString& title, const QString& start) = 0;
    // A file to open or to save; empty when cancelled. filter as in QFileDialog.
    virtual QString openFile(const QString& title, const QString& start, const QString& filter) = 0;
    virtual QString saveFile(const QString& title, const QString& start, const QString& filter) = 0;

    // The process-wide prompter. Until one is installed, a ScriptedPrompter that
    // answers "no"/cancel and records what it was asked.
    static Prompter& instance();
    static void setInstance(Prompter* p);  // not owned; nullptr restores the default
};

// Records every message and answers from queues; for tests and the command line.
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString text;
        MessageIcon icon;
        QString title;
    };
    std::vector<Shown> shown;         // messages and questions, in order
    std::deque<bool> questionAnswers; // empty: answer no
    std::deque<std::optional<QString>> inputAnswers;  // empty: cancelled
    std::deque<QString> pathAnswers;  // folders and files; empty: cancelled
    bool echoToStderr = false;

    void message(const QString& text, MessageIcon icon, const QString& title = {}) override;
    bool question(const QString& text, const QString& title = {}) override;
    std::optional<QString> input(const QString& prompt, const QString& title,
                                 const QString& defaultText) override;
    QString chooseFolder(const QString& title, const QString& start) override;
    QString openFile(const QString& title, const QString& start, const QString& filter) override;
    QString saveFile(const QString& title, const QString& start, const QString& filter) override;

    QStringList texts() const;
    void clear() { shown.clear(); }
};

} // namespace dh
