#include "cli/CliCommand.h"
#include "platform/SystemCodePage.h"

#include <QStringDecoder>

#include <vector>

namespace dh::cli {

namespace {
std::vector<const CliCommand*>& registry()
{
    static std::vector<const CliCommand*> r;
    return r;
}
} // namespace

CliCommand::CliCommand(const char* n, const char* s, Runner r) : name(n), summary(s), run(std::move(r))
{
    registry().push_back(this);
}

const std::vector<const CliCommand*>& commands()
{
    return registry();
}

QString decodeUserText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = SystemCodePage::decode(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString tsvField(QString s)
{
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

} // namespace dh::cli
