#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "content/FileTypeDetection.h"

#include <QFile>
#include <cstdio>

// docharvest-cli identify [--stats] FILE...
// One line per file: the detected label (empty when unknown), a tab, the path.
// --stats adds a summary of the bytes read on stderr.
namespace {

int runIdentify(const QStringList& args)
{
    bool stats = false;
    QStringList files;
    bool options = true;
    for (const QString& a : args) {
        if (options && a == QLatin1String("--")) {
            options = false;
        } else if (options && a == QLatin1String("--stats")) {
            stats = true;
        } else if (options && (a == QLatin1String("--help") || a == QLatin1String("-h"))) {
            std::printf("usage: docharvest-cli identify [--stats] FILE...\n"
                        "Prints the type label detected from each file's content (empty when unknown),\n"
                        "a tab and the path.\n");
            return 0;
        } else {
            files << a;
        }
    }

    qint64 files3k = 0, bytes3k = 0, max3k = 0, totalBytes = 0, containerBytes = 0, containerReads = 0;
    qint64 containerFiles = 0, containerMax = 0;
    static char outBuf[1 << 16];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
    for (const QString& f : files) {
        dh::DetectionStats st;
        const QString label = dh::identifyFileType(f, &st);
        const QByteArray line = label.toUtf8() + '\t' + QFile::encodeName(dh::cli::plainField(f)) + '\n';
        dh::cli::writeBytes(stdout, line);
        totalBytes += st.bytesRead();
        if (st.containerReads > 0) {
            ++containerFiles;
            containerBytes += st.containerBytes;
            containerReads += st.containerReads;
            containerMax = std::max(containerMax, st.containerBytes);
        }
        if (st.fileSize > 3 * 1024) {
            ++files3k;
            bytes3k += st.bytesRead();
            max3k = std::max(max3k, st.bytesRead());
        }
    }
    std::fflush(stdout);
    if (stats) {
        std::fprintf(stderr,
                     "files: %lld, bytes read: %lld; files over 3 KB: %lld, bytes read from them: %lld "
                     "(max %lld per file, mean %.1f)\n",
                     qlonglong(files.size()), qlonglong(totalBytes), qlonglong(files3k), qlonglong(bytes3k),
                     qlonglong(max3k), files3k ? double(bytes3k) / double(files3k) : 0.0);
        std::fprintf(stderr,
                     "looked inside ZIP archives or compound files: %lld files, %lld bytes in %lld reads "
                     "(max %lld per file)\n",
                     qlonglong(containerFiles), qlonglong(containerBytes), qlonglong(containerReads),
                     qlonglong(containerMax));
    }
    return 0;
}

const dh::cli::CliCommand identifyCommand("identify", "print the type of each FILE as its content shows it",
                                          runIdentify);

} // namespace
