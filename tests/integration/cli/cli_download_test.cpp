// docharvest-cli download and harvest end to end: real transfers from the
// demo service into a temporary folder.
#include "CliFixture.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dh::test {
namespace {

using S = QString;

class CliDownload : public CliFixture {};

QString line(const std::vector<QStringList>& rows, int i, int column)
{
    return i < int(rows.size()) && column < rows[size_t(i)].size() ? rows[size_t(i)][column] : QString();
}

TEST_F(CliDownload, SearchPipedIntoDownloadWithEachMethod)
{
    const QString kw = writeFile("kw.txt", "教程\n");
    for (const char* method : {"1", "2"}) {
        SCOPED_TRACE(method);
        const QString folder = dir.filePath(S("out") + method);
        const QString rep = dir.filePath(S("report") + method + ".tsv");
        QProcess search, download;
        search.setStandardOutputProcess(&download);
        search.start(cliPath(), {"search", "--keywords", kw, "--types", "pdf", "--delay", "0", "--search-base",
                                 service->baseUrl()});
        download.start(cliPath(), {"download", "--links", "-", "--out", folder, "--method", method, "--report", rep});
        ASSERT_TRUE(search.waitForFinished(60000));
        ASSERT_TRUE(download.waitForFinished(90000));
        const QString err = QString::fromUtf8(download.readAllStandardError());
        // One link of the page is protected: a login page arrives instead.
        EXPECT_EQ(download.exitCode(), 1) << qPrintable(err);
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 6u) << qPrintable(err);
        int done = 0;
        for (const QStringList& r : rows) {
            ASSERT_EQ(r.size(), 7);
            if (r[1].contains("/protected/")) {
                EXPECT_EQ(r[2], "page");
                EXPECT_TRUE(r[3].endsWith(".htm")) << qPrintable(r[3]);
                continue;
            }
            ++done;
            EXPECT_EQ(r[2], "done") << qPrintable(r.join(' '));
            EXPECT_EQ(r[3], folder + "/" + r[0] + ".pdf");
            EXPECT_EQ(r[5], "pdf");
            const QString stem = QUrl(r[1]).path().section('/', -1).section('.', 0, 0);
            EXPECT_EQ(readFile(r[3]), demo::makeDocument("pdf", stem)) << qPrintable(r[1]);
            EXPECT_EQ(r[4].toLongLong(), QFileInfo(r[3]).size());
        }
        EXPECT_EQ(done, 5);
        EXPECT_EQ(entries(folder).size(), 6) << qPrintable(entries(folder).join(' '));
        // Not a terminal: one line per finished row, then the summary.
        EXPECT_EQ(err.count(QRegularExpression("^\\[\\d/6\\] ", QRegularExpression::MultilineOption)), 6);
        EXPECT_TRUE(err.contains("download: 6 rows: 5 done, 0 skipped, 0 failed, 1 pages, 0 cancelled"))
            << qPrintable(err);
    }
}

TEST_F(CliDownload, SameNamePoliciesOnAFolderThatHoldsTheName)
{
    const struct {
        const char* policy;
        const char* method;
        QStringList files;
        QByteArray a, a1, a2;  // expected contents of a.pdf, a[001].pdf, a[002].pdf
        const char* state;
        bool danglingLink = false;  // a.pdf is a link to nothing instead of the user's file
    } cases[] = {
        {"skip", "2", {"a.pdf"}, "USER", {}, {}, "skipped"},
        {"skip", "2", {"a.pdf"}, {}, {}, {}, "skipped", true},
        {"skip", "1", {"a.pdf"}, {}, {}, {}, "skipped", true},
        {"skip", "1", {"a.pdf"}, "USER", {}, {}, "skipped"},
        {"overwrite", "2", {"a.pdf"}, demo::makeDocument("pdf", "s-2"), {}, {}, "done"},
        {"overwrite", "1", {"a.pdf"}, demo::makeDocument("pdf", "s-2"), {}, {}, "done"},
        {"rename", "2", {"a.pdf", "a[001].pdf", "a[002].pdf"}, "USER", demo::makeDocument("pdf", "s-1"),
         demo::makeDocument("pdf", "s-2"), "done"},
        {"rename", "1", {"a.pdf", "a[001].pdf", "a[002].pdf"}, "USER", demo::makeDocument("pdf", "s-1"),
         demo::makeDocument("pdf", "s-2"), "done"},
    };
    const QString links = writeFile("links.tsv", tsv({{"a", "/doc/s-1.pdf"}, {"a", "/doc/s-2.pdf"}}));
    // New files get what the umask leaves of rw-r--r--; a replaced file keeps its own mode.
    const mode_t umaskBefore = ::umask(027);
    const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
    const auto modeOf = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.policy) + " method " + c.method);
        const QString folder = dir.filePath(S("same") + QString::number(++n));
        QDir().mkpath(folder);
        if (c.danglingLink)
            ASSERT_TRUE(QFile::link(folder + "/nothing", folder + "/a.pdf"));
        else
            ASSERT_EQ(::chmod(QFile::encodeName(writeFile(S("same") + QString::number(n) + "/a.pdf", "USER")).constData(), 0600), 0);
        const QString rep = folder + ".tsv";
        const CliRun r = cli({"download", "--links", links, "--out", folder, "--same-name", c.policy, "--method",
                              c.method, "--threads", "1", "--report", rep});
        EXPECT_EQ(r.code, 0) << qPrintable(r.err);
        EXPECT_EQ(entries(folder), c.files);
        EXPECT_EQ(readFile(folder + "/a.pdf"), c.a);
        if (!c.a1.isEmpty()) {
            EXPECT_EQ(readFile(folder + "/a[001].pdf"), c.a1);
            EXPECT_EQ(readFile(folder + "/a[002].pdf"), c.a2);
            EXPECT_EQ(modeOf(folder + "/a[001].pdf"), 0640u);
            EXPECT_EQ(modeOf(folder + "/a[002].pdf"), 0640u);
        }
        if (!c.danglingLink)
            EXPECT_EQ(modeOf(folder + "/a.pdf"), 0600u);
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][2], c.state);
        EXPECT_EQ(rows[1][2], c.state);
        if (S(c.policy) == "skip") {
            EXPECT_EQ(rows[0][6], "已存在，跳过");
            // A link to nothing is in the way but is no file of the row's.
            EXPECT_EQ(rows[0][3].isEmpty(), c.danglingLink);
        }
    }
}

TEST_F(CliDownload, MaxSizeSkipsLargeFilesWithoutLeavingAnything)
{
    const QString links = writeFile("links.tsv", tsv({{"big", "/t/file/3145728"}, {"small", "/t/file/1000"}}, "bin"));
    for (const char* method : {"1", "2"}) {
        SCOPED_TRACE(method);
        const QString folder = dir.filePath(S("max") + method);
        const QString rep = folder + ".tsv";
        const CliRun r = cli({"download", "--links", links, "--out", folder, "--max-size", "1", "--method", method,
                              "--report", rep});
        EXPECT_EQ(r.code, 0) << qPrintable(r.err);
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][2], "skipped");
        EXPECT_EQ(rows[0][6], "大文件，跳过");
        EXPECT_EQ(rows[0][3], "");
        EXPECT_EQ(rows[1][2], "done");
        const QStringList files = entries(folder);
        ASSERT_EQ(files.size(), 1) << qPrintable(files.join(' '));
        EXPECT_TRUE(files[0].startsWith("small"));
    }
}

// A failed row says why. A full disk is played by a file size limit, which
// fails writes the way a full disk does; the old file stays whole.
TEST_F(CliDownload, FailedRowsSayWhy)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QByteArray refused = "refused\tbin\thttp://127.0.0.1:" + QByteArray::number(closed.serverPort()) + "/x\t\n";
    closed.close();
    const QString links =
        writeFile("links.tsv", tsv({{"big", "/t/file/300000"}, {"cut", "/t/cut/10000?after=3000"}}, "bin") + refused);
    const auto diskFull = [] {
        const rlimit limit{100 * 1024, 100 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN);
    };
    for (const char* method : {"1", "2"}) {
        SCOPED_TRACE(method);
        const QString folder = dir.filePath(S("full") + method);
        ASSERT_TRUE(QDir().mkpath(folder));
        writeFile(S("full") + method + "/big.bin", "old");
        const QString rep = folder + ".tsv";
        const CliRun r = cli({"download", "--links", links, "--out", folder, "--method", method, "--same-name",
                              "overwrite", "--report", rep},
                             {}, 90000, diskFull);
        EXPECT_EQ(r.code, 1) << qPrintable(r.err);
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 3u);
        // The system's word for the write, in whatever language it speaks.
        const char* want[] = {"无法写入文件：", "连接被断开（", "无法连接（Connection refused）"};
        EXPECT_FALSE(rows[0][6].contains("Unknown error")) << qPrintable(rows[0][6]);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rows[size_t(i)][2], "failed");
            EXPECT_TRUE(rows[size_t(i)][6].startsWith(S(want[i]))) << qPrintable(rows[size_t(i)][6]);
            EXPECT_TRUE(r.err.contains(rows[size_t(i)][6]));
        }
        EXPECT_EQ(readFile(folder + "/big.bin"), "old");
        EXPECT_EQ(entries(folder), QStringList{"big.bin"});
    }
}

TEST_F(CliDownload, RedownloadOfPagesAfterALoginProtectedLink)
{
    const QString links =
        writeFile("links.tsv", tsv({{"member", "/doc/protected/m-1.pdf"}, {"open", "/doc/o-1.pdf"}}));
    const struct {
        const char* rounds;
        const char* summary;
        int pageLines;
    } cases[] = {
        {"2", "2 re-download rounds", 3},
        // Without a limit the rounds end once one brings nothing back.
        {"0", "1 re-download round", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rounds);
        const QString folder = dir.filePath(S("redo") + c.rounds);
        const QString rep = folder + ".tsv";
        const CliRun r = cli({"download", "--links", links, "--out", folder, "--redownload", "pages",
                              "--redownload-rounds", c.rounds, "--report", rep});
        EXPECT_EQ(r.code, 1) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains(c.summary)) << qPrintable(r.err);
        EXPECT_EQ(r.err.count(" page "), c.pageLines) << qPrintable(r.err);
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][2], "page");
        EXPECT_EQ(rows[1][2], "done");
        // Each round removes the page it puts back: no numbered copies pile up.
        EXPECT_EQ(entries(folder), (QStringList{"member.htm", "open.pdf"}));
    }
}

TEST_F(CliDownload, StopSignalMidRunLeavesNoPartialOrPlaceholderFile)
{
    const QString links = writeFile(
        "links.tsv", tsv({{"fast", "/t/file/2000"},
                          {"slow1", "/t/slow/4000000?piece=8192&delay_ms=20"},
                          {"slow2", "/t/slow/4000000?piece=8192&delay_ms=21"}},
                         "bin"));
    const struct {
        const char* method;
        int sig;
        int code;
    } cases[] = {{"1", SIGINT, 130}, {"2", SIGINT, 130}, {"2", SIGTERM, 143}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("method ") + c.method + " signal " + std::to_string(c.sig));
        const QString folder = dir.filePath(S("stop") + QString::number(++n));
        const QString rep = folder + ".tsv";
        QProcess p;
        p.start(cliPath(), {"download", "--links", links, "--out", folder, "--method", c.method, "--max-size", "100",
                            "--report", rep});
        ASSERT_TRUE(p.waitForStarted(5000));
        // The fast file is done and a slow one is under way.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 && !(entries(folder).size() >= 2 && entries(folder).join(' ').contains("fast")))
            QThread::msleep(50);
        ASSERT_LT(t.elapsed(), 20000) << qPrintable(entries(folder).join(' '));
        QThread::msleep(300);
        ::kill(pid_t(p.processId()), c.sig);
        ASSERT_TRUE(p.waitForFinished(15000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), c.code) << qPrintable(err);
        const QStringList files = entries(folder);
        ASSERT_EQ(files.size(), 1) << qPrintable(files.join(' '));
        EXPECT_TRUE(files[0].startsWith("fast"));
        const auto rows = report(rep);
        ASSERT_EQ(rows.size(), 3u) << qPrintable(err);
        EXPECT_EQ(rows[0][2], "done");
        EXPECT_EQ(rows[1][2], "cancelled");
        EXPECT_EQ(rows[2][2], "cancelled");
    }
}

TEST_F(CliDownload, HarvestSearchesAndDownloadsInOneRun)
{
    const QString kw = writeFile("kw.txt", "手册\n");
    const QString rep = dir.filePath("harvest.tsv");
    const CliRun r = cli({"harvest", "--keywords", kw, "--types", "doc", "--delay", "0", "--search-base",
                          service->baseUrl(), "--out", out(), "--threads", "6", "--report", rep, "--quiet"});
    EXPECT_EQ(r.code, 1) << qPrintable(r.err);  // the protected link
    // Quiet: of the rows only the web page is told, then the summary.
    EXPECT_EQ(r.err.count(QRegularExpression("^\\[\\d/6\\] ", QRegularExpression::MultilineOption)), 1) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains("download: 6 rows: 5 done, 0 skipped, 0 failed, 1 pages, 0 cancelled"));
    const QStringList linkLines =
        QString::fromUtf8(readFile(out() + "/links.tsv")).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(linkLines.size(), 7);
    EXPECT_EQ(linkLines[0], "title\ttype\turl\treferer");
    const auto rows = report(rep);
    ASSERT_EQ(rows.size(), 6u);
    int docs = 0;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(line(rows, i, 1), linkLines[i + 1].section('\t', 2, 2));
        if (line(rows, i, 2) == "done") {
            ++docs;
            EXPECT_TRUE(readFile(line(rows, i, 3)).startsWith("\xD0\xCF\x11\xE0"));
        }
    }
    EXPECT_EQ(docs, 5);
    EXPECT_EQ(entries(out()).size(), 7);  // five documents, one page, links.tsv
}

TEST_F(CliDownload, AddressArgumentsAreNamedAfterTheAddress)
{
    const CliRun r = cli({"download", url("/doc/first-1.pdf"), url("/doc/second-2.doc"), "--out", out()});
    EXPECT_EQ(r.code, 0) << qPrintable(r.err);
    EXPECT_EQ(entries(out()), (QStringList{"first-1.pdf", "second-2.doc"}));
    EXPECT_EQ(readFile(out() + "/second-2.doc"), demo::makeDocument("doc", "second-2"));
}

// Runs over one folder: a PDF sent as a page and listed as .doc, and a login page. A killed run
// left a placeholder and a temporary file behind, neither of them the user's.
TEST_F(CliDownload, TypeCheckFollowsTheSameNamePolicyAcrossRuns)
{
    const QString links = writeFile("tc.tsv", tsv({{"a", "/doc/wrongtype/a.pdf"}, {"b", "/doc/protected/b.pdf"}}, "doc"));
    const struct { const char* policy; QStringList files; } runs[] = {
        {"skip", {"a.pdf", "b.htm"}}, {"skip", {"a.pdf", "b.htm"}}, {"overwrite", {"a.pdf", "b.htm"}},
        {"rename", {"a.pdf", "a[001].pdf", "b.htm", "b[001].htm"}},
    };
    for (const S method : {"1", "2"}) {
        QDir().mkpath(dir.filePath("tc" + method));
        for (const S name : {method == "1" ? "a.html" : "a.doc", ".dh-AbC123.part"}) {
            QFile f(writeFile("tc" + method + "/" + name, QByteArray("\x01\x00", 2)));
            const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.setFileTime(hourAgo, QFileDevice::FileModificationTime));
        }
        for (const auto& run : runs) {
            const CliRun r = cli({"download", "--links", links, "--out", dir.filePath("tc" + method), "--same-name",
                                  run.policy, "--method", method});
            EXPECT_EQ(entries(dir.filePath("tc" + method)), run.files) << qPrintable(method + r.err);
            EXPECT_EQ(readFile(dir.filePath("tc" + method + "/a.pdf")), demo::makeDocument("pdf", "a"));
        }
    }
}

TEST_F(CliDownload, BadInputIsRefusedBeforeAnythingStarts)
{
    const QString aFile = writeFile("plain.txt", "x");
    const QString good = writeFile("good.tsv", tsv({{"a", "/doc/a-1.pdf"}}));
    const QString shortLine =
        writeFile("short.tsv", tsv({{"a", "/doc/a-1.pdf"}}) + "only\ttwo\n" + tsv({{"b", "/doc/b-1.pdf"}}));
    const QString ftp = writeFile("ftp.tsv", "title\ttype\turl\treferer\nx\tpdf\tftp://host/x.pdf\t\n");
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {{"--links", shortLine, "--out", out()}, "line 3: 2 columns"},
        {{"--links", ftp, "--out", out()}, "line 2: 'ftp://host/x.pdf' is not an http or https address"},
        {{"ftp://host/x.pdf", "--out", out()}, "'ftp://host/x.pdf' is not an http or https address"},
        {{"--links", dir.filePath("missing.tsv"), "--out", out()}, "cannot read"},
        {{"--links", good, "--out", aFile}, "is a file, not a folder"},
        {{"--links", good, "--out", "/proc/self"}, "cannot be written to"},
        {{"--links", good}, "--out DIR is required"},
        {{"--links", good, "--out", out(), "--report", "/proc/self/report.tsv"}, "its folder cannot be written to"},
        {{"--out", out()}, "give --links FILE or one or more addresses"},
        {{"--links", good, "--out", out(), "--bogus"}, "unknown option --bogus"},
        {{"--links", good, "--out", out(), "--threads"}, "--threads needs a value"},
        {{"--links", good, "--out", out(), "--threads", "9"}, "--threads 9: must be a whole number from 1 to 6"},
        {{"--links", good, "--out", out(), "--same-name", "keep"}, "--same-name keep"},
        {{"--links", good, "--out", out(), "--redownload-rounds", "2"}, "--redownload-rounds needs --redownload"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = cli(QStringList{"download"} + c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << qPrintable(r.err);
        EXPECT_FALSE(QFileInfo::exists(out()));
    }
    EXPECT_EQ(cli({"harvest", "--out", out()}).code, 2);
    // A search option refused by the search step: the folders the run made go again.
    const QString kw = writeFile("kw.txt", "机械设计\n");
    EXPECT_EQ(cli({"harvest", "--keywords", kw, "--delay", "999", "--out", out() + "/a/b"}).code, 2);
    EXPECT_FALSE(QFileInfo::exists(out()));
    const CliRun help = cli({"download", "--help"});
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--links", "--out", "--method", "--threads", "--pause", "--same-name", "--names",
                               "--max-size", "--proxy", "--redownload", "--redownload-rounds", "--stop-after-bad",
                               "--report", "--quiet"})
        EXPECT_TRUE(help.out.contains(option)) << option;
}

// A run goes on when the reader of its output goes away (`2>&1 | head`; Qt
// ignores SIGPIPE only once it has opened a socket), says so when that loses
// the report, and writes its report when GNU timeout sends SIGTERM twice.
TEST_F(CliDownload, ClosedPipesAndRepeatedSignalsKeepTheReport)
{
    const QString fast = writeFile("fast.tsv", tsv({{"a", "/t/file/2000"}, {"b", "/t/file/3000"}}, "bin"));
    const QString slow =
        writeFile("slow.tsv", tsv({{"fast", "/t/file/2000"}, {"slow", "/t/slow/4000000?piece=8192&delay_ms=20"}}, "bin"));
    const QString kw = writeFile("kw.txt", "教程\n");
    const QString rep = dir.filePath("pipe-report.tsv");
    const struct {
        const char* name;
        QStringList args;
        int closedFd;  // that output is a pipe nobody reads (0: none)
        int sig, code;
        QStringList states;
    } cases[] = {
        {"standard error's reader gone", {"search", "--keywords", kw, "--delay", "0", "--search-base",
                                          service->baseUrl(), "--out", dir.filePath("links.tsv")}, 2, 0, 0, {}},
        {"the links' reader gone", {"search", "--keywords", kw, "--search-base", service->baseUrl()}, 1, 0, 2, {}},
        {"the report's reader gone", {"download", "--links", fast, "--out", out(), "--report", "-"}, 1, 0, 1, {}},
        {"SIGTERM twice", {"download", "--links", slow, "--out", out() + "2", "--report", rep}, 0, SIGTERM, 143,
         {"done", "cancelled"}},
        {"Ctrl-C twice", {"download", "--links", slow, "--out", out() + "3", "--report", rep}, 0, SIGINT, 130,
         {"done", "cancelled"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(rep);
        CliRun r;
        if (c.sig) {
            QProcess p;
            p.start(cliPath(), c.args);
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 20000 && !r.err.contains("done")) {  // the fast row is through
                p.waitForReadyRead(100);
                r.err += QString::fromUtf8(p.readAllStandardError());
            }
            // The second right after the first has been taken, as timeout sends them.
            const QString status = QStringLiteral("/proc/%1/status").arg(p.processId());
            ::kill(pid_t(p.processId()), c.sig);
            while (t.elapsed() < 20000 && !readFile(status).contains("ShdPnd:\t0000000000000000"))
                QThread::usleep(200);
            ::kill(pid_t(p.processId()), c.sig);
            EXPECT_TRUE(p.waitForFinished(15000));
            r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        } else {
            r = cli(c.args, {}, 90000, [fd = c.closedFd] {
                int ends[2];
                if (::pipe(ends) == 0 && ::dup2(ends[1], fd) >= 0)
                    ::close(ends[0]);
                ::signal(SIGPIPE, SIG_DFL);  // as a shell leaves it
            });
        }
        EXPECT_EQ(r.code, c.code) << qPrintable(r.err);
        QStringList states;
        for (const QStringList& row : report(rep))
            states << row.value(2);
        EXPECT_EQ(states, c.states);
    }
}

// Keyword and link files in GBK are read as GBK under a UTF-8 locale; a file
// that is neither UTF-8 nor GBK is refused with its line.
TEST_F(CliDownload, GbkFilesAreReadAndOtherBytesRefused)
{
    QStringEncoder gbk("GBK");
    const QString links = writeFile("gbk.tsv", gbk.encode(QString::fromUtf8(tsv({{"中文", "/doc/g-1.pdf"}}))));
    const QString keywords = writeFile("gbk.txt", gbk.encode(S("教程\n")));
    const QByteArray notText = "plain\n\xff\xfe\n";
    const QString badLinks = writeFile("bad.tsv", tsv({{"a", "/doc/a-1.pdf"}}) + notText);
    const QStringList search{"search", "--types", "pdf", "--delay", "0", "--search-base", service->baseUrl(), "--keywords"};
    const struct {
        QStringList args;
        QByteArray input;
        int code;
        const char* message;
    } cases[] = {
        {{"download", "--out", out(), "--links", links}, {}, 0, "done       中文.pdf"},
        {search + QStringList{keywords}, {}, 0, "search: 教程 (pdf)"},
        {{"download", "--out", out(), "--links", badLinks}, {}, 2, "bad.tsv, line 4: neither UTF-8 nor GBK text"},
        {{"download", "--out", out(), "--links", "-"}, notText, 2, "standard input, line 2: neither UTF-8 nor GBK"},
        {search + QStringList{writeFile("bad.txt", notText)}, {}, 2, "bad.txt, line 2: neither UTF-8 nor GBK text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = cli(c.args, c.input);
        EXPECT_EQ(r.code, c.code) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << qPrintable(r.err);
    }
}

// Escape sequences, BEL, NUL and C1 characters from pages and link files
// reach no file and no terminal: they are written as U+FFFD.
TEST_F(CliDownload, ControlCharactersAreNeverWritten)
{
    const QByteArray hostile = "x\x1b]0;owned\x07y\xc2\x9b" "31m";
    const QString kw = writeFile("kw-esc.txt", hostile + "\n");
    const QString links = writeFile("esc.tsv", "title\ttype\turl\treferer\n" + hostile + QByteArray("\0z\tpdf\t", 7)
                                                   + url("/doc/e-1.pdf").toUtf8() + "\t\n");
    const QString rep = dir.filePath("esc-report.tsv");
    const struct {
        QStringList args, files;
    } cases[] = {
        {{"harvest", "--keywords", kw, "--types", "pdf", "--delay", "0", "--search-base", service->baseUrl(), "--out",
          out(), "--report", rep},
         {out() + "/links.tsv", rep}},
        {{"download", "--links", links, "--out", out() + "2", "--report", rep}, {rep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.first().toStdString());
        const CliRun r = cli(c.args);
        EXPECT_TRUE(r.code == 0 || r.code == 1) << qPrintable(r.err);
        QStringList texts{r.err};
        for (const QString& f : c.files) {
            texts << QString::fromUtf8(readFile(f));
            EXPECT_TRUE(texts.last().contains(QChar::ReplacementCharacter)) << qPrintable(texts.last());
        }
        for (const QString& text : texts)
            EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](QChar ch) {
                const char16_t u = ch.unicode();
                return (u < 0x20 && u != u'\t' && u != u'\n') || (u >= 0x7F && u <= 0x9F);
            })) << qPrintable(text);
    }
}

} // namespace
} // namespace dh::test
