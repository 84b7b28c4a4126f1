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

QCommandLineOption valueOption(const char* name, const char* valueName)
{
    return QCommandLineOption(QString::fromLatin1(name), QString(), QString::fromLatin1(valueName));
}

OptionProblem parseOptions(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
                           const QStringList& args)
{
    parser.addOptions(options);
    // "-q" and "-h" are names of their own; a single dash never bundles letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (parser.parse(QStringList{QStringLiteral("docharvest-cli")} + args))
        return {};
    const auto nameOf = [](const QString& a) {
        const QString n = a.mid(a.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype eq = n.indexOf(QLatin1Char('='));
        return eq < 0 ? n : n.left(eq);
    };
    const QStringList unknown = parser.unknownOptionNames();
    for (const QString& a : args) {
        if (a.startsWith(QLatin1Char('-')) && a.size() > 1 && unknown.contains(nameOf(a)))
            return {OptionProblem::Unknown, a};
    }
    // A flag given a value ("--quiet=yes") is not an option either.
    for (const QString& a : args) {
        if (!a.startsWith(QLatin1Char('-')) || !a.contains(QLatin1Char('=')))
            continue;
        for (const QCommandLineOption& o : options) {
            if (o.valueName().isEmpty() && o.names().contains(nameOf(a)))
                return {OptionProblem::Unknown, a};
        }
    }
    // Otherwise an option that needs a value ended the arguments.
    return {OptionProblem::MissingValue, args.isEmpty() ? QString() : args.last()};
}

} // namespace dh::cli
