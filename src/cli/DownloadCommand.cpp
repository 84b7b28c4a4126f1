// docharvest-cli download: collected links to files on disk, with the engine
// of the download window. Options, the reading of the links, the checks made
// before anything starts.
#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "cli/DownloadCommand.h"

#include "app/Helpers.h"
#include "app/ServiceAddress.h"
#include "download/DownloadScheduler.h"
#include "download/Naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>

#include <cstdio>

namespace dh::cli {

namespace {

void err(const QString& text)
{
    errLine(text);
}

// The type of a plain address: the extension of its last segment, if any.
QString typeFromAddress(const QString& url)
{
    QString base;
    return splitNameAndExtension(QUrl(url).path(), &base).toLower();
}

bool wholeNumber(const QString& text, int low, int high, int* out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

} // namespace

QString downloadOptionsHelp()
{
    return QStringLiteral(
        "  --method 1|2            1: one file at a time over one connection (sends the referring page,\n"
        "                          can use --proxy); 2: parallel transfers (default 2)\n"
        "  --threads N             parallel transfers of method 2, 1-6 (default 3)\n"
        "  --pause S               seconds between two files (两个文件下载间隔), 0-600 (default 0)\n"
        "  --same-name P           skip | overwrite | rename: a file of that name exists (default rename)\n"
        "  --names title|url       name files after the link title or the address (default title)\n"
        "  --max-size MB           skip files above MB megabytes (default: the setting 文件最大值)\n"
        "  --proxy HOST:PORT       method 1's proxy (default: the proxy settings)\n"
        "  --retries N             try a transfer that failed on the way (refused, cut, timed out,\n"
        "                          408/429/5xx) again up to N times, 0-10 (default: the setting\n"
        "                          失败重试次数, 3); 0: no retries\n"
        "  --per-host K            at most K transfers at once per server, 0-6 (default: the setting\n"
        "                          每个服务器同时下载数, 2); 0: no limit\n"
        "  --redownload R          failed | pages | both: put such rows back into the queue when the list\n"
        "                          is through (default: no re-download)\n"
        "  --redownload-rounds N   at most N re-download rounds (default 0: rounds go on while each one\n"
        "                          recovers a row)\n"
        "  --stop-after-bad        stop once 5 or more rows failed or are web pages\n"
        "  --report FILE           write a TSV line per row: title, url, state, path, bytes, type,\n"
        "                          message; state is done, skipped, failed, page or cancelled; a\n"
        "                          failed row's message says why\n"
        "                          (\"-\": standard output; default: no report)\n"
        "  --quiet                 print only failed rows, web pages and the summary\n"
        "exit codes: 0 every row done or skipped, 1 a row failed, is a web page or was not reached,\n"
        "            2 bad usage or unreadable input, 130 Ctrl-C, 143 SIGTERM");
}

namespace {

QList<QCommandLineOption> downloadOptionList()
{
    return {valueOption("links", "FILE"), valueOption("out", "DIR"), valueOption("method", "N"),
            valueOption("threads", "N"), valueOption("pause", "S"), valueOption("same-name", "P"),
            valueOption("names", "N"), valueOption("max-size", "MB"), valueOption("retries", "N"),
            valueOption("per-host", "K"), valueOption("proxy", "HOST:PORT"), valueOption("redownload", "R"),
            valueOption("redownload-rounds", "N"), valueOption("report", "FILE"),
            QCommandLineOption(QStringList{QStringLiteral("stop-after-bad")}),
            QCommandLineOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")}),
            QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")})};
}

// Harvest's search options, and whatever else was given, as arguments for
// the search command, which judges them itself.
QStringList searchArguments(const QCommandLineParser& p)
{
    QStringList args;
    for (const QCommandLineOption& s : searchOptions()) {
        const QString name = s.names().constFirst();
        if (name == QLatin1String("out") || !p.isSet(name))
            continue;
        if (s.valueName().isEmpty())
            args << QStringLiteral("--") + name;
        for (const QString& v : s.valueName().isEmpty() ? QStringList() : p.values(name))
            args << QStringLiteral("--") + name << v;
    }
    return args + p.positionalArguments();
}

// The addresses given as arguments; false with *error at the first that is
// not an http or https one.
bool takeAddresses(const QStringList& args, DownloadOptions* o, QString* error)
{
    for (const QString& a : args) {
        if (!isWebAddress(a)) {
            *error = QStringLiteral("'%1' is not an http or https address").arg(plainField(a));
            return false;
        }
        o->urls << a;
    }
    return true;
}

} // namespace

ParseOutcome parseDownloadArgs(const QStringList& args, DownloadOptions* o, QString* error, bool forHarvest,
                               QStringList* rest)
{
    QCommandLineParser p;
    QList<QCommandLineOption> options = downloadOptionList();
    if (forHarvest) {
        for (const QCommandLineOption& s : searchOptions()) {
            if (s.names().constFirst() != QLatin1String("out"))  // harvest's --out is the folder
                options << s;
        }
    }
    const OptionProblem problem = parseOptions(p, options, args);
    if (problem.kind == OptionProblem::MissingValue) {
        *error = QStringLiteral("%1 needs a value").arg(problem.argument);
        return ParseOutcome::UsageError;
    }
    if (problem.kind == OptionProblem::Unknown) {
        *error = QStringLiteral("unknown option %1").arg(problem.argument);
        return ParseOutcome::UsageError;
    }
    if (p.isSet(QStringLiteral("help")))
        return ParseOutcome::Help;
    const auto set = [&](const char* name) { return p.isSet(QString::fromLatin1(name)); };
    const auto value = [&](const char* name) { return p.value(QString::fromLatin1(name)); };
    const auto bad = [&](const char* name, const QString& what) {
        *error = QStringLiteral("--%1 %2: %3").arg(QString::fromLatin1(name), value(name), what);
        return ParseOutcome::UsageError;
    };
    if (set("links") && forHarvest) {
        *error = QStringLiteral("--links: harvest downloads the links its search finds");
        return ParseOutcome::UsageError;
    }
    o->linksFile = value("links");
    o->outDir = value("out");
    if (set("method") && !wholeNumber(value("method"), 1, 2, &o->method))
        return bad("method", QStringLiteral("must be 1 or 2"));
    if (set("threads") && !wholeNumber(value("threads"), 1, 6, &o->threads))
        return bad("threads", QStringLiteral("must be a whole number from 1 to 6"));
    if (set("pause") && !wholeNumber(value("pause"), 0, 600, &o->pause))
        return bad("pause", QStringLiteral("must be a whole number of seconds from 0 to 600"));
    if (set("same-name")) {
        const QString v = value("same-name");
        if (v == QLatin1String("skip"))
            o->sameName = SameNamePolicy::Skip;
        else if (v == QLatin1String("overwrite"))
            o->sameName = SameNamePolicy::Overwrite;
        else if (v == QLatin1String("rename"))
            o->sameName = SameNamePolicy::Rename;
        else
            return bad("same-name", QStringLiteral("must be skip, overwrite or rename"));
    }
    if (set("names")) {
        const QString v = value("names");
        if (v != QLatin1String("title") && v != QLatin1String("url"))
            return bad("names", QStringLiteral("must be title or url"));
        o->namesFromAddress = v == QLatin1String("url");
    }
    if (set("max-size")) {
        int mb = 0;
        if (!wholeNumber(value("max-size"), 0, 1024 * 1024, &mb))
            return bad("max-size", QStringLiteral("must be a whole number of megabytes"));
        o->maxSizeMB = mb;
    }
    if (set("retries")) {
        int n = 0;
        if (!wholeNumber(value("retries"), 0, 10, &n))
            return bad("retries", QStringLiteral("must be a whole number from 0 to 10"));
        o->retries = n;
    }
    if (set("per-host")) {
        int n = 0;
        if (!wholeNumber(value("per-host"), 0, DownloadScheduler::kMaxSlots, &n))
            return bad("per-host", QStringLiteral("must be a whole number from 0 to 6"));
        o->perHost = n;
    }
    if (set("proxy")) {
        const QString v = value("proxy");
        const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
        int port = 0;
        if (colon <= 0 || !wholeNumber(v.mid(colon + 1), 1, 65535, &port))
            return bad("proxy", QStringLiteral("must be HOST:PORT"));
        o->proxyHost = v.left(colon);
        o->proxyPort = QString::number(port);
    }
    if (set("redownload")) {
        const QString v = value("redownload");
        if (v == QLatin1String("failed"))
            o->redownloadChoice = 0;
        else if (v == QLatin1String("pages"))
            o->redownloadChoice = 1;
        else if (v == QLatin1String("both"))
            o->redownloadChoice = 2;
        else
            return bad("redownload", QStringLiteral("must be failed, pages or both"));
    }
    if (set("redownload-rounds") && !wholeNumber(value("redownload-rounds"), 0, 1000, &o->redownloadRounds))
        return bad("redownload-rounds", QStringLiteral("must be a whole number from 0 to 1000"));
    o->reportFile = value("report");
    o->stopAfterBad = set("stop-after-bad");
    o->quiet = set("quiet");
    if (forHarvest)
        *rest = searchArguments(p);
    else if (!takeAddresses(p.positionalArguments(), o, error))
        return ParseOutcome::UsageError;
    if (o->outDir.isEmpty()) {
        *error = QStringLiteral("--out DIR is required");
        return ParseOutcome::UsageError;
    }
    if (!forHarvest && o->linksFile.isEmpty() && o->urls.isEmpty()) {
        *error = QStringLiteral("give --links FILE or one or more addresses");
        return ParseOutcome::UsageError;
    }
    if (o->redownloadChoice < 0 && o->redownloadRounds > 0) {
        *error = QStringLiteral("--redownload-rounds needs --redownload");
        return ParseOutcome::UsageError;
    }
    return ParseOutcome::Run;
}

bool parseLinksTsv(const QByteArray& bytes, std::vector<LinkRow>* rows, QString* error)
{
    QString text;
    if (int bad = 0; !decodeUserText(bytes, &text, &bad)) {
        *error = QStringLiteral("line %1: %2").arg(bad).arg(notTextMessage());
        return false;
    }
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        if (rows->empty() && f.size() >= 3 && f[0].trimmed().compare(QLatin1String("title"), Qt::CaseInsensitive) == 0
            && f[2].trimmed().compare(QLatin1String("url"), Qt::CaseInsensitive) == 0)
            continue;  // the header
        if (f.size() < 3) {
            *error = QStringLiteral("line %1: %2 column%3, expected title, type, url and referer separated by tabs")
                         .arg(n + 1)
                         .arg(f.size())
                         .arg(f.size() == 1 ? "" : "s");
            return false;
        }
        const QString url = f[2].trimmed();
        if (!isWebAddress(url)) {
            *error = QStringLiteral("line %1: '%2' is not an http or https address").arg(n + 1).arg(plainField(url));
            return false;
        }
        rows->push_back({f[0], f[1].trimmed().toLower(), url, f.size() > 3 ? f[3].trimmed() : QString()});
    }
    return true;
}

bool readLinks(const DownloadOptions& o, std::vector<LinkRow>* rows, QString* error)
{
    if (!o.linksFile.isEmpty()) {
        QFile f;
        const bool stdinput = o.linksFile == QLatin1String("-");
        if (stdinput)
            f.open(stdin, QIODevice::ReadOnly);
        else
            f.setFileName(o.linksFile);
        if (!stdinput && !f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(o.linksFile, f.errorString());
            return false;
        }
        QString lineError;
        if (!parseLinksTsv(f.readAll(), rows, &lineError)) {
            *error = (stdinput ? QStringLiteral("standard input") : o.linksFile) + QStringLiteral(", ") + lineError;
            return false;
        }
    }
    // An address on its own has no title: it is named after the address (原文件名).
    for (const QString& url : o.urls)
        rows->push_back({nameFromAddress(url), typeFromAddress(url), url, QString()});
    return true;
}

bool prepareOutputFolder(const QString& dir, QString* absolute, QString* error)
{
    QString path = dir;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    const QFileInfo fi(path);
    if (fi.exists() && !fi.isDir()) {
        *error = QStringLiteral("--out %1 is a file, not a folder").arg(dir);
        return false;
    }
    if (!fi.exists() && !QDir().mkpath(path)) {
        *error = QStringLiteral("--out %1: the folder cannot be created").arg(dir);
        return false;
    }
    QString abs = QFileInfo(path).absoluteFilePath();
    QTemporaryFile probe(abs + QStringLiteral("/.docharvest-probe-XXXXXX"));
    if (!probe.open()) {
        *error = QStringLiteral("--out %1: the folder cannot be written to").arg(dir);
        return false;
    }
    if (!abs.endsWith(QLatin1Char('/')))
        abs += QLatin1Char('/');
    *absolute = abs;
    return true;
}

bool checkReportFile(const QString& file, QString* error)
{
    if (file.isEmpty() || file == QLatin1String("-"))
        return true;
    const QFileInfo fi(file);
    if (fi.isDir()) {
        *error = QStringLiteral("--report %1 is a folder").arg(file);
        return false;
    }
    QTemporaryFile probe(fi.absolutePath() + QStringLiteral("/.docharvest-probe-XXXXXX"));
    if (!probe.open()) {
        *error = QStringLiteral("--report %1: its folder cannot be written to").arg(file);
        return false;
    }
    return true;
}

namespace {

void downloadUsage(FILE* to)
{
    const QString text = QStringLiteral(
        "usage: docharvest-cli download (--links FILE | URL...) --out DIR [options]\n"
        "  --links FILE            the TSV that search writes (title, type, url, referer; UTF-8 or GBK),\n"
        "                          \"-\" for standard input; addresses given as arguments are named after\n"
        "                          the address\n"
        "  --out DIR               the folder the files go to (made when missing)\n")
        + downloadOptionsHelp() + QLatin1Char('\n');
    writeText(to, text);
}

int runDownloadCommand(const QStringList& args)
{
    DownloadOptions o;
    QString error;
    switch (parseDownloadArgs(args, &o, &error)) {
    case ParseOutcome::Help: downloadUsage(stdout); return 0;
    case ParseOutcome::UsageError:
        err(QStringLiteral("docharvest-cli download: ") + error);
        err(QStringLiteral("(docharvest-cli download --help lists the options)"));
        return 2;
    case ParseOutcome::Run: break;
    }
    std::vector<LinkRow> rows;
    if (!readLinks(o, &rows, &error)) {
        err(QStringLiteral("docharvest-cli download: ") + error);
        return 2;
    }
    QString folder;
    if (!checkReportFile(o.reportFile, &error) || !prepareOutputFolder(o.outDir, &folder, &error)) {
        err(QStringLiteral("docharvest-cli download: ") + error);
        return 2;
    }
    o.outDir = folder;
    return runDownload(o, rows);
}

const CliCommand downloadCommand("download", "download collected links with the download window's engine",
                                 runDownloadCommand);

} // namespace

} // namespace dh::cli
