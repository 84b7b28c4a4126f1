#include "app/AppInfo.h"
#include "cli/CliCommand.h"
#include "cli/CliOutput.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

// docharvest-cli <command> [arguments]: the engine without windows.
int main(int argc, char** argv)
{
    // A closed pipe (`docharvest-cli download ... 2>&1 | head`) must not end a
    // run before it has written its files and its report.
    dh::cli::ignoreBrokenPipes();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(dh::programTitle());
    QCoreApplication::setApplicationName(dh::programTitle());
    QStringList args = app.arguments();
    args.removeFirst();

    auto usage = [](FILE* to) {
        std::fprintf(to, "usage: docharvest-cli <command> [arguments]\n\ncommands:\n");
        for (const auto* c : dh::cli::commands())
            std::fprintf(to, "  %-12s %s\n", c->name, c->summary);
    };
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
        usage(args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    if (args.first() == QLatin1String("--version")) {
        std::printf("%s %s\n", qPrintable(dh::programTitle()), qPrintable(dh::programVersion()));
        return 0;
    }
    const QString name = args.takeFirst();
    for (const auto* c : dh::cli::commands()) {
        if (name == QLatin1String(c->name))
            return c->run(args);
    }
    dh::cli::errLine(QStringLiteral("docharvest-cli: unknown command '%1'\n").arg(dh::cli::plainField(name)));
    usage(stderr);
    return 2;
}
