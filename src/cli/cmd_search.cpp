// docharvest-cli search: the batch search and extraction of the search window,
// run with the headless browser; the collected links are written as TSV.

#include "app/AppGlobals.h"
#include "app/SettingsStore.h"
#include "cli/CliCommand.h"
#include "platform/headless/HeadlessBrowser.h"
#include "platform/SystemCodePage.h"
#include "search/SearchEngine.h"
#include "search/SearchQuery.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTextStream>

#include <cstdio>

namespace dh::cli {

namespace {

void err(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void usage()
{
    err(QStringLiteral(
        "usage: docharvest-cli search --keywords FILE [--types pdf,doc,ppt,xls] [--whole]\n"
        "                             [--delay S] [--search-base URL] [--out links.tsv]\n"
        "  --keywords FILE    one keyword group per line (UTF-8 or the system encoding)\n"
        "  --types LIST       document types to search, in any order (default: all four)\n"
        "  --whole            search every keyword group as one whole phrase\n"
        "  --delay S          pause between result pages in seconds, 0-120 (default 4)\n"
        "  --search-base URL  the search service (default: setting 设置/搜索服务地址)\n"
        "  --out FILE         where the links go as UTF-8 TSV (default: standard output)\n"
        "exit codes: 0 done, 2 usage or file error, 3 stopped by the verification page"));
}

// A keyword file is read as UTF-8 when it is valid UTF-8, else in the system code page.
QString decodeKeywords(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = SystemCodePage::decode(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QString tsvField(QString s)
{
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

QByteArray linksTsv(const LinksListModel& links)
{
    QByteArray out = "title\ttype\turl\treferer\n";
    for (const LinkItem& it : links.items()) {
        out += (tsvField(it.Title) + QLatin1Char('\t') + tsvField(it.FileType) + QLatin1Char('\t')
                + tsvField(it.Url) + QLatin1Char('\t') + tsvField(it.Referer) + QLatin1Char('\n'))
                   .toUtf8();
    }
    return out;
}

QCoro::Task<void> runBatch(std::shared_ptr<SearchEngine> engine, QString keywords, int* rc)
{
    co_await engine->Command1Task(std::move(keywords));
    *rc = engine->CaptchaHit ? 3 : 0;
    QCoreApplication::exit(*rc);
}

int runSearch(const QStringList& args)
{
    QString keywordsFile;
    QString outFile;
    QString base;
    QStringList types = searchTypes();
    bool whole = false;
    int delay = 4;

    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto value = [&](QString* into) {
            if (i + 1 >= args.size()) {
                err(QStringLiteral("docharvest-cli search: %1 needs a value").arg(a));
                return false;
            }
            *into = args.at(++i);
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage();
            return 0;
        } else if (a == QLatin1String("--keywords")) {
            if (!value(&keywordsFile))
                return 2;
        } else if (a == QLatin1String("--out")) {
            if (!value(&outFile))
                return 2;
        } else if (a == QLatin1String("--search-base")) {
            if (!value(&base))
                return 2;
        } else if (a == QLatin1String("--whole")) {
            whole = true;
        } else if (a == QLatin1String("--delay")) {
            if (!value(&v))
                return 2;
            bool ok = false;
            delay = v.toInt(&ok);
            if (!ok || delay < 0 || delay > 120) {
                err(QStringLiteral("docharvest-cli search: --delay must be a whole number from 0 to 120"));
                return 2;
            }
        } else if (a == QLatin1String("--types")) {
            if (!value(&v))
                return 2;
            types.clear();
            for (const QString& t : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QString type = t.trimmed().toLower();
                if (!searchTypes().contains(type)) {
                    err(QStringLiteral("docharvest-cli search: unknown type '%1' (pdf, doc, ppt, xls)").arg(t));
                    return 2;
                }
                types << type;
            }
        } else {
            err(QStringLiteral("docharvest-cli search: unknown argument '%1'").arg(a));
            usage();
            return 2;
        }
    }
    if (keywordsFile.isEmpty()) {
        usage();
        return 2;
    }
    QFile kf(keywordsFile);
    if (!kf.open(QIODevice::ReadOnly)) {
        err(QStringLiteral("docharvest-cli search: cannot read %1: %2").arg(keywordsFile, kf.errorString()));
        return 2;
    }
    const QString keywords = decodeKeywords(kf.readAll());
    kf.close();
    if (base.isEmpty())
        base = SettingsStore::instance().get(keys::SearchServiceBase).trimmed();
    // No default service any more: say what is missing instead of asking a
    // relative address.
    if (base.isEmpty()) {
        err(QStringLiteral("docharvest-cli search: no search service: give --search-base URL "
                           "or set 设置/搜索服务地址"));
        return 2;
    }

    // The command line asks nothing: links are collected without a save folder.
    globals().PromptOnExtract = false;
    globals().SearchBaseAddress = base;

    HeadlessBrowser browser;
    auto engine = SearchEngine::create();
    engine->setBrowser(&browser);
    engine->searchBase = base;
    engine->delaySeconds = delay;
    engine->wholeKeywords = whole;
    for (int i = 0; i < 4; ++i)
        engine->typeTicked[size_t(i)] = types.contains(searchTypes().at(i));
    engine->extractOptions.excludedDomain = SettingsStore::instance().get(keys::ExcludedSuffixDomain);

    QString lastPage;
    QString verificationUrl;
    int pageNo = 0;
    QObject::connect(engine.get(), &SearchEngine::verificationPageMet, engine.get(),
                     [&](const QString& url) { verificationUrl = url; });
    QObject::connect(engine.get(), &SearchEngine::queryStarted, engine.get(),
                     [&](const QString& kw, const QString& type, const QString& url) {
                         pageNo = 0;
                         lastPage.clear();
                         err(QStringLiteral("search: %1 (%2) %3").arg(kw, type, url));
                     });
    QObject::connect(engine.get(), &SearchEngine::pageExtracted, engine.get(),
                     [&](const QString& url, int added, int listed) {
                         if (url == lastPage || url.startsWith(QLatin1String("about:")))
                             return;  // the same page read again while paging
                         lastPage = url;
                         ++pageNo;
                         err(QStringLiteral("  page %1: +%2 links, %3 in all  %4")
                                 .arg(pageNo)
                                 .arg(added)
                                 .arg(listed)
                                 .arg(url));
                     });

    int code = 0;
    runBatch(engine, keywords, &code);
    if (engine->batchRunning())
        QCoreApplication::exec();

    const QByteArray tsv = linksTsv(*engine->links());
    if (outFile.isEmpty() || outFile == QLatin1String("-")) {
        std::fwrite(tsv.constData(), 1, size_t(tsv.size()), stdout);
        std::fflush(stdout);
    } else {
        QSaveFile f(outFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(tsv) != tsv.size() || !f.commit()) {
            err(QStringLiteral("docharvest-cli search: cannot write %1").arg(outFile));
            return 2;
        }
    }
    err(QStringLiteral("search: %1 links collected").arg(engine->links()->size()));
    if (code == 3) {
        err(QStringLiteral("docharvest-cli search: stopped: the search service answered with its verification page "
                           "(%1). Open it in a browser, answer the code, and run again with a longer --delay.")
                .arg(verificationUrl));
    }
    engine->setBrowser(nullptr);
    return code;
}

const CliCommand searchCommand("search", "batch search and link extraction (headless), links as TSV", runSearch);

} // namespace

} // namespace dh::cli
