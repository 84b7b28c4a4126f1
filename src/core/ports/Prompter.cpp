#include "ports/Prompter.h"

#include <cstdio>

namespace dh {

namespace {
Prompter*& installed()
{
    static Prompter* p = nullptr;
    return p;
}
QString takePath(std::deque<QString>& q)
{
    if (q.empty())
        return {};
    QString s = q.front();
    q.pop_front();
    return s;
}
} // namespace

Prompter& Prompter::instance()
{
    static ScriptedPrompter fallback;
    return installed() ? *installed() : fallback;
}

void Prompter::setInstance(Prompter* p)
{
    installed() = p;
}

void ScriptedPrompter::message(const QString& text, MessageIcon icon, const QString& title)
{
    shown.push_back({text, icon, title});
    if (echoToStderr)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

bool ScriptedPrompter::question(const QString& text, const QString& title)
{
    shown.push_back({text, MessageIcon::Question, title});
    if (questionAnswers.empty())
        return false;
    const bool a = questionAnswers.front();
    questionAnswers.pop_front();
    return a;
}

std::optional<QString> ScriptedPrompter::input(const QString& prompt, const QString& title, const QString&)
{
    shown.push_back({prompt, MessageIcon::Question, title});
    if (inputAnswers.empty())
        return std::nullopt;
    const bool given = inputAnswers.front().has_value();
    const QString text = given ? *inputAnswers.front() : QString();
    inputAnswers.pop_front();
    return given ? std::optional<QString>(text) : std::nullopt;
}

QString ScriptedPrompter::chooseFolder(const QString&, const QString&) { return takePath(pathAnswers); }
QString ScriptedPrompter::openFile(const QString&, const QString&, const QString&) { return takePath(pathAnswers); }
QString ScriptedPrompter::saveFile(const QString&, const QString&, const QString&) { return takePath(pathAnswers); }

QStringList ScriptedPrompter::texts() const
{
    QStringList l;
    for (const auto& s : shown)
        l << s.text;
    return l;
}

} // namespace dh
