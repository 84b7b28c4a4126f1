// docharvest-cli harvest: search, then download what was found, in one run.
// The search step is the search command itself; its links are kept in
// DIR/links.tsv and go to the download step from there.
#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "cli/DownloadCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace dh::cli {

namespace {

void err(const QString& text)
{
    errLine(text);
}

void harvestUsage(FILE* to)
{
    const QString text = QStringLiteral(
        "usage: docharvest-cli harvest --keywords FILE --out DIR [search options] [download options]\n"
        "Searches every keyword group, writes the links to DIR/links.tsv and downloads them into DIR.\n"
        "search options (those of docharvest-cli search):\n"
        "  --keywords FILE         one keyword group per line (UTF-8 or GBK)\n"
        "  --types LIST            document types to search, in any order (default: pdf,doc,ppt,xls)\n"
        "  --whole                 search every keyword group as one whole phrase\n"
        "  --delay S               pause between result pages in seconds, 0-120 (default 4)\n"
        "  --max-pages N           result pages per query at most, 0 for no cap (default 100)\n"
        "  --search-base URL       the search service (default: setting 设置/搜索服务地址)\n"
        "  --profile NAME|FILE     the service profile (default: setting 设置/搜索服务配置, else Quorvex)\n"
        "download options (those of docharvest-cli download):\n"
        "  --out DIR               the folder for links.tsv and the files (made when missing)\n")
        + downloadOptionsHelp()
        + QStringLiteral("\n            3 the search met the verification page, or a query page could not be loaded or was not\n"
                         "              a result page (what it found is still downloaded)\n");
    writeText(to, text);
}

// The folders that making dir will create, deepest first.
QStringList missingFolders(const QString& dir)
{
    QString path = dir;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    QStringList missing;
    for (QFileInfo fi(QFileInfo(path).absoluteFilePath()); !fi.exists() && !fi.isRoot();
         fi = QFileInfo(fi.absolutePath()))
        missing << fi.absoluteFilePath();
    return missing;
}

int runHarvest(const QStringList& args)
{
    DownloadOptions o;
    QString error;
    QStringList searchArgs;
    switch (parseDownloadArgs(args, &o, &error, true, &searchArgs)) {
    case ParseOutcome::Help: harvestUsage(stdout); return 0;
    case ParseOutcome::UsageError:
        err(QStringLiteral("docharvest-cli harvest: ") + error);
        err(QStringLiteral("(docharvest-cli harvest --help lists the options)"));
        return 2;
    case ParseOutcome::Run: break;
    }
    if (!searchArgs.contains(QStringLiteral("--keywords"))) {
        err(QStringLiteral("docharvest-cli harvest: --keywords FILE is required"));
        return 2;
    }
    const CliCommand* search = nullptr;
    for (const CliCommand* c : commands()) {
        if (QLatin1String(c->name) == QLatin1String("search"))
            search = c;
    }
    if (!search)
        return 2;
    QString folder;
    const QStringList created = missingFolders(o.outDir);
    if (!checkReportFile(o.reportFile, &error) || !prepareOutputFolder(o.outDir, &folder, &error)) {
        err(QStringLiteral("docharvest-cli harvest: ") + error);
        return 2;
    }
    o.outDir = folder;
    const QString linksFile = folder + QStringLiteral("links.tsv");
    const int searched = search->run(searchArgs + QStringList{QStringLiteral("--out"), linksFile});
    if (searched == 2) {
        // The search refused its options before writing anything: take back
        // the folders this run made, so a typo leaves no trace.
        for (const QString& dir : created)
            QDir().rmdir(dir);  // only while empty
    }
    if (searched != 0 && searched != 3)
        return searched;  // usage error, or stopped

    QFile f(linksFile);
    if (!f.open(QIODevice::ReadOnly)) {
        err(QStringLiteral("docharvest-cli harvest: cannot read %1: %2").arg(linksFile, f.errorString()));
        return 2;
    }
    std::vector<LinkRow> rows;
    if (!parseLinksTsv(f.readAll(), &rows, &error)) {
        err(QStringLiteral("docharvest-cli harvest: %1, %2").arg(linksFile, error));
        return 2;
    }
    f.close();
    const int downloaded = runDownload(o, rows);
    return downloaded == 0 && searched == 3 ? 3 : downloaded;
}

const CliCommand harvestCommand("harvest", "search, then download the links found (links kept in DIR/links.tsv)",
                                runHarvest);

} // namespace

} // namespace dh::cli
