#include "cli/CliCommand.h"
#include "cli/CliOutput.h"

#include <QStringDecoder>

#include <algorithm>
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

bool decodeUserText(const QByteArray& bytes, QString* text, int* badLine)
{
    if (QUtf8StringView(bytes).isValidUtf8()) {
        *text = QString::fromUtf8(bytes);
    } else {
        // Line by line, so that a refusal can say where. A GBK trail byte is
        // never a line feed, so the split cannot cut a character.
        text->clear();
        const QList<QByteArray> lines = bytes.split('\n');
        for (qsizetype n = 0; n < lines.size(); ++n) {
            QStringDecoder gbk("GBK", QStringConverter::Flag::Stateless);
            const QString line = gbk.decode(lines[n]);
            // Bytes GBK does not define come out as U+FFFD or, for 0x80-0xFF
            // singles and the user-defined rows, as private-use characters.
            const bool bad = !gbk.isValid() || gbk.hasError() || std::any_of(line.begin(), line.end(), [](QChar c) {
                return c == QChar::ReplacementCharacter || (c.unicode() >= 0xE000 && c.unicode() <= 0xF8FF);
            });
            if (bad) {
                *badLine = int(n + 1);
                return false;
            }
            if (n > 0)
                *text += QLatin1Char('\n');
            *text += line;
        }
    }
    if (text->startsWith(QChar(0xFEFF)))
        text->remove(0, 1);
    return true;
}

QString notTextMessage()
{
    return QStringLiteral("neither UTF-8 nor GBK text");
}

QString tsvField(QString s)
{
    return plainField(std::move(s));
}

} // namespace dh::cli
