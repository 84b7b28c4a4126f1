#include "app/AppGlobals.h"
#include "app/AppInfo.h"
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
    g.SearchBaseAddress = st.get(dh::keys::SearchServiceBase);
    g.UpdateBaseAddress = st.get(dh::keys::UpdateServiceBase);

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
        g.SearchBaseAddress = p.value(searchOpt);
    if (p.isSet(updateOpt))
        g.UpdateBaseAddress = p.value(updateOpt);

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
