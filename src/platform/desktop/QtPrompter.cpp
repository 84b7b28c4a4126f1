#include "platform/desktop/QtPrompter.h"

#include "app/AppInfo.h"

#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

bool QtPrompter::question(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, titleOr(title), text, QMessageBox::Yes | QMessageBox::No, owner());
    box.setDefaultButton(QMessageBox::No);
    // Qt's own captions are English without a translation installed.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> QtPrompter::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    QInputDialog dialog(owner());
    dialog.setWindowTitle(titleOr(title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
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
