#include "cli/CliCommand.h"
#include "content/TypeCorrection.h"
#include "download/DownloadItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cstdio>

// docharvest-cli fix-types DIR [--dry-run]
// Gives every file of DIR whose extension disagrees with its content the
// detected extension, exactly as the download window corrects a row, and
// prints "OLD<TAB>NEW" for each rename (--dry-run: prints, renames nothing).
namespace {

// A file of the folder as a download row whose ItemFilePath is that file.
dh::DownloadItem rowForFile(const QString& dir, const QString& fileName)
{
    dh::DownloadItem row;
    row.Folder = dir;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && dot + 1 < fileName.size()) {
        row.Name = fileName.left(dot);
        row.FileType = fileName.mid(dot + 1);
    } else {
        row.Name = fileName;  // no extension, or a trailing dot that is part of the name
    }
    return row;
}

void printLine(FILE* to, const QString& a, const QString& b)
{
    const QByteArray line = QFile::encodeName(a) + '\t' + QFile::encodeName(b) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), to);
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
                        "OLD<TAB>NEW per rename; --dry-run only prints.\n");
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
        std::fprintf(stderr, "fix-types: no such folder: %s\n", qPrintable(dirArg));
        return 1;
    }
    QString folder = dir.absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');

    // The listing is taken once, before anything moves, so that renamed files
    // are not visited a second time.
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QSet<QString> planned;  // targets a dry run has handed out
    int failures = 0;
    for (const QString& name : names) {
        dh::DownloadItem row = rowForFile(folder, name);
        if (!QFileInfo(dh::ItemFilePath(row)).isFile())
            continue;  // links to folders and the like
        if (dryRun) {
            const auto plan =
                dh::PlanTypeCorrection(row, [&planned](const QString& p) { return planned.contains(p); });
            if (plan) {
                planned.insert(plan->target);
                printLine(stdout, plan->source, plan->target);
            }
            continue;
        }
        const QString before = dh::ItemFilePath(row);
        const auto plan = dh::PlanTypeCorrection(row);
        if (!plan)
            continue;
        if (dh::ApplyTypeCorrection(row, *plan))
            printLine(stdout, before, dh::ItemFilePath(row));
        else {
            ++failures;
            std::fprintf(stderr, "fix-types: cannot rename %s\n", qPrintable(before));
        }
    }
    std::fflush(stdout);
    return failures ? 1 : 0;
}

const dh::cli::CliCommand fixTypesCommand("fix-types",
                                          "rename files of a folder whose extension disagrees with their content",
                                          runFixTypes);

} // namespace
