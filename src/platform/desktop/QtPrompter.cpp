#include "platform/desktop/QtPrompter.h"

#include "app/AppInfo.h"

#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>
#include <QInputDialog>
#include <QMessageBox>

namespace dh {

namespace {
QWidget* owner()
{
    return QApplication::activeWindow();
}
QString titleOr(const QString& t)
{
    return t.isEmpty() ? programTitle() : t;
}
} // namespace

void QtPrompter::message(const QString& text, MessageIcon icon, const QString& title)
{
    QMessageBox::Icon i = QMessageBox::Information;
    switch (icon) {
    case MessageIcon::Information: i = QMessageBox::Information; break;
    case MessageIcon::Error: i = QMessageBox::Critical; break;
    case MessageIcon::Question: i = QMessageBox::Question; break;
    case MessageIcon::Exclamation: i = QMessageBox::Warning; break;
    }
    QMessageBox box(i, titleOr(title), text, QMessageBox::Ok, owner());
    box.exec();
}

bool QtPrompter::question(const QString& text, const QString& title)
{
    return QMessageBox::question(owner(), titleOr(title), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

std::optional<QString> QtPrompter::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    bool ok = false;
    const QString t = QInputDialog::getText(owner(), titleOr(title), prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return t;
}

QString QtPrompter::chooseFolder(const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(owner(), titleOr(title), start);
}

QString QtPrompter::openFile(const QString& title, const QString& start, const QString& filter)
{
    return QFileDialog::getOpenFileName(owner(), titleOr(title), start, filter);
}

QString QtPrompter::saveFile(const QString& title, const QString& start, const QString& filter)
{
    QFileDialog dialog(owner(), titleOr(title), start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The filter's extension is added by the dialog itself, before it asks
    // about an existing file of the final name.
    static const QRegularExpression firstPattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    const QRegularExpressionMatch m = firstPattern.match(filter);
    if (m.hasMatch())
        dialog.setDefaultSuffix(m.captured(1));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

} // namespace dh
