#include "ports/SystemCodePage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <clocale>
#include <langinfo.h>

namespace dh {

namespace {
QString& overrideName()
{
    static QString n;
    return n;
}

QString localeEncoding()
{
    // Make sure LC_CTYPE reflects the environment before asking for the code set.
    static const QString cached = [] {
        const char* old = std::setlocale(LC_CTYPE, nullptr);
        const std::string saved = old ? old : "C";
        std::setlocale(LC_CTYPE, "");
        QString cs = QString::fromLatin1(nl_langinfo(CODESET)).toUpper();
        std::setlocale(LC_CTYPE, saved.c_str());
        if (cs.contains(QLatin1String("GB")))  // GBK, GB2312, GB18030 all read as GBK here
            return QStringLiteral("GBK");
        return QStringLiteral("UTF-8");  // the C locale's ASCII is treated as UTF-8, as desktops do
    }();
    return cached;
}
} // namespace

QString SystemCodePage::name()
{
    return overrideName().isEmpty() ? localeEncoding() : overrideName();
}

void SystemCodePage::setName(const QString& n)
{
    overrideName() = n;
}

QByteArray SystemCodePage::encode(const QString& s)
{
    const QString n = name();
    if (n == QLatin1String("UTF-8"))
        return s.toUtf8();
    QStringEncoder enc(n.toLatin1().constData());
    if (!enc.isValid())
        return s.toUtf8();
    return enc.encode(s);
}

QString SystemCodePage::decode(const QByteArray& b)
{
    const QString n = name();
    if (n == QLatin1String("UTF-8"))
        return QString::fromUtf8(b);
    QStringDecoder dec(n.toLatin1().constData());
    if (!dec.isValid())
        return QString::fromUtf8(b);
    return dec.decode(b);
}

} // namespace dh
