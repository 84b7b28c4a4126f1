#pragma once
#include "ports/Shell.h"

#include <QStringList>

namespace dh {

// The Linux desktop behind Shell: QDesktopServices for opening, the file
// manager's D-Bus interface (org.freedesktop.FileManager1.ShowItems) to show a
// file selected, and the applications that the desktop's mimeapps.list files
// name as defaults for text/plain and for web addresses. Paths are passed as
// arguments, never through a command string.
class DesktopShell : public Shell {
public:
    bool openFile(const QString& path) override;
    bool showInFolder(const QString& path) override;
    bool openFolder(const QString& path) override;
    bool openAsText(const QString& path) override;
    bool openInBrowser(const QString& pathOrAddress) override;

    // The desktop file the mimeapps.list files choose for a MIME type
    // ("org.gnome.TextEditor.desktop"), or empty.
    static QString defaultApplicationFor(const QString& mimeType);
    // The program and arguments of a desktop file's Exec line with the field
    // codes filled in for one file or address; empty when the file has none.
    static QStringList execCommand(const QString& desktopFilePath, const QString& argument);
};

} // namespace dh
