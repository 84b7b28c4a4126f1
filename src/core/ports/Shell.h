#pragma once
#include <QString>
#include <vector>

namespace dh {

// The desktop shell as the download window needs it: open a file with its
// program, show a file selected in its folder, open a folder, open a file as
// plain text, open a file or address in the web browser. The program installs
// the desktop implementation; until then, and in tests, a RecordingShell
// answers and nothing is launched.
class Shell {
public:
    virtual ~Shell() = default;

    // Opens the file with the program the desktop associates with it; false
    // when nothing could be started.
    virtual bool openFile(const QString& path) = 0;
    // Opens the file's folder with the file selected; false on failure.
    virtual bool showInFolder(const QString& path) = 0;
    // Opens a folder in the file manager.
    virtual bool openFolder(const QString& path) = 0;
    // Opens the file in the desktop's default text editor, whatever its extension.
    virtual bool openAsText(const QString& path) = 0;
    // Opens a file path or an address in the default web browser.
    virtual bool openInBrowser(const QString& pathOrAddress) = 0;

    static Shell& instance();
    static void setInstance(Shell* s);  // not owned; nullptr restores the default
};

// Records each call and answers with `result`; launches nothing.
class RecordingShell : public Shell {
public:
    struct Call {
        QString what;  // "openFile", "showInFolder", "openFolder", "openAsText", "openInBrowser"
        QString argument;
        bool operator==(const Call&) const = default;
    };
    std::vector<Call> calls;
    bool result = true;

    bool openFile(const QString& path) override { return record(QStringLiteral("openFile"), path); }
    bool showInFolder(const QString& path) override { return record(QStringLiteral("showInFolder"), path); }
    bool openFolder(const QString& path) override { return record(QStringLiteral("openFolder"), path); }
    bool openAsText(const QString& path) override { return record(QStringLiteral("openAsText"), path); }
    bool openInBrowser(const QString& a) override { return record(QStringLiteral("openInBrowser"), a); }

private:
    bool record(const QString& what, const QString& argument)
    {
        calls.push_back({what, argument});
        return result;
    }
};

} // namespace dh
