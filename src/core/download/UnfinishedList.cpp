#include "download/UnfinishedList.h"

#include "app/SettingsStore.h"
#include "download/DownloadListModel.h"
#include "ports/SystemCodePage.h"

#include <QFile>
#include <QSaveFile>

namespace dh {

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

QString stateWord(DownloadState s)
{
    switch (s) {
    case DownloadState::Waiting: return QStringLiteral("waiting");
    case DownloadState::Downloading: return QStringLiteral("downloading");
    case DownloadState::Done: return QStringLiteral("done");
    case DownloadState::Failed: return QStringLiteral("failed");
    case DownloadState::Page: return QStringLiteral("page");
    }
    return {};
}

QString escapeField(const QString& field)
{
    QString out;
    out.reserve(field.size());
    for (QChar c : field) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\n': out += QLatin1String("\\n"); break;
        default: out += c;
        }
    }
    return out;
}

QString unescapeField(QStringView field)
{
    QString out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field[i];
        if (c != QLatin1Char('\\') || i + 1 == field.size()) {
            out += c;
            continue;
        }
        const QChar n = field[++i];
        out += n == QLatin1Char('t') ? QChar(u'\t') : n == QLatin1Char('r') ? QChar(u'\r')
             : n == QLatin1Char('n') ? QChar(u'\n') : n;
    }
    return out;
}

} // namespace

QString unfinishedListFile()
{
    return dataFolder() + QStringLiteral("UnfinishedDownloads.dat");
}

std::vector<DownloadItem> unfinishedRows(const DownloadListModel& list)
{
    std::vector<DownloadItem> rows;
    for (int i = 0; i < list.size(); ++i) {
        if (isUnfinished(list.item(i)))
            rows.push_back(list.item(i));
    }
    return rows;
}

QByteArray unfinishedListText(const std::vector<DownloadItem>& rows)
{
    QString text;
    for (const DownloadItem& it : rows) {
        const QString fields[] = {it.name, it.fileType, it.folder, it.url, it.referer, stateWord(it.state),
                                  it.requestedType};
        for (size_t f = 0; f < std::size(fields); ++f) {
            if (f > 0)
                text += QLatin1Char('\t');
            text += escapeField(fields[f]);
        }
        text += QStringLiteral("\r\n");
    }
    // A name or folder the code page cannot hold would come back as another
    // path: such a list is written in UTF-8 instead.
    const QByteArray local = SystemCodePage::encode(text);
    if (SystemCodePage::decode(local) == text)
        return local;
    return QByteArray(kUtf8Bom) + text.toUtf8();
}

std::vector<DownloadItem> parseUnfinishedList(const QByteArray& bytes)
{
    const QString text = bytes.startsWith(kUtf8Bom) ? QString::fromUtf8(bytes.mid(3)) : SystemCodePage::decode(bytes);
    std::vector<DownloadItem> rows;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const auto f = line.split(QLatin1Char('\t'));
        if (f.size() < 4)
            continue;
        DownloadItem it;
        it.name = unescapeField(f[0]);
        it.fileType = unescapeField(f[1]);
        it.folder = unescapeField(f[2]);
        it.url = unescapeField(f[3]);
        if (it.url.trimmed().isEmpty())
            continue;
        if (f.size() > 4)
            it.referer = unescapeField(f[4]);
        it.requestedType = f.size() > 6 ? unescapeField(f[6]) : it.fileType;
        if (f.size() > 5 && f[5] == QLatin1String("page"))
            it.fileType = it.requestedType;
        rows.push_back(std::move(it));
    }
    return rows;
}

std::optional<QString> writeUnfinishedList(const QString& path, const std::vector<DownloadItem>& rows)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return f.errorString();
    const QByteArray bytes = unfinishedListText(rows);
    if (f.write(bytes) != bytes.size() || !f.commit())
        return f.errorString();
    return std::nullopt;
}

std::vector<DownloadItem> readUnfinishedList(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return parseUnfinishedList(f.readAll());
}

} // namespace dh
