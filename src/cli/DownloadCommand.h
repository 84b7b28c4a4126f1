#pragma once
// docharvest-cli download: its options, the reading of the links and the run.
// harvest reuses all three after its search step.
#include "download/Naming.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace dh::cli {

// The download window's controls, as command-line options.
struct DownloadOptions {
    QString linksFile;   // --links: a TSV file, "-" for standard input
    QStringList urls;    // plain addresses given as arguments
    QString outDir;      // --out
    int method = 2;      // --method 1|2
    int threads = 3;     // --threads 1-6
    int pause = 0;       // --pause S (0-600)
    SameNamePolicy sameName = SameNamePolicy::Rename;
    bool namesFromAddress = false;   // --names url
    std::optional<int> maxSizeMB;    // --max-size; unset: the setting 文件最大值
    QString proxyHost, proxyPort;    // --proxy HOST:PORT; unset: the proxy settings
    std::optional<int> retries;      // --retries N; unset: the setting 失败重试次数
    std::optional<int> perHost;      // --per-host K; unset: the setting 每个服务器同时下载数
    int redownloadChoice = -1;       // --redownload: 0 failed, 1 pages, 2 both; -1 none
    int redownloadRounds = 0;        // --redownload-rounds; 0: until a round recovers nothing
    bool stopAfterBad = false;       // --stop-after-bad
    QString reportFile;              // --report FILE ("-": standard output)
    bool quiet = false;
};

// One link to fetch: a line of the search TSV, or an address argument.
struct LinkRow {
    QString title, type, url, referer;
};

enum class ParseOutcome { Run, Help, UsageError };

// Parses download's arguments. With forHarvest the links come from the
// search step, so --links and address arguments are refused, and arguments
// that are not download options are handed back in *rest instead of being
// refused. *error names the offending option.
ParseOutcome parseDownloadArgs(const QStringList& args, DownloadOptions* options, QString* error,
                               bool forHarvest = false, QStringList* rest = nullptr);
QString downloadOptionsHelp();

// The links of a TSV (header optional; columns title, type, url, referer).
// False with *error naming the line when a line is unusable.
bool parseLinksTsv(const QByteArray& bytes, std::vector<LinkRow>* rows, QString* error);
// The links the options name: the --links file (or standard input) and the
// address arguments. False with *error when something cannot be read or used.
bool readLinks(const DownloadOptions& options, std::vector<LinkRow>* rows, QString* error);

// Makes sure the output folder exists and can be written to; *absolute gets
// its absolute path ending in "/".
bool prepareOutputFolder(const QString& dir, QString* absolute, QString* error);

// The report can be written where --report says (always true without one).
bool checkReportFile(const QString& file, QString* error);

// Downloads the rows into options.outDir (already prepared) with the engine
// of the download window; prints progress, the report and the summary.
// Returns the exit code (0, 1, 130 or 143).
int runDownload(const DownloadOptions& options, const std::vector<LinkRow>& rows);

} // namespace dh::cli
