// docharvest-cli search: the batch search and extraction of the search window,
// run with the headless browser; the collected links are written as TSV.

#include "app/AppGlobals.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "cli/CliSignals.h"
#include "platform/headless/HeadlessBrowser.h"
#include "search/SearchEngine.h"
#include "search/ServiceProfile.h"
#include "search/SearchQuery.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace dh::cli {

namespace {

void err(const QString& text)
{
    errLine(text);
}

void usage()
{
    err(QStringLiteral(
        "usage: docharvest-cli search --keywords FILE [--types pdf,doc,ppt,xls] [--whole]\n"
        "                             [--delay S] [--max-pages N] [--search-base URL] [--profile NAME|FILE]\n"
        "                             [--out links.tsv]\n"
        "  --keywords FILE    one keyword group per line (UTF-8 or GBK)\n"
        "  --types LIST       document types to search, in any order (default: all four)\n"
        "  --whole            search every keyword group as one whole phrase\n"
        "  --delay S          pause between result pages in seconds, 0-120 (default 4)\n"
        "  --max-pages N      result pages per query at most, 0 for no cap\n"
        "                     (default: setting fWebSearch/每次查询最多页数, 100)\n"
        "  --search-base URL  the search service, http or https (default: setting 设置/搜索服务地址)\n"
        "  --profile P        the service profile: a profile file, or the name of a built-in or\n"
        "                     imported one (default: setting 设置/搜索服务配置, else Quorvex)\n"
        "  --out FILE         where the links go as UTF-8 TSV (default: standard output); rows are\n"
        "                     written as they are collected and the file replaces FILE at the end\n"
        "Ctrl-C or SIGTERM stops the search like its stop button: the links collected so far are\n"
        "kept in the TSV. A second Ctrl-C ends at once, keeping them too (the same signal again within\n"
        "a second, as GNU timeout sends it, counts once).\n"
        "exit codes: 0 done (links found, or real result pages without any)\n"
        "            2 usage error, or a file or address that cannot be used (checked before searching)\n"
        "            3 a query page could not be loaded or was not a result page, a further result page\n"
        "              could not be loaded, or the service answered with its verification page\n"
        "            130 / 143 stopped by SIGINT / SIGTERM"));
}

QByteArray tsvRow(const LinkItem& it)
{
    return (tsvField(it.title) + QLatin1Char('\t') + tsvField(it.fileType) + QLatin1Char('\t') + tsvField(it.url)
            + QLatin1Char('\t') + tsvField(it.referer) + QLatin1Char('\n'))
        .toUtf8();
}

// The TSV output: rows are written and flushed as they are collected. A file
// is written beside the target under a temporary name and replaces the
// target only when closed, so an existing file is never left half-written.
class TsvOut {
public:
    // Opens the output; false with the reason in *why when it cannot be written.
    bool open(const QString& target, QString* why)
    {
        if (target.isEmpty() || target == QLatin1String("-"))
            return true;
        m_target = target;
        const QFileInfo fi(target);
        if (fi.isDir()) {
            *why = QStringLiteral("%1 is a folder").arg(target);
            return false;
        }
        const QFileInfo dir(fi.absolutePath());
        if (!dir.isDir()) {
            *why = QStringLiteral("the folder %1 does not exist").arg(fi.absolutePath());
            return false;
        }
        m_file = std::make_unique<QTemporaryFile>(fi.absolutePath() + QStringLiteral("/.") + fi.fileName()
                                                  + QStringLiteral(".XXXXXX.part"));
        m_file->setAutoRemove(false);
        if (!m_file->open()) {
            *why = QStringLiteral("cannot write in %1: %2").arg(fi.absolutePath(), m_file->errorString());
            m_file.reset();
            return false;
        }
        return true;
    }

    bool write(const QByteArray& bytes)
    {
        if (!m_file)
            return writeBytes(stdout, bytes);
        m_ok = m_ok && m_file->write(bytes) == bytes.size() && m_file->flush();
        return m_ok;
    }

    // Closes the file and puts it in place of the target.
    bool commit(QString* why)
    {
        if (!m_file)
            return true;
        const QString temp = m_file->fileName();
        // A replaced file keeps its permissions; a new one gets the usual ones.
        const QFileInfo existing(m_target);
        m_file->setPermissions(existing.exists() ? existing.permissions()
                                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                       | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        m_ok = m_ok && m_file->flush() && ::fsync(m_file->handle()) == 0;
        m_file->close();
        m_file.reset();
        if (!m_ok) {
            *why = QStringLiteral("cannot write %1 (the rows so far are in %2)").arg(m_target, temp);
            return false;
        }
        if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(m_target).constData()) != 0) {
            *why = QStringLiteral("cannot replace %1: %2 (the rows are in %3)")
                       .arg(m_target, QString::fromLocal8Bit(std::strerror(errno)), temp);
            return false;
        }
        return true;
    }

private:
    QString m_target;
    std::unique_ptr<QTemporaryFile> m_file;
    bool m_ok = true;
};

QCoro::Task<void> runBatch(std::shared_ptr<SearchEngine> engine, QString keywords)
{
    co_await engine->batchSearchTask(std::move(keywords));
    QCoreApplication::exit(0);
}

} // namespace

QList<QCommandLineOption> searchOptions()
{
    return {valueOption("keywords", "FILE"), valueOption("out", "FILE"), valueOption("search-base", "URL"),
            valueOption("profile", "P"), QCommandLineOption(QStringList{QStringLiteral("whole")}),
            valueOption("delay", "S"), valueOption("max-pages", "N"), valueOption("types", "LIST")};
}

namespace {

// What a search run was asked for, read and checked before the first request.
struct SearchRequest {
    QString keywords;  // the keyword file's text
    QString outFile;
    QString base;
    ServiceProfile profile;
    QStringList types = searchTypes();
    int delay = 4;
    int maxPages = -1;
    bool whole = false;
};

// Reads the options into *r; -1 when the search can start, else the exit
// code (0 after --help, 2 for a usage error or an unusable file or address).
int readSearchRequest(const QStringList& args, SearchRequest* r)
{
    QCommandLineParser p;
    const OptionProblem problem = parseOptions(
        p, searchOptions() << QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}), args);
    if (problem.kind == OptionProblem::MissingValue) {
        err(QStringLiteral("docharvest-cli search: %1 needs a value").arg(problem.argument));
        return 2;
    }
    if (problem.kind == OptionProblem::Unknown || !p.positionalArguments().isEmpty()) {
        const QString what =
            problem.kind == OptionProblem::Unknown ? problem.argument : p.positionalArguments().constFirst();
        err(QStringLiteral("docharvest-cli search: unknown argument '%1'").arg(what));
        usage();
        return 2;
    }
    if (p.isSet(QStringLiteral("help"))) {
        usage();
        return 0;
    }
    const QString keywordsFile = p.value(QStringLiteral("keywords"));
    r->outFile = p.value(QStringLiteral("out"));
    QString& base = r->base;
    base = p.value(QStringLiteral("search-base"));
    const QString profileArg = p.value(QStringLiteral("profile"));
    r->whole = p.isSet(QStringLiteral("whole"));
    if (p.isSet(QStringLiteral("search-base"))) {
        if (const QString why = serviceBaseProblem(base); !why.isEmpty()) {
            err(QStringLiteral("docharvest-cli search: --search-base: %1").arg(why));
            return 2;
        }
    }
    if (p.isSet(QStringLiteral("delay"))) {
        bool ok = false;
        r->delay = p.value(QStringLiteral("delay")).toInt(&ok);
        if (!ok || r->delay < 0 || r->delay > 120) {
            err(QStringLiteral("docharvest-cli search: --delay must be a whole number from 0 to 120"));
            return 2;
        }
    }
    if (p.isSet(QStringLiteral("max-pages"))) {
        bool ok = false;
        r->maxPages = p.value(QStringLiteral("max-pages")).toInt(&ok);
        if (!ok || r->maxPages < 0) {
            err(QStringLiteral("docharvest-cli search: --max-pages must be a whole number, 0 for no cap"));
            return 2;
        }
    }
    if (p.isSet(QStringLiteral("types"))) {
        r->types.clear();
        for (const QString& t : p.value(QStringLiteral("types")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString type = t.trimmed().toLower();
            if (!searchTypes().contains(type)) {
                err(QStringLiteral("docharvest-cli search: unknown type '%1' (pdf, doc, ppt, xls)").arg(t));
                return 2;
            }
            r->types << type;
        }
    }
    // Everything is checked before the first request, so a bad argument never
    // costs a whole search.
    if (keywordsFile.isEmpty()) {
        usage();
        return 2;
    }
    QFile kf(keywordsFile);
    if (!kf.open(QIODevice::ReadOnly)) {
        err(QStringLiteral("docharvest-cli search: cannot read %1: %2").arg(keywordsFile, kf.errorString()));
        return 2;
    }
    if (int bad = 0; !decodeUserText(kf.readAll(), &r->keywords, &bad)) {
        err(QStringLiteral("docharvest-cli search: %1, line %2: %3").arg(keywordsFile).arg(bad).arg(notTextMessage()));
        return 2;
    }
    kf.close();
    ServiceProfile& profile = r->profile;
    profile = activeServiceProfile(SettingsStore::instance());
    if (!profileArg.isEmpty()) {
        QString why;
        const auto chosen = resolveServiceProfile(profileArg, &why);
        if (!chosen) {
            err(QStringLiteral("docharvest-cli search: --profile: %1").arg(why));
            return 2;
        }
        profile = *chosen;
    }
    // A profile with whole addresses needs no service address.
    if (base.isEmpty() && profile.usesBase()) {
        base = SettingsStore::instance().get(keys::searchServiceBase).trimmed();
        // No default service: say what is missing instead of asking a
        // relative address.
        if (base.isEmpty()) {
            err(QStringLiteral("docharvest-cli search: no search service: give --search-base URL "
                               "or set 设置/搜索服务地址"));
            return 2;
        }
        if (const QString why = serviceBaseProblem(base); !why.isEmpty()) {
            err(QStringLiteral("docharvest-cli search: setting 设置/搜索服务地址 in %1: %2; give --search-base URL")
                    .arg(SettingsStore::instance().fileName(), why));
            return 2;
        }
    }
    if (r->maxPages < 0)
        r->maxPages = std::max(0, SettingsStore::instance().getInt(keys::searchPagesPerQuery));
    return -1;
}

// The engine set up as the search window sets it up for the same choices.
void configure(SearchEngine& engine, const SearchRequest& r, Browser* browser)
{
    // The command line asks nothing: links are collected without a save folder.
    globals().promptOnExtract = false;
    globals().searchBaseAddress = r.base;
    engine.setBrowser(browser);
    engine.searchBase = r.base;
    engine.profile = r.profile;
    engine.delaySeconds = r.delay;
    engine.wholeKeywords = r.whole;
    engine.maxPagesPerQuery = r.maxPages;
    for (int i = 0; i < 4; ++i)
        engine.typeTicked[size_t(i)] = r.types.contains(searchTypes().at(i));
    engine.extractOptions.excludedDomain = SettingsStore::instance().get(keys::excludedSuffixDomain);
}

int runSearch(const QStringList& args)
{
    SearchRequest r;
    if (const int code = readSearchRequest(args, &r); code >= 0)
        return code;
    TsvOut out;
    if (QString why; !out.open(r.outFile, &why)) {
        err(QStringLiteral("docharvest-cli search: --out: %1").arg(why));
        return 2;
    }

    HeadlessBrowser browser;
    auto engine = SearchEngine::create();
    configure(*engine, r, &browser);

    QString lastPage;
    QString verificationUrl;
    int pageNo = 0;
    int failedQueries = 0;
    int written = 0;
    bool writeFailed = !out.write("title\ttype\turl\treferer\n");
    // Rows go out as soon as a page has been read; the list only grows here.
    auto writeNewRows = [&] {
        const auto& items = engine->links()->items();
        QByteArray chunk;
        for (; written < int(items.size()); ++written)
            chunk += tsvRow(items[size_t(written)]);
        if (!chunk.isEmpty() && !out.write(chunk) && !writeFailed) {
            // Nothing more can be delivered (the reader of a pipe is gone):
            // searching on would only cost the service.
            writeFailed = true;
            if (engine->batchRunning())
                engine->batchSearch(QString());
        }
    };
    QObject::connect(engine.get(), &SearchEngine::verificationPageMet, engine.get(),
                     [&](const QString& url) { verificationUrl = url; });
    QObject::connect(engine.get(), &SearchEngine::queryStarted, engine.get(),
                     [&](const QString& kw, const QString& type, const QString& url) {
                         pageNo = 0;
                         lastPage.clear();
                         err(QStringLiteral("search: %1 (%2) %3").arg(plainField(kw), type, plainField(url)));
                     });
    QObject::connect(engine.get(), &SearchEngine::pageExtracted, engine.get(),
                     [&](const QString& url, int added, int listed) {
                         writeNewRows();
                         if (url == lastPage || url.startsWith(QLatin1String("about:")))
                             return;  // the same page read again while paging
                         lastPage = url;
                         ++pageNo;
                         err(QStringLiteral("  page %1: +%2 links, %3 in all  %4")
                                 .arg(pageNo)
                                 .arg(added)
                                 .arg(listed)
                                 .arg(plainField(url)));
                     });
    QObject::connect(engine.get(), &SearchEngine::pagingEnded, engine.get(),
                     [&](PagingEnd, const QString& message) { err(QStringLiteral("  paging ended: ") + plainField(message)); });
    QObject::connect(engine.get(), &SearchEngine::queryFailed, engine.get(),
                     [&](const QString& kw, const QString& type, const QString& url, const QString& reason) {
                         ++failedQueries;
                         err(QStringLiteral("docharvest-cli search: query %1 (%2) failed: %3  %4")
                                 .arg(plainField(kw), type, plainField(reason), plainField(url)));
                     });

    // The rows not yet written, the output put in place, and what to say.
    auto finishOutput = [&](int stoppedBy) {
        writeNewRows();
        QString why;
        if (!out.commit(&why) || writeFailed) {
            err(QStringLiteral("docharvest-cli search: %1")
                    .arg(why.isEmpty() ? QStringLiteral("cannot write the output") : why));
            return 2;
        }
        // The same summary as the search window's status bar.
        err(QStringLiteral("search: %1 links collected; %2")
                .arg(engine->links()->size())
                .arg(plainField(engine->batchSummary().text())));
        if (stoppedBy) {
            err(QStringLiteral("search: stopped by signal %1").arg(stoppedBy));
            return 128 + stoppedBy;
        }
        if (engine->captchaHit) {
            err(QStringLiteral("docharvest-cli search: stopped: the search service answered with its verification "
                               "page (%1). Open it in a browser, answer the code, and run again with a longer "
                               "--delay.")
                    .arg(plainField(verificationUrl)));
            return 3;
        }
        if (failedQueries > 0) {
            err(QStringLiteral("docharvest-cli search: %1 %2 failed (see above)")
                    .arg(failedQueries)
                    .arg(failedQueries == 1 ? QStringLiteral("query") : QStringLiteral("queries")));
            return 3;
        }
        return 0;
    };

    // Ctrl-C / SIGTERM: the batch's own stop, so the run winds down normally.
    StopSignals stopSignals(
        [&](int) {
            err(QStringLiteral("search: stopping ..."));
            if (engine->batchRunning())
                engine->batchSearch(QString());
        },
        // Asked twice: the rows so far are put in place and the process ends
        // here, without waiting for the page under way.
        [&](int) { std::_Exit(finishOutput(stopSignals.received())); });

    if (!writeFailed)  // an output that cannot take even the header is not searched for
        runBatch(engine, r.keywords);
    if (engine->batchRunning())
        QCoreApplication::exec();
    const int code = finishOutput(stopSignals.received());
    engine->setBrowser(nullptr);
    return code;
}

const CliCommand searchCommand("search", "batch search and link extraction (headless), links as TSV", runSearch);

} // namespace

} // namespace dh::cli
