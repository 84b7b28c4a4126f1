#include "app/Helpers.h"

#include "app/FormRegistry.h"
#include "platform/Prompter.h"
#include "platform/SystemCodePage.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace dh {

QString TrimSpaces(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && s.at(e - 1) == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

QString EncodeKeyword(const QString& keyword)
{
    QString s = keyword;
    s.replace(QLatin1Char('%'), QLatin1String("%25"));
    QString out;
    out.reserve(s.size() * 3);
    const QList<uint> cps = s.toUcs4();
    for (uint cp : cps) {
        if (cp < 0x80) {
            out += QChar(char16_t(cp));
            continue;
        }
        const QByteArray utf8 = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1).toUtf8();
        for (unsigned char c : utf8)
            out += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
    }
    out.replace(QLatin1Char('#'), QLatin1String("%23"));
    out.replace(QLatin1Char('^'), QLatin1String("%5E"));
    out.replace(QLatin1Char('&'), QLatin1String("%26"));
    out.replace(QLatin1Char('+'), QLatin1String("%2B"));
    return out;
}

QString RemoveLineBreaks(const QString& text)
{
    QString s = text;
    s.remove(QLatin1Char('\r'));
    s.remove(QLatin1Char('\n'));
    s.remove(QChar(0));
    return s;
}

QString SanitizeFileName(const QString& text)
{
    QString s = text;
    for (QChar c : QStringLiteral("\\/:*?\"<>|"))
        s.remove(c);
    s = RemoveLineBreaks(s);
    while (s.startsWith(QLatin1Char('.')))
        s.remove(0, 1);
    while (s.endsWith(QLatin1Char('.')))
        s.chop(1);

    // Cut to 250 bytes of the system code page, at a character boundary so that
    // no half character is left behind.
    constexpr int maxBytes = 250;
    if (SystemCodePage::encode(s).size() > maxBytes) {
        QString cut;
        int bytes = 0;
        const QList<uint> cps = s.toUcs4();
        for (uint cp : cps) {
            const QString ch = QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1);
            const int n = int(SystemCodePage::encode(ch).size());
            if (bytes + n > maxBytes)
                break;
            bytes += n;
            cut += ch;
        }
        s = cut;
    }
    return TrimSpaces(s);
}

QString FileNameFromPath(const QString& addressOrPath, bool stripExtension)
{
    QString s = addressOrPath;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = s.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        s = TrimSpaces(s.mid(slash + 1));
    if (stripExtension) {
        const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0)
            s = TrimSpaces(s.left(dot));
    }
    return s;
}

QString MakeFolderPath(const QString& path)
{
    QString p = path;
    if (p == QLatin1String("~") || p.startsWith(QLatin1String("~/")))
        p = QDir::homePath() + p.mid(1);
    const QStringList pieces = p.split(QLatin1Char('/'));
    QString result = pieces.value(0);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString& raw = pieces.at(i);
        if (raw.isEmpty())
            break;
        const QString piece = SanitizeFileName(raw);
        if (piece.isEmpty()) {
            Prompter::instance().message(QStringLiteral("文件夹名称有误！不能创建文件夹！"), MessageIcon::Error);
            break;
        }
        result += QLatin1Char('/') + piece;
        if (!QFileInfo::exists(result))
            QDir().mkdir(result);  // a failure shows up as a missing result below
    }
    if (!result.isEmpty() && QFileInfo::exists(result))
        return result;
    return QString();
}

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo fi(path);
    return fi.exists() && !fi.isDir();
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

bool IsFormLoaded(const QString& name)
{
    return FormRegistry::isLoaded(name);
}

bool ControlExists(const QObject* control)
{
    return control != nullptr;
}

QString ShortPathOf(const QString& path)
{
    return path;
}

} // namespace dh
