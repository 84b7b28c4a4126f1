// The download run of docharvest-cli: the download window's engine objects
// (list, window state, scheduler with both methods, monitor) driven by a
// host made of command-line options, with progress, report and Ctrl-C.
#include "cli/CliDownloadHost.h"
#include "cli/CliCommand.h"
#include "cli/CliOutput.h"
#include "cli/CliSignals.h"

#include "app/AppGlobals.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "cli/DownloadCommand.h"
#include "download/DownloadListModel.h"
#include "download/DownloadScheduler.h"
#include "download/DownloadWindowState.h"
#include "download/Downloader.h"
#include "download/HandOver.h"
#include "download/ListOperations.h"
#include "download/MethodOneTransfer.h"
#include "download/TransferMonitor.h"
#include "download/TransferSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace dh::cli {

namespace {

// --- output ---------------------------------------------------------------------------

void printErr(const QString& text)
{
    writeText(stderr, text);
}

// The progress line is redrawn in place: the only control characters written on purpose.
void clearLine()
{
    writeBytes(stderr, "\r\033[K");
}

QString humanBytes(qint64 n)
{
    if (n < 1024)
        return QStringLiteral("%1 B").arg(n);
    if (n < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(double(n) / 1024.0, 0, 'f', 1);
    if (n < 1024LL * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(double(n) / 1024.0 / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(n) / 1024.0 / 1024.0 / 1024.0, 0, 'f', 2);
}

// One run of the engine over a list, from start to report.
class DownloadRun : public QObject {
public:
    DownloadRun(const DownloadOptions& o, const std::vector<LinkRow>& rows)
        : m_options(o), m_host(m_list), m_scheduler(m_list, m_state, m_host),
          m_monitor(m_list, m_state, m_scheduler, m_host)
    {
        m_host.pause = o.pause;
        m_host.transferSlots = o.threads;
        m_host.policy = o.sameName;
        m_host.redownload = o.redownloadChoice;
        m_host.maxRounds = o.redownloadRounds;
        m_host.stopAfterBad = o.stopAfterBad;

        // As the window loads: the method, the proxy and the size limit from
        // the settings, then what the command line says instead.
        m_state.downloadMethod = o.method;
        m_state.markTransferEvent();
        m_scheduler.loadSettings(SettingsStore::instance());
        if (o.maxSizeMB)
            globals().maxFileSizeMB = *o.maxSizeMB;
        if (!o.proxyHost.isEmpty())
            m_scheduler.methodOne().setProxy(true, o.proxyHost, o.proxyPort);
        if (o.retries)
            m_scheduler.setRetries(*o.retries);
        if (o.perHost)
            m_scheduler.setPerHostLimit(*o.perHost);

        std::vector<DownloadItem> items;
        items.reserve(rows.size());
        for (const LinkRow& r : rows) {
            DownloadItem it;
            it.url = r.url;
            it.name = handOverName(r.url, r.title, o.namesFromAddress);
            it.fileType = r.type;
            it.folder = o.outDir;
            it.referer = r.referer;
            items.push_back(it);
            if (!m_titles.contains(r.url)) {
                m_titles.insert(r.url, r.title);
                m_expectedPage.insert(r.url, isWebPageType(r.type));
            }
        }
        m_list.addItems(items);
        m_told.assign(size_t(m_list.size()), false);
        m_untold.assign(size_t(m_list.size()), QString());
        m_untoldBad.assign(size_t(m_list.size()), false);
        connect(&m_list, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to) {
                    for (int r = from.row(); r <= to.row(); ++r)
                        rowChanged(r);
                });
        // Files already there belong to the user: the clean-up never touches them.
        for (const QString& name : QDir(o.outDir).entryList(QDir::Files | QDir::Hidden | QDir::System))
            m_existing.insert(o.outDir + name);

        m_terminal = ::isatty(::fileno(stderr)) && !o.quiet;
        connect(&m_scheduler, &DownloadScheduler::rowStarted, this, [this](int row) {
            if (m_state.downloadMethod == 1 && m_list.item(row).state == DownloadState::Downloading)
                m_methodOneActive = true;
        });
        connect(&m_scheduler.methodOne(), &MethodOneTransfer::transferEnded, this, [this](int, bool) {
            m_methodOneActive = false;
            checkEnd();
        });
        // The run ends when the scheduler says so; a row's line is told on
        // the next turn, once the type check has rewritten the row.
        connect(&m_scheduler, &DownloadScheduler::listFinished, this, &DownloadRun::checkEnd);
        m_tellTimer.setSingleShot(true);
        connect(&m_tellTimer, &QTimer::timeout, this, &DownloadRun::tellUntold);
        m_progressTimer.setInterval(timings().cliProgress);
        connect(&m_progressTimer, &QTimer::timeout, this, &DownloadRun::showProgress);
    }

    int exec()
    {
        m_clock.start();
        m_progressClock.start();
        if (m_list.size() == 0)
            return finish(0);
        StopSignals stopSignals([this](int sig) { stop(sig); }, [this](int) { forceStop(); });
        m_scheduler.startDownloading();
        m_monitor.start();
        if (m_terminal)
            m_progressTimer.start();
        // A list with nothing to fetch may be through before the first tick.
        QTimer::singleShot(0, this, &DownloadRun::checkEnd);
        QCoreApplication::exec();
        return m_exitCode;
    }

private:
    enum class RowState { Done, Skipped, Failed, Page, Cancelled };

    static QString stateName(RowState s)
    {
        switch (s) {
        case RowState::Done: return QStringLiteral("done");
        case RowState::Skipped: return QStringLiteral("skipped");
        case RowState::Failed: return QStringLiteral("failed");
        case RowState::Page: return QStringLiteral("page");
        case RowState::Cancelled: return QStringLiteral("cancelled");
        }
        return {};
    }

    bool idle() const
    {
        return !m_state.stillExecuting() && m_scheduler.activeTransfers() == 0 && !m_methodOneActive;
    }

    RowState rowState(int i) const
    {
        const DownloadItem& it = m_list.item(i);
        if (m_cancelled.contains(it.url))
            return RowState::Cancelled;
        switch (outcomeOf(it)) {
        case RowOutcome::Waiting:
        case RowOutcome::Downloading: return RowState::Cancelled;
        case RowOutcome::Failed:
        case RowOutcome::Cancelled: return RowState::Failed;
        case RowOutcome::SkippedExisting:
        case RowOutcome::SkippedTooLarge: return RowState::Skipped;
        case RowOutcome::Done:
        case RowOutcome::WebPage: break;
        }
        // The outcome says the file is there: the transfer that ended the
        // row put it in place.
        if (isWebPageType(it.fileType) && !m_expectedPage.value(it.url))
            return RowState::Page;
        return RowState::Done;
    }

    QString message(int i, RowState s) const
    {
        const DownloadItem& it = m_list.item(i);
        const QString progress = cellText(it, DownloadListModel::ColProgress);
        if (s == RowState::Failed && !it.failReason.isEmpty()) {
            // The reason, with how far the row got ("37%") when it got anywhere.
            const bool got = !progress.isEmpty() && progress != it.failReason;
            return got ? it.failReason + QStringLiteral(" (") + progress + QLatin1Char(')') : it.failReason;
        }
        if (!progress.isEmpty())
            return progress;
        if (it.note == RowNote::WaitingAgain || it.size == kUnknownSize)
            return cellText(it, DownloadListModel::ColSize);
        if (s == RowState::Cancelled && it.state != DownloadState::Waiting)
            return QStringLiteral("下载取消");
        if (it.state == DownloadState::Done && !fileExists(itemFilePath(it)))
            return QStringLiteral("不存在");
        return {};
    }

    qint64 rowBytes(int i) const
    {
        const DownloadItem& it = m_list.item(i);
        return it.isSkipped() || it.received < 0 ? 0 : it.received;
    }

    QString rowLine(int i, RowState s) const
    {
        const DownloadItem& it = m_list.item(i);
        const QString msg = message(i, s);
        QString line = QStringLiteral("[%1/%2] %3  %4")
                           .arg(i + 1)
                           .arg(m_list.size())
                           .arg(stateName(s), -9)
                           .arg(plainField(itemFilePath(QString(), it.name, it.fileType).mid(1)));
        if (s == RowState::Done || s == RowState::Page)
            line += QStringLiteral("  ") + humanBytes(std::max<qint64>(it.received, 0));
        if (!msg.isEmpty() && msg != QLatin1String("100%"))
            line += QStringLiteral("  ") + plainField(msg);
        if (s == RowState::Failed || s == RowState::Page)
            line += QStringLiteral("  ") + plainField(it.url);
        return line + QLatin1Char('\n');
    }

    void clearProgressLine()
    {
        if (m_terminal && m_progressShown) {
            clearLine();
            m_progressShown = false;
        }
    }

    // A row's end is told once its row holds the final result: the type
    // correction rewrites a row right after the transfer has ended it, so the
    // line is prepared on every change and told at the next look, or at once
    // when a re-download round takes the row back before that.
    void rowChanged(int r)
    {
        const DownloadState st = m_list.item(r).state;
        if (st == DownloadState::Done || st == DownloadState::Failed) {
            if (m_told[size_t(r)])
                return;
            const RowState s = rowState(r);
            if (m_untold[size_t(r)].isEmpty())
                m_untoldRows.push_back(r);
            m_untold[size_t(r)] = rowLine(r, s);
            m_untoldBad[size_t(r)] = s == RowState::Failed || s == RowState::Page;
            if (!m_tellTimer.isActive())
                m_tellTimer.start(0);
            return;
        }
        if (!m_untold[size_t(r)].isEmpty())
            tell(r);
        m_told[size_t(r)] = false;
    }

    // Tells the rows whose end is waiting (a row told meanwhile is passed over).
    void tellUntold()
    {
        for (const int r : std::exchange(m_untoldRows, {})) {
            if (!m_untold[size_t(r)].isEmpty())
                tell(r);
        }
    }

    void tell(int r)
    {
        const bool bad = m_untoldBad[size_t(r)];
        const QString line = std::exchange(m_untold[size_t(r)], QString());
        m_told[size_t(r)] = true;
        if (m_terminal) {
            if (bad) {
                clearProgressLine();
                printErr(line);
            }
        } else if (!m_options.quiet || bad) {
            printErr(line);
        }
    }

    // The scheduler has settled: the run ends unless a re-download round is
    // due (the monitor starts it, and the scheduler settles again after it).
    void checkEnd()
    {
        if (m_stopping || m_finished)
            return;
        const bool errorStopped = m_host.errorStopReached() && !m_scheduler.running();
        if (idle() && ((m_list.isListFinished() && !m_host.roundWanted()) || errorStopped)) {
            m_scheduler.switchOff();
            m_monitor.stop();
            m_progressTimer.stop();
            m_exitCode = finish(0);
            QCoreApplication::exit(m_exitCode);
        }
    }

    void showProgress()
    {
        int done = 0, failed = 0, waiting = 0, running = 0;
        qint64 bytes = 0;
        QString current;
        for (int i = 0; i < m_list.size(); ++i) {
            const DownloadItem& it = m_list.item(i);
            done += it.state == DownloadState::Done;
            failed += it.state == DownloadState::Failed;
            waiting += it.state == DownloadState::Waiting;
            if (it.state == DownloadState::Downloading && running++ == 0)
                current = plainField(itemFilePath(QString(), it.name, it.fileType).mid(1));
            bytes += rowBytes(i);
        }
        const qint64 ms = m_progressClock.restart();
        if (ms > 0 && bytes >= m_lastBytes) {
            const double rate = double(bytes - m_lastBytes) * 1000.0 / double(ms);
            m_rate = m_rate < 0 ? rate : 0.7 * m_rate + 0.3 * rate;
        }
        m_lastBytes = bytes;
        QString line = QStringLiteral("done %1  failed %2  waiting %3  running %4  %5  %6/s  %7")
                           .arg(done)
                           .arg(failed)
                           .arg(waiting)
                           .arg(running)
                           .arg(humanBytes(bytes), humanBytes(qint64(std::max(0.0, m_rate))), current);
        if (line.size() > 110)
            line = line.left(109) + QChar(0x2026);
        clearLine();
        printErr(line);
        m_progressShown = true;
    }

    // Ctrl-C or SIGTERM: what 停止下载 does, then the clean-up and the report.
    void stop(int sig)
    {
        if (m_stopping || m_finished)
            return;
        m_stopping = true;
        m_progressTimer.stop();
        m_monitor.stop();
        QStringList targets;
        for (int j = 0; j < DownloadScheduler::kMaxSlots; ++j) {
            if (Downloader* d = m_scheduler.downloader(j))
                targets << d->saveFile();
        }
        for (int i = 0; i < m_list.size(); ++i) {
            if (m_list.item(i).state == DownloadState::Downloading)
                m_cancelled.insert(m_list.item(i).url);
        }
        m_scheduler.stopDownloading();
        // Method one's transfer notices the stop on its next look and removes
        // its partial file; the cancelled requests of method two go with their
        // controls, taking their temporary files along.
        auto* wait = new QTimer(this);
        QElapsedTimer waited;
        waited.start();
        connect(wait, &QTimer::timeout, this, [this, wait, waited, targets, sig] {
            const auto windDown = m_forced ? 2 * timings().transferPoll : timings().stopWindDown;
            if (!idle() && waited.elapsed() < windDown.count())
                return;
            wait->stop();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            for (const QString& t : targets)
                removeIfPlaceholder(t);
            m_exitCode = finish(128 + sig);
            QCoreApplication::exit(m_exitCode);
        });
        wait->start(timings().requestPoll);
    }

    // A second signal: the transfers get only the time method one needs to
    // notice the stop and take its partial file away, then the report.
    void forceStop()
    {
        m_forced = true;
    }

    // A placeholder this run put down for a transfer that did not complete.
    void removeIfPlaceholder(const QString& path)
    {
        if (!path.isEmpty() && !m_existing.contains(path))
            removePlaceholder(path);
    }

    int finish(int signalCode)
    {
        m_finished = true;
        tellUntold();
        clearProgressLine();
        // Rows that ended without a file of their own (size skip, failure) may
        // still hold the placeholder that took their name.
        for (int i = 0; i < m_list.size(); ++i) {
            const RowState s = rowState(i);
            if (s != RowState::Done && s != RowState::Page)
                removeIfPlaceholder(itemFilePath(m_list.item(i)));
        }
        int counts[5] = {0, 0, 0, 0, 0};
        qint64 bytes = 0;
        QByteArray report = "title\turl\tstate\tpath\tbytes\ttype\tmessage\n";
        for (int i = 0; i < m_list.size(); ++i) {
            const DownloadItem& it = m_list.item(i);
            const RowState s = rowState(i);
            ++counts[int(s)];
            const QString path = itemFilePath(it);
            // A row that ended with its file says so; what a skipped row left
            // in place may be a dangling link, which is no file to report.
            const bool hasFile = s == RowState::Done || s == RowState::Page
                || (s == RowState::Skipped && outcomeOf(it) == RowOutcome::SkippedExisting && fileExists(path));
            const qint64 size = hasFile ? std::max<qint64>(it.received, 0) : 0;
            if (s == RowState::Done || s == RowState::Page)
                bytes += size;
            report += (tsvField(m_titles.value(it.url)) + QLatin1Char('\t') + tsvField(it.url) + QLatin1Char('\t')
                       + stateName(s) + QLatin1Char('\t') + tsvField(hasFile ? path : QString()) + QLatin1Char('\t')
                       + QString::number(size) + QLatin1Char('\t') + tsvField(it.fileType) + QLatin1Char('\t')
                       + tsvField(message(i, s)) + QLatin1Char('\n'))
                          .toUtf8();
        }
        int code = signalCode;
        if (!m_options.reportFile.isEmpty()) {
            if (m_options.reportFile == QLatin1String("-")) {
                if (!writeBytes(stdout, report)) {
                    printErr(QStringLiteral("docharvest-cli download: the report could not be written to standard "
                                            "output\n"));
                    if (code == 0)
                        code = 1;
                }
            } else {
                QSaveFile f(m_options.reportFile);
                if (!f.open(QIODevice::WriteOnly) || f.write(report) != report.size() || !f.commit()) {
                    printErr(QStringLiteral("docharvest-cli download: cannot write the report %1\n")
                                 .arg(plainField(m_options.reportFile)));
                    if (code == 0)
                        code = 1;
                }
            }
        }
        const int bad = counts[int(RowState::Failed)] + counts[int(RowState::Page)] + counts[int(RowState::Cancelled)];
        if (code == 0 && bad > 0)
            code = 1;
        QString summary = QStringLiteral("download: %1 rows: %2 done, %3 skipped, %4 failed, %5 pages, %6 cancelled; "
                                         "%7 in %8 s")
                              .arg(m_list.size())
                              .arg(counts[int(RowState::Done)])
                              .arg(counts[int(RowState::Skipped)])
                              .arg(counts[int(RowState::Failed)])
                              .arg(counts[int(RowState::Page)])
                              .arg(counts[int(RowState::Cancelled)])
                              .arg(humanBytes(bytes))
                              .arg(double(m_clock.elapsed()) / 1000.0, 0, 'f', 1);
        // Rows of which an attempt went on from the body an earlier one kept.
        int resumed = 0;
        for (int i = 0; i < m_list.size(); ++i)
            resumed += m_list.item(i).resumed ? 1 : 0;
        if (resumed > 0)
            summary += QStringLiteral("; %1 resumed").arg(resumed);
        if (m_host.roundsDone() > 0)
            summary += QStringLiteral("; %1 re-download round%2").arg(m_host.roundsDone()).arg(m_host.roundsDone() > 1 ? "s" : "");
        if (m_host.errorStopReached())
            summary += QStringLiteral("; stopped after %1 bad rows").arg(m_list.countBadRows());
        if (signalCode)
            summary += signalCode == 130 ? QStringLiteral("; stopped by Ctrl-C") : QStringLiteral("; stopped by SIGTERM");
        printErr(summary + QLatin1Char('\n'));
        return code;
    }

    const DownloadOptions& m_options;
    DownloadListModel m_list;
    DownloadWindowState m_state;
    CliDownloadHost m_host;
    DownloadScheduler m_scheduler;
    TransferMonitor m_monitor;
    QTimer m_tellTimer;      // single shot: tells the rows that ended
    QTimer m_progressTimer;  // redraws the progress line on a terminal
    QElapsedTimer m_clock;
    QElapsedTimer m_progressClock;
    QHash<QString, QString> m_titles;       // url -> title as given
    QHash<QString, bool> m_expectedPage;    // url -> the link itself names a web page
    QSet<QString> m_existing;               // files in the folder before the run
    QSet<QString> m_cancelled;              // rows a stop caught in their transfer
    std::vector<bool> m_told;        // the row's end has been told
    std::vector<QString> m_untold;   // the line of an end not yet told
    std::vector<bool> m_untoldBad;
    std::vector<int> m_untoldRows;   // in the order the rows ended
    qint64 m_lastBytes = 0;
    double m_rate = -1;
    bool m_terminal = false;
    bool m_progressShown = false;
    bool m_methodOneActive = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_forced = false;  // a second signal came: no more waiting
    int m_exitCode = 0;
};

} // namespace

int runDownload(const DownloadOptions& options, const std::vector<LinkRow>& rows)
{
    DownloadRun run(options, rows);
    return run.exec();
}

} // namespace dh::cli
