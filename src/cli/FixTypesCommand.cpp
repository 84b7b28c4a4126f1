#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "download/TypeCorrection.h"
#include "download/DownloadItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringConverter>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

// docharvest-cli fix-types DIR [--dry-run]
// Gives every file of DIR whose extension disagrees with its content the
// detected extension, exactly as the download window corrects a row, and
// prints "OLD<TAB>NEW" for each rename (--dry-run: prints, renames nothing).
namespace {

// A file of the folder as a download row whose itemFilePath is that file.
dh::DownloadItem rowForFile(const QString& dir, const QString& fileName)
{
    dh::DownloadItem row;
    row.folder = dir;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && dot + 1 < fileName.size()) {
        row.name = fileName.left(dot);
        row.fileType = fileName.mid(dot + 1);
    } else {
        row.name = fileName;  // no extension, or a trailing dot that is part of the name
    }
    return row;
}

void printLine(FILE* to, const QString& a, const QString& b)
{
    const QByteArray line =
        QFile::encodeName(dh::cli::plainField(a)) + '\t' + QFile::encodeName(dh::cli::plainField(b)) + '\n';
    dh::cli::writeBytes(to, line);
}

int runFixTypes(const QStringList& args)
{
    bool dryRun = false;
    QString dirArg;
    for (const QString& a : args) {
        if (a == QLatin1String("--dry-run"))
            dryRun = true;
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::printf("usage: docharvest-cli fix-types DIR [--dry-run]\n"
                        "Renames each file of DIR whose extension disagrees with its content and prints\n"
                        "OLD<TAB>NEW per rename; --dry-run only prints. Files that cannot be handled\n"
                        "(unreadable, a name the system encoding cannot show, a rename refused) are\n"
                        "reported on stderr with the reason, and the exit code is then 1.\n");
            return 0;
        } else if (dirArg.isEmpty())
            dirArg = a;
        else {
            std::fprintf(stderr, "fix-types: one folder only\n");
            return 2;
        }
    }
    if (dirArg.isEmpty()) {
        std::fprintf(stderr, "usage: docharvest-cli fix-types DIR [--dry-run]\n");
        return 2;
    }
    const QDir dir(dirArg);
    if (!dir.exists()) {
        dh::cli::errLine(QStringLiteral("fix-types: no such folder: %1").arg(dh::cli::plainField(dirArg)));
        return 1;
    }
    QString folder = dir.absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    // The listing is taken once, before anything moves, so that renamed files
    // are not visited a second time. It is read as raw bytes: a name that the
    // system encoding cannot represent would otherwise vanish from the list.
    QStringList names;
    int failures = 0;
    auto skip = [&failures](const QString& what, const QString& why) {
        ++failures;
        dh::cli::errLine(QStringLiteral("fix-types: skipped %1: %2").arg(dh::cli::plainField(what), why));
    };
    if (DIR* d = ::opendir(QFile::encodeName(dir.absolutePath()).constData())) {
        while (const dirent* e = ::readdir(d)) {
            const QByteArray raw(e->d_name);
            if (raw == "." || raw == "..")
                continue;
            const QString name = QFile::decodeName(raw);
            if (QFile::encodeName(name) != raw) {
                skip(folder + QString::fromLatin1(raw.toPercentEncoding("/")),
                     QStringLiteral("the name is not valid in the system encoding (%1)")
                         .arg(QString::fromLatin1(QStringConverter::nameForEncoding(QStringConverter::System))));
                continue;
            }
            names << name;
        }
        ::closedir(d);
    } else {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        dh::cli::errLine(QStringLiteral("fix-types: cannot list %1: %2").arg(dh::cli::plainField(dirArg), why));
        return 1;
    }
    names.sort();
    QSet<QString> planned;  // targets a dry run has handed out
    for (const QString& name : names) {
        dh::DownloadItem row = rowForFile(folder, name);
        const QString path = dh::itemFilePath(row);
        if (!QFileInfo(path).isFile())
            continue;  // links to folders and the like
        if (QFile probe(path); !probe.open(QIODevice::ReadOnly)) {
            skip(path, QStringLiteral("cannot read it: %1").arg(probe.errorString()));
            continue;
        }
        if (dryRun) {
            const auto plan =
                dh::planTypeCorrection(row, [&planned](const QString& p) { return planned.contains(p); });
            if (plan) {
                planned.insert(plan->target);
                printLine(stdout, plan->source, plan->target);
            }
            continue;
        }
        const QString before = dh::itemFilePath(row);
        const auto plan = dh::planTypeCorrection(row);
        if (!plan)
            continue;
        if (dh::applyTypeCorrection(row, *plan)) {
            printLine(stdout, before, dh::itemFilePath(row));
        } else {
            ++failures;
            QString why;
            if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
                why = QStringLiteral("the folder is not writable (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            else if (QFileInfo::exists(plan->target))
                why = QStringLiteral("%1 exists already").arg(plan->target);
            else
                why = QStringLiteral("the rename failed");
            dh::cli::errLine(QStringLiteral("fix-types: cannot rename %1 to %2: %3")
                                 .arg(dh::cli::plainField(before), dh::cli::plainField(plan->target), why));
        }
    }
    std::fflush(stdout);
    return failures ? 1 : 0;
}

const dh::cli::CliCommand fixTypesCommand("fix-types",
                                          "rename files of a folder whose extension disagrees with their content",
                                          runFixTypes);

} // namespace
