#include "demo/DemoService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

// Stand-alone demo service: docharvest-demo-service --port N [--test-routes]
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("docharvest-demo-service"));
    QCommandLineParser p;
    p.addHelpOption();
    QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."),
                               QStringLiteral("N"), QStringLiteral("0"));
    QCommandLineOption rateOpt(QStringLiteral("rate-pages"),
                               QStringLiteral("Result pages allowed within the rate window (negative: no limit)."), QStringLiteral("N"),
                               QStringLiteral("8"));
    QCommandLineOption windowOpt(QStringLiteral("rate-window"), QStringLiteral("Rate window in seconds."),
                                 QStringLiteral("S"), QStringLiteral("10"));
    QCommandLineOption captchaOpt(QStringLiteral("captcha-timeout"),
                                  QStringLiteral("Seconds until the verification page lifts by itself."),
                                  QStringLiteral("S"), QStringLiteral("30"));
    QCommandLineOption versionOpt(QStringLiteral("newver"), QStringLiteral("Version text served as newver.txt."),
                                  QStringLiteral("TEXT"), QStringLiteral("1.0.0"));
    QCommandLineOption pagesOpt(QStringLiteral("pages"),
                                QStringLiteral("Result pages per query (0: 3 to 6, derived from the query)."),
                                QStringLiteral("N"), QStringLiteral("0"));
    QCommandLineOption resultsOpt(QStringLiteral("results"), QStringLiteral("Results on each result page."),
                                  QStringLiteral("N"), QStringLiteral("10"));
    QCommandLineOption testRoutesOpt(QStringLiteral("test-routes"),
                                     QStringLiteral("Also serve the transfer, browser-test and hostile routes "
                                                    "(for tests and benchmarks)."));
    p.addOptions({portOpt, rateOpt, windowOpt, captchaOpt, versionOpt, pagesOpt, resultsOpt, testRoutesOpt});
    p.process(app);

    dh::demo::DemoOptions o = dh::demo::DemoOptions::builtIn();
    o.testRoutes = p.isSet(testRoutesOpt);
    o.rateLimitPages = p.value(rateOpt).toInt();
    o.rateLimitWindowSeconds = p.value(windowOpt).toInt();
    o.captchaTimeoutSeconds = p.value(captchaOpt).toInt();
    o.versionText = p.value(versionOpt);
    o.pagesPerQuery = p.value(pagesOpt).toInt();
    o.resultsPerPage = std::max(1, p.value(resultsOpt).toInt());
    dh::demo::DemoService service(o);
    if (!service.start(quint16(p.value(portOpt).toUInt()))) {
        std::fprintf(stderr, "docharvest-demo-service: cannot listen on port %s\n",
                     qPrintable(p.value(portOpt)));
        return 1;
    }
    std::printf("%s\n", qPrintable(service.baseUrl()));
    std::fflush(stdout);
    return app.exec();
}
