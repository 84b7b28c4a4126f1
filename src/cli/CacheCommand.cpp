#include "app/Helpers.h"
#include "cache/CacheViewer.h"
#include "cli/CliCommand.h"
#include "platform/chromiumcache/SimpleCache.h"
#include "utilities/CopyFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <cstdio>

// docharvest-cli cache list [--cache-dir DIR | --all-users] [--format tsv|json]
// docharvest-cli cache extract [--cache-dir DIR] --to DIR [--match TEXT] [--same-name skip|overwrite|rename]
// The cache viewer's listing and copying without a window.
namespace {

using dh::CacheEntry;
using dh::CacheIndex;

const char* kUsage =
    "usage: docharvest-cli cache list [--cache-dir DIR | --all-users] [--format tsv|json]\n"
    "       docharvest-cli cache extract [--cache-dir DIR] --to DIR [--match TEXT]\n"
    "                                    [--same-name skip|overwrite|rename]\n"
    "\n"
    "list     one line per cached document: url, size, type, modified, accessed,\n"
    "         local file, state (ok, damaged, undecodable; file for --all-users rows),\n"
    "         site (the isolation site of the entry) and the reason of its state.\n"
    "  --cache-dir DIR   a browser disk cache folder (default: the program's own\n"
    "                    browser cache)\n"
    "  --all-users       the cache files of every user whose home folder is readable\n"
    "  --format tsv|json (default tsv; tsv starts with a header line)\n"
    "extract  writes the decoded bodies of the listed entries to DIR; damaged or\n"
    "         undecodable entries are never written, nor a body that would decode\n"
    "         beyond 1 GiB, or beyond 10 MB and 1,000 times its stored size; one run\n"
    "         decodes at most 2 GiB. Exit status 1 when one was refused.\n"
    "  --cache-dir DIR   as for list\n"
    "  --to DIR          destination folder (created when missing)\n"
    "  --match TEXT      only entries whose address contains TEXT (any case; default all)\n"
    "  --same-name skip|overwrite|rename   a file of the same name in DIR (default rename)\n";

int usageError(const QString& why)
{
    std::fprintf(stderr, "docharvest-cli cache: %s\n\n%s", qPrintable(why), kUsage);
    return 2;
}

// Where the embedded browser's profile keeps its HTTP cache and where the
// viewer writes cached bodies out.
QString defaultCacheFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                         + QStringLiteral("/DocHarvest/webengine");
    for (const QString& sub : {QStringLiteral("/Cache/Cache_Data"), QStringLiteral("/Cache")}) {
        if (QDir(base + sub).exists())
            return base + sub;
    }
    return base + QStringLiteral("/Cache");
}

QString defaultSidecarFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
           + QStringLiteral("/DocHarvest/cache-files");
}

const char* stateToken(const CacheEntry& e)
{
    if (e.id.isEmpty())
        return "file";
    switch (e.state) {
    case CacheIndex::State::Intact: return "ok";
    case CacheIndex::State::Damaged: return "damaged";
    case CacheIndex::State::Undecodable: return "undecodable";
    case CacheIndex::State::Unchecked: break;
    }
    return "unchecked";
}

QString isoTime(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODate) : QString();
}

QString cell(QString s)
{
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return s;
}

struct Options {
    QString cacheDir;
    bool allUsers = false;
    QString format = QStringLiteral("tsv");
    QString to;
    QString match;
    dh::SameNameOption sameName = dh::SameNameOption::Rename;
    bool help = false;
};

// Parses the options of one sub-command; returns an error text or empty.
QString parse(const QStringList& args, bool extract, Options& o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) -> bool {
            if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1String("--")))
                return false;
            out = args[++i];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--cache-dir")) {
            if (!value(o.cacheDir))
                return QStringLiteral("--cache-dir needs a folder");
        } else if (!extract && a == QLatin1String("--all-users")) {
            o.allUsers = true;
        } else if (!extract && a == QLatin1String("--format")) {
            if (!value(o.format) || (o.format != QLatin1String("tsv") && o.format != QLatin1String("json")))
                return QStringLiteral("--format needs tsv or json");
        } else if (extract && a == QLatin1String("--to")) {
            if (!value(o.to))
                return QStringLiteral("--to needs a folder");
        } else if (extract && a == QLatin1String("--match")) {
            if (i + 1 >= args.size())
                return QStringLiteral("--match needs a text");
            o.match = args[++i];
        } else if (extract && a == QLatin1String("--same-name")) {
            QString v;
            if (!value(v))
                return QStringLiteral("--same-name needs skip, overwrite or rename");
            if (v == QLatin1String("skip"))
                o.sameName = dh::SameNameOption::Skip;
            else if (v == QLatin1String("overwrite"))
                o.sameName = dh::SameNameOption::Overwrite;
            else if (v == QLatin1String("rename"))
                o.sameName = dh::SameNameOption::Rename;
            else
                return QStringLiteral("--same-name needs skip, overwrite or rename, not '%1'").arg(v);
        } else {
            return QStringLiteral("unknown option '%1'").arg(a);
        }
    }
    if (o.allUsers && !o.cacheDir.isEmpty())
        return QStringLiteral("--cache-dir and --all-users exclude each other");
    if (extract && !o.help && o.to.isEmpty())
        return QStringLiteral("extract needs --to DIR");
    return {};
}

// Lists the index and checks every listed body, as the window does.
void listAndCheck(dh::CacheViewer& viewer, CacheIndex& index)
{
    viewer.listMyCache();
    for (const CacheEntry& row : std::vector<CacheEntry>(viewer.rows)) {
        if (row.state == CacheIndex::State::Unchecked)
            viewer.applyCheck(row.id, index.check(row.id));
    }
}

int runList(const Options& o)
{
    const QString folder = o.cacheDir.isEmpty() ? defaultCacheFolder() : o.cacheDir;
    if (!o.allUsers && !QFileInfo(folder).isDir())
        return usageError(QStringLiteral("no cache folder at %1").arg(folder));
    // Local files are only reported, never written, by a listing.
    dh::SimpleCacheIndex index(folder, o.cacheDir.isEmpty() ? defaultSidecarFolder() : QString());
    dh::CacheViewer viewer(&index, dh::defaultCacheLocations(defaultCacheFolder(), defaultSidecarFolder(),
                                                             QDir::homePath()));
    if (o.allUsers)
        viewer.listAllUsersCache();
    else
        listAndCheck(viewer, index);

    if (o.format == QLatin1String("json")) {
        QJsonArray arr;
        for (const CacheEntry& e : viewer.rows) {
            QJsonObject j;
            j[QStringLiteral("url")] = e.url;
            j[QStringLiteral("size")] = e.size.isEmpty() ? QJsonValue() : QJsonValue(e.size.toLongLong());
            j[QStringLiteral("type")] = e.type;
            j[QStringLiteral("modified")] = isoTime(e.modified);
            j[QStringLiteral("accessed")] = isoTime(e.accessed);
            j[QStringLiteral("local_file")] = e.filePath;
            j[QStringLiteral("state")] = QString::fromLatin1(stateToken(e));
            j[QStringLiteral("site")] = e.site;
            j[QStringLiteral("reason")] = e.reason;
            arr.append(j);
        }
        const QByteArray out = QJsonDocument(arr).toJson(QJsonDocument::Indented);
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    } else {
        QByteArray out = "url\tsize\ttype\tmodified\taccessed\tlocal_file\tstate\tsite\treason\n";
        for (const CacheEntry& e : viewer.rows) {
            const QStringList cells{cell(e.url), e.size, cell(e.type), isoTime(e.modified), isoTime(e.accessed),
                                    cell(e.filePath), QString::fromLatin1(stateToken(e)), cell(e.site),
                                    cell(e.reason)};
            out += cells.join(QLatin1Char('\t')).toUtf8() + '\n';
        }
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    }
    std::fflush(stdout);
    if (o.allUsers && viewer.skippedHomes > 0)
        std::fprintf(stderr, "cache list: skipped %d home folder(s) that cannot be read\n", viewer.skippedHomes);
    if (o.allUsers && viewer.skippedFolders > 0)
        std::fprintf(stderr, "cache list: skipped %d cache folder(s) that are links or not owned by their user\n",
                     viewer.skippedFolders);
    return 0;
}

// The name copyWithOption gives the copy of source.
QString copyName(const QString& source)
{
    const dh::SplitPath sp = dh::splitFilePath(source);
    return dh::trimSpaces(sp.extension.isEmpty() ? sp.baseName : sp.baseName + QLatin1Char('.') + sp.extension);
}

struct Placed {
    enum { Written, Skipped, Failed } what;
    QString path;  // written, or the one in the way, or the one that could not be written
};

// Moves the finished temp into dest under name, with the copy tool's
// same-name rules; the names of dest are known from one listing (names) and
// kept up to date, so that thousands of one name cost no more than one.
Placed place(const QString& temp, const QString& name, const QString& dest, dh::FolderNames& names,
             dh::SameNameOption option)
{
    QString target = name;
    bool replace = false;
    bool clash = names.taken(name);
    // A name taken behind our back since the listing is a clash found late.
    for (int tries = 0; tries < 1000; ++tries) {
        if (clash) {
            if (option == dh::SameNameOption::Skip)
                return {Placed::Skipped, dest + name};
            replace = option == dh::SameNameOption::Overwrite;
            const QFileInfo there(dest + name);
            if (replace && there.isDir() && !there.isSymLink())
                return {Placed::Failed, dest + name};
            target = replace ? name : names.renamed(name);
        }
        switch (dh::moveIntoPlace(temp, dest + target, replace)) {
        case dh::PlaceResult::Placed:
            names.take(target);
            return {Placed::Written, dest + target};
        case dh::PlaceResult::Taken:
            names.take(target);
            clash = true;
            break;
        case dh::PlaceResult::Failed:
            return {Placed::Failed, dest + target};
        }
    }
    return {Placed::Failed, dest + target};
}

int runExtract(const Options& o)
{
    const QString folder = o.cacheDir.isEmpty() ? defaultCacheFolder() : o.cacheDir;
    if (!QFileInfo(folder).isDir())
        return usageError(QStringLiteral("no cache folder at %1").arg(folder));
    const QFileInfo toInfo(o.to);
    if (toInfo.exists() && !toInfo.isDir())
        return usageError(QStringLiteral("--to %1 is a file, not a folder").arg(o.to));
    if (!QDir().mkpath(o.to) || !QFileInfo(o.to).isWritable())
        return usageError(QStringLiteral("cannot write into %1").arg(o.to));
    QString dest = QDir(o.to).absolutePath();
    if (!dest.endsWith(QLatin1Char('/')))
        dest += QLatin1Char('/');

    dh::SimpleCacheIndex index(folder, QString());
    dh::CacheViewer viewer(&index, {});
    // Bodies are checked as they are written out, not in a pass before.
    viewer.listMyCache();

    dh::FolderNames names(dest);  // one listing for the whole run
    int extracted = 0, skipped = 0, refused = 0, failed = 0;
    auto line = [](const char* what, const QString& url, const QString& more = {}) {
        const QByteArray l = QByteArray(what) + '\t' + cell(url).toUtf8()
                             + (more.isEmpty() ? QByteArray() : '\t' + cell(more).toUtf8()) + '\n';
        std::fwrite(l.constData(), 1, size_t(l.size()), stdout);
    };
    for (const CacheEntry& row : viewer.rows) {
        if (!o.match.isEmpty() && !row.url.contains(o.match, Qt::CaseInsensitive))
            continue;
        auto refuse = [&](CacheIndex::State state, const QString& reason) {
            const bool bad = state == CacheIndex::State::Damaged || state == CacheIndex::State::Undecodable;
            (bad ? refused : failed)++;
            line(bad ? "refused" : "failed", row.url, reason);
        };
        if (row.state == CacheIndex::State::Damaged || row.state == CacheIndex::State::Undecodable) {
            refuse(row.state, row.reason);
            continue;
        }
        // Each body is decoded straight into a hidden file in the
        // destination and moved to its name when whole: no decoded copy
        // is kept anywhere else.
        auto e = index.entry(row.id);
        if (!e) {
            refuse(CacheIndex::State::Damaged, QStringLiteral("缓存中已没有这个条目"));
            continue;
        }
        const QString name = copyName(dh::SimpleCacheIndex::sidecarName(*e, dh::SimpleCacheIndex::pageTitle(*e)));
        const QString temp = name.startsWith(QLatin1Char('.')) ? QString() : dh::createTempBeside(dest + name);
        if (temp.isEmpty()) {
            refuse(CacheIndex::State::Intact, QStringLiteral("cannot write %1").arg(dest + name));
            continue;
        }
        // Appending to the new, empty file: truncating it would make the
        // file system flush it to disk at once when it is closed.
        QFile out(temp);
        CacheIndex::LocalFile written = out.open(QIODevice::WriteOnly | QIODevice::Append)
                                            ? index.writeBody(*e, out)
                                            : CacheIndex::LocalFile{{}, CacheIndex::State::Intact, out.errorString()};
        out.close();
        if (written.reason.isEmpty() && out.error() != QFileDevice::NoError)
            written.reason = QStringLiteral("无法写出文件：%1").arg(out.errorString());
        const Placed placed = written.reason.isEmpty() ? place(temp, name, dest, names, o.sameName)
                                                        : Placed{Placed::Failed, {}};
        if (placed.what != Placed::Written)
            QFile::remove(temp);
        if (!written.reason.isEmpty()) {
            refuse(written.state, written.reason);
        } else if (placed.what == Placed::Skipped) {
            ++skipped;
            line("skipped", row.url, placed.path);
        } else if (placed.what == Placed::Written) {
            ++extracted;
            line("extracted", row.url, placed.path);
        } else {
            ++failed;
            line("failed", row.url, QStringLiteral("cannot write %1").arg(placed.path));
        }
    }
    std::fflush(stdout);
    std::fprintf(stderr, "cache extract: %d extracted, %d skipped (same name), %d refused (damaged or undecodable), "
                         "%d failed\n",
                 extracted, skipped, refused, failed);
    return refused + failed > 0 ? 1 : 0;
}

int runCache(const QStringList& args)
{
    if (args.isEmpty())
        return usageError(QStringLiteral("missing sub-command (list or extract)"));
    const QString sub = args.first();
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (sub != QLatin1String("list") && sub != QLatin1String("extract"))
        return usageError(QStringLiteral("unknown sub-command '%1'").arg(sub));
    const bool extract = sub == QLatin1String("extract");
    Options o;
    if (const QString err = parse(args.mid(1), extract, o); !err.isEmpty())
        return usageError(err);
    if (o.help) {
        std::printf("%s", kUsage);
        return 0;
    }
    return extract ? runExtract(o) : runList(o);
}

const dh::cli::CliCommand cacheCommand("cache", "list the browser cache or extract cached documents", runCache);

} // namespace
