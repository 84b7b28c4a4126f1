#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "gui/ServiceMode.h"
#include "gui/UpdateCheckWiring.h"
#include "gui/CacheWiring.h"
#include "gui/DesktopStyle.h"
#include "gui/StartWindow.h"
#include "platform/desktop/QtPrompter.h"
#include "platform/desktop/QtSoundPlayer.h"
#include "platform/desktop/Shell.h"
#include "platform/desktop/Translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// Every option the program understands; --help lists them all.
struct Options {
    QCommandLineOption demo{QStringLiteral("demo"),
                            QStringLiteral("搜索和更新都使用内置的演示服务（没有设置搜索服务时也用它）。")};
    QCommandLineOption search{QStringLiteral("search-base"),
                              QStringLiteral("搜索服务地址（http:// 或 https://），优先于设置 设置/搜索服务地址。"),
                              QStringLiteral("网址")};
    QCommandLineOption update{QStringLiteral("update-base"),
                              QStringLiteral("更新服务地址，优先于设置 设置/更新服务地址；没有时启动时不检查更新。"),
                              QStringLiteral("网址")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("显示版本号后退出。")};

    void addTo(QCommandLineParser& p)
    {
        p.setApplicationDescription(QStringLiteral(
            "DocHarvest：搜索文档并批量下载。\n"
            "设置：~/.config/DocHarvest/DocHarvest.ini；数据：~/.local/share/DocHarvest/；"
            "浏览器缓存：~/.cache/DocHarvest/。"));
        p.addHelpOption();
        p.addOptions({demo, search, update, version});
    }
};

bool asksForHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* h : {"-h", "--help", "-?", "--help-all"}) {
            if (std::strcmp(argv[i], h) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // Answer --version without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", qPrintable(dh::programTitle()), qPrintable(dh::programVersion()));
            return 0;
        }
    }
    // Help, too, needs no display: a core application is enough to print it.
    if (asksForHelp(argc, argv)) {
        QCoreApplication core(argc, argv);
        dh::installQtChineseTranslations(core);  // "用法：" and the help option's own line
        QCoreApplication::setApplicationName(dh::programTitle());
        QCoreApplication::setApplicationVersion(dh::programVersion());
        QCommandLineParser p;
        Options o;
        o.addTo(p);
        p.process(core);  // prints the help and exits
        return 0;
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
    dh::installQtChineseTranslations(app);
    dh::installDesktopStyle(app);

    QCommandLineParser p;
    Options o;
    o.addTo(p);
    p.process(app);

    QString error;
    const auto optional = [&](const QCommandLineOption& opt) {
        return p.isSet(opt) ? std::optional<QString>(p.value(opt)) : std::nullopt;
    };
    // Service addresses given here must be http or https (an empty one means
    // none, as in the settings).
    for (const QCommandLineOption* opt : {&o.search, &o.update}) {
        const QString value = p.value(*opt).trimmed();
        if (p.isSet(*opt) && !value.isEmpty()) {
            if (const QString why = dh::serviceBaseProblem(value); !why.isEmpty()) {
                std::fprintf(stderr, "docharvest: --%s: %s\n", qPrintable(opt->names().first()), qPrintable(why));
                return 2;
            }
        }
    }
    if (!dh::services::resolveAtStartup(p.isSet(o.demo), optional(o.search), optional(o.update), &error)) {
        std::fprintf(stderr, "docharvest: %s\n", qPrintable(error));
        return 1;
    }
    if (dh::services::demoMode())
        std::fprintf(stderr, "docharvest: %s, demo service at %s\n", qPrintable(dh::services::demoModeText()),
                     qPrintable(dh::globals().searchBaseAddress));

    dh::QtPrompter prompter;
    dh::Prompter::setInstance(&prompter);
    dh::QtSoundPlayer cues;
    dh::CuePlayer::setInstance(&cues);
    dh::DesktopShell shell;
    dh::Shell::setInstance(&shell);

    dh::installUpdateCheck();
    dh::installCacheClearingAtExit();
    auto* cover = new dh::StartWindow();
    cover->setAttribute(Qt::WA_DeleteOnClose);
    cover->load();
    const int rc = app.exec();
    dh::Shell::setInstance(nullptr);
    dh::CuePlayer::setInstance(nullptr);
    dh::Prompter::setInstance(nullptr);
    dh::services::stopDemoService();
    return rc;
}
