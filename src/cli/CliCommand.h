#pragma once
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

} // namespace dh::cli
