#include "app/FolderHistory.h"

#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace dh {

namespace {
constexpr int kMaxHistoryLines = 100;
}

QString folderHistoryFile()
{
    return dataFolder() + QStringLiteral("SaveList.dat");
}

void loadFolderHistory(QStringList& entries, const QString& file)
{
    QFile f(file);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = f.readAll();
    f.close();

    entries.clear();
    int counted = 0;
    // Lines end in CR LF; a lone LF (a file edited by hand) is accepted too.
    const QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray raw : lines) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = trimSpaces(SystemCodePage::decode(raw));
        if (line.isEmpty())
            continue;
        if (++counted > kMaxHistoryLines)
            break;
        bool seen = false;
        for (const QString& e : std::as_const(entries)) {
            if (e.compare(line, Qt::CaseInsensitive) == 0) {
                seen = true;
                break;
            }
        }
        if (!seen)
            entries.append(line);
    }
}

bool saveFolderHistory(const QStringList& entries, const QString& file)
{
    QByteArray out;
    if (entries.isEmpty()) {
        out = "\r\n";
    } else {
        for (const QString& e : entries) {
            out += SystemCodePage::encode(e);
            out += "\r\n";
        }
    }
    // Written to a temporary file and moved into place so a full disk never
    // leaves a truncated history behind.
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    if (f.write(out) != out.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

QString browseStartFolder(const QString& start)
{
    // Nothing usable typed: the home folder, where a user's folders are.
    const QString home = QDir::homePath() + QLatin1Char('/');
    QString s = start;
    if (trimSpaces(s).isEmpty() || s == QLatin1String("~") || s == QLatin1String("~/"))
        return home;
    if (s.startsWith(QLatin1String("~/")))
        s = home + s.mid(2);
    const qsizetype cut = s.size() >= 2 ? s.lastIndexOf(QLatin1Char('/'), s.size() - 2) : -1;
    if (cut >= 0)
        s = s.left(cut + 1);
    if (!QFileInfo::exists(s))
        s = home;
    return s;
}

QString browseForFolder(const QString& start, const QString& title, bool includeFiles)
{
    Q_UNUSED(includeFiles);
    const QString from = browseStartFolder(start);
    QString chosen = Prompter::instance().chooseFolder(title, from);
    if (chosen.isEmpty())
        chosen = start;
    if (!chosen.endsWith(QLatin1Char('/')))
        chosen += QLatin1Char('/');
    return chosen;
}

} // namespace dh
