#include "gui/IdentifyFileDialog.h"

#include "content/FileTypeDetection.h"
#include "ports/Prompter.h"

namespace dh {

QString identifyResultMessage(const QString& label)
{
    if (label.isEmpty())
        return QStringLiteral("目前还无法判断。");
    return QStringLiteral("文件类型为：") + label;
}

} // namespace dh

void runIdentifyFileCommand(QWidget* /*parent: the prompter's dialogs are modal over the active window*/)
{
    using namespace dh;
    // "*.*" shown as users know it; "*" so that files without an
    // extension can be picked as well.
    const QString path =
        Prompter::instance().openFile(QStringLiteral("打开"), QString(), QStringLiteral("*.* (*)"));
    if (path.isEmpty())
        return;
    Prompter::instance().message(identifyResultMessage(identifyFileType(path)), MessageIcon::Information);
}
