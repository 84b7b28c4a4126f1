#pragma once
#include <QString>

class QWidget;

namespace dh {

// The message the command shows for a detection result:
// "文件类型为：pdf", or "目前还无法判断。" when the type is unknown.
QString identifyResultMessage(const QString& label);

} // namespace dh

// Tools-menu command "打开文件判断类型": asks for a file and tells its type
// as the content shows it. Cancelling the file dialog does nothing.
void runIdentifyFileCommand(QWidget* parent);
