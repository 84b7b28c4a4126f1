#include "platform/desktop/Shell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace dh {

namespace {

bool isLocalFile(const QString& s)
{
    return !s.isEmpty() && QFileInfo::exists(s);
}

QUrl urlFor(const QString& pathOrAddress)
{
    if (isLocalFile(pathOrAddress))
        return QUrl::fromLocalFile(QFileInfo(pathOrAddress).absoluteFilePath());
    return QUrl::fromUserInput(pathOrAddress);
}

// mimeapps.list files in the order of the XDG lookup: user config, system
// config, then the applications folders' own lists.
QStringList mimeappsFiles()
{
    QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(u':', Qt::SkipEmptyParts);
    QStringList files;
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString& d : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
        dirs << d;
    for (const QString& d : dirs) {
        for (const QString& desk : desktops)
            files << d + QStringLiteral("/") + desk + QStringLiteral("-mimeapps.list");
        files << d + QStringLiteral("/mimeapps.list");
    }
    return files;
}

// Splits an Exec value into words, honouring double quotes and backslash escapes.
QStringList splitExec(const QString& exec)
{
    QStringList words;
    QString cur;
    bool inQuotes = false;
    bool have = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (inQuotes) {
            if (c == u'\\' && i + 1 < exec.size()) {
                cur += exec[++i];
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                cur += c;
            }
        } else if (c == u'"') {
            inQuotes = true;
            have = true;
        } else if (c == u' ' || c == u'\t') {
            if (have || !cur.isEmpty())
                words << cur;
            cur.clear();
            have = false;
        } else {
            cur += c;
        }
    }
    if (have || !cur.isEmpty())
        words << cur;
    return words;
}

bool launchDefault(const QString& mimeType, const QString& argument)
{
    const QString app = DesktopShell::defaultApplicationFor(mimeType);
    if (app.isEmpty())
        return false;
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, app);
    if (file.isEmpty())
        return false;
    QStringList cmd = DesktopShell::execCommand(file, argument);
    if (cmd.isEmpty())
        return false;
    const QString program = cmd.takeFirst();
    return QProcess::startDetached(program, cmd);
}

} // namespace

QString DesktopShell::defaultApplicationFor(const QString& mimeType)
{
    for (const QString& path : mimeappsFiles()) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        QTextStream in(&f);
        bool inDefaults = false;
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.startsWith(u'[')) {
                inDefaults = line == QLatin1String("[Default Applications]");
                continue;
            }
            if (!inDefaults)
                continue;
            const qsizetype eq = line.indexOf(u'=');
            if (eq < 0 || line.left(eq).trimmed() != mimeType)
                continue;
            for (const QString& app : line.mid(eq + 1).split(u';', Qt::SkipEmptyParts)) {
                const QString a = app.trimmed();
                if (!QStandardPaths::locate(QStandardPaths::ApplicationsLocation, a).isEmpty())
                    return a;
            }
        }
    }
    return {};
}

QStringList DesktopShell::execCommand(const QString& desktopFilePath, const QString& argument)
{
    QFile f(desktopFilePath);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&f);
    bool inEntry = false;
    QString exec;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inEntry && line.startsWith(QLatin1String("Exec="))) {
            exec = line.mid(5);
            break;
        }
    }
    if (exec.isEmpty())
        return {};
    const QString asUrl = urlFor(argument).toString();
    QStringList out;
    bool placed = false;
    for (const QString& word : splitExec(exec)) {
        if (word == QLatin1String("%f") || word == QLatin1String("%F")) {
            out << argument;
            placed = true;
        } else if (word == QLatin1String("%u") || word == QLatin1String("%U")) {
            out << asUrl;
            placed = true;
        } else if (word.size() == 2 && word[0] == u'%') {
            continue;  // %i, %c, %k and deprecated codes: nothing to pass
        } else {
            QString w = word;
            w.replace(QLatin1String("%%"), QLatin1String("%"));
            out << w;
        }
    }
    if (!placed && !out.isEmpty())
        out << argument;
    return out;
}

bool DesktopShell::openFile(const QString& path)
{
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())))
        return true;
    // No associated program: the generic opener decides.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

bool DesktopShell::showInFolder(const QString& rawPath)
{
    const QString path = rawPath.trimmed();
    const QFileInfo fi(path);
    if (path.isEmpty() || !fi.isFile())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(fi.absoluteFilePath()).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // No file manager on the bus: the folder alone is the next best thing.
    return openFolder(fi.absolutePath());
}

bool DesktopShell::openFolder(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(path).absolutePath()));
}

bool DesktopShell::openAsText(const QString& path)
{
    if (launchDefault(QStringLiteral("text/plain"), path))
        return true;
    return openFile(path);
}

bool DesktopShell::openInBrowser(const QString& pathOrAddress)
{
    if (launchDefault(QStringLiteral("x-scheme-handler/http"), pathOrAddress))
        return true;
    return QDesktopServices::openUrl(urlFor(pathOrAddress));
}

} // namespace dh
