#pragma once
#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
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
// else GBK, as pages without a declared charset are read; a leading
// byte-order mark is dropped. False when it is neither, with *badLine the
// first line that is not.
bool decodeUserText(const QByteArray& bytes, QString* text, int* badLine);
// What a refusal of such a file says about the line.
QString notTextMessage();

// A value for one TSV column: tabs and line breaks become spaces, other
// control characters U+FFFD (plainField).
QString tsvField(QString s);

// Reading a command's options. Every command uses a QCommandLineParser with
// its own options; "--name value" and "--name=value" both give a value, and
// the last of a repeated option wins.
struct OptionProblem {
    enum Kind { None, Unknown, MissingValue } kind = None;
    QString argument;  // the argument as given ("--bogus", "-x", "--threads")
};
QCommandLineOption valueOption(const char* name, const char* valueName);
// Adds options to parser and parses args (the arguments after the command name).
OptionProblem parseOptions(QCommandLineParser& parser, const QList<QCommandLineOption>& options,
                           const QStringList& args);

// The search command's options but --help; harvest takes them as well and
// hands them on to its search step.
QList<QCommandLineOption> searchOptions();

} // namespace dh::cli
