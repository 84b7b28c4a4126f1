#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "demo/DemoService.h"
#include "gui/UpdateCheckWiring.h"
#include "gui/CacheWiring.h"
#include "gui/fCover.h"
#include "platform/desktop/QtPrompter.h"
#include "platform/desktop/QtSoundPlayer.h"
#include "platform/desktop/Shell.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Answer --version without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", qPrintable(dh::programTitle()), qPrintable(dh::programVersion()));
            return 0;
        }
    }
    // Chromium refuses its sandbox as root; the embedded browser then needs it off.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(dh::programTitle());
    QCoreApplication::setApplicationName(dh::programTitle());
    QCoreApplication::setApplicationVersion(dh::programVersion());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/docharvest.svg")));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("DocHarvest: search documents and download them in bulk."));
    p.addHelpOption();
    QCommandLineOption demoOpt(QStringLiteral("demo"),
                               QStringLiteral("Start the local demo service and use it for search and updates."));
    QCommandLineOption searchOpt(QStringLiteral("search-base"), QStringLiteral("Search service address."),
                                 QStringLiteral("URL"));
    QCommandLineOption updateOpt(QStringLiteral("update-base"), QStringLiteral("Update server address."),
                                 QStringLiteral("URL"));
    QCommandLineOption versionOpt(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    p.addOptions({demoOpt, searchOpt, updateOpt, versionOpt});
    p.process(app);

    auto& st = dh::SettingsStore::instance();
    auto& g = dh::globals();
    // Service addresses are http or https only: a stored one that is not
    // falls back to the default, a command-line one is refused.
    for (auto [key, into] : {std::pair{&dh::keys::SearchServiceBase, &g.SearchBaseAddress},
                             std::pair{&dh::keys::UpdateServiceBase, &g.UpdateBaseAddress}}) {
        QString why;
        *into = dh::ServiceBaseFromSettings(*key, &why);
        if (!why.isEmpty())
            std::fprintf(stderr, "docharvest: setting %s/%s: %s; using %s\n", key->section, key->key, qPrintable(why),
                         qPrintable(*into));
    }
    for (const QCommandLineOption* o : {&searchOpt, &updateOpt}) {
        if (!p.isSet(*o))
            continue;
        if (const QString why = dh::ServiceBaseProblem(p.value(*o)); !why.isEmpty()) {
            std::fprintf(stderr, "docharvest: --%s: %s\n", qPrintable(o->names().first()), qPrintable(why));
            return 2;
        }
    }

    std::unique_ptr<dh::demo::DemoService> demo;
    if (p.isSet(demoOpt)) {
        demo = std::make_unique<dh::demo::DemoService>();
        if (!demo->start()) {
            std::fprintf(stderr, "docharvest: the demo service could not start\n");
            return 1;
        }
        g.SearchBaseAddress = demo->baseUrl();
        g.UpdateBaseAddress = demo->baseUrl();
        std::fprintf(stderr, "docharvest: demo service at %s\n", qPrintable(demo->baseUrl()));
    }
    if (p.isSet(searchOpt))
        g.SearchBaseAddress = p.value(searchOpt).trimmed();
    if (p.isSet(updateOpt))
        g.UpdateBaseAddress = p.value(updateOpt).trimmed();

    dh::QtPrompter prompter;
    dh::Prompter::setInstance(&prompter);
    dh::QtSoundPlayer cues;
    dh::CuePlayer::setInstance(&cues);
    dh::DesktopShell shell;
    dh::Shell::setInstance(&shell);

    dh::installUpdateCheck();
    dh::installCacheClearingAtExit();
    auto* cover = new dh::fCover();
    cover->setAttribute(Qt::WA_DeleteOnClose);
    cover->Form_Load();
    const int rc = app.exec();
    dh::Shell::setInstance(nullptr);
    dh::CuePlayer::setInstance(nullptr);
    dh::Prompter::setInstance(nullptr);
    return rc;
}
