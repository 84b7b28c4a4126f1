#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace dh::cli {

// One sub-command of docharvest-cli. Each command file registers itself with a
// static CliCommand object; run() gets the arguments after the command name and
// returns the exit code. Commands that need the event loop run it themselves.
struct CliCommand {
    using Runner = std::function<int(const QStringList& args)>;
    CliCommand(const char* name, const char* summary, Runner run);

    const char* name;
    const char* summary;
    Runner run;
};

const std::vector<const CliCommand*>& commands();

// A text file the user gave (keywords, links): UTF-8 when it is valid UTF-8,
// else the system code page; a leading byte-order mark is dropped.
QString decodeUserText(const QByteArray& bytes);

// A value for one TSV column: tabs and line breaks become spaces.
QString tsvField(QString s);

} // namespace dh::cli
