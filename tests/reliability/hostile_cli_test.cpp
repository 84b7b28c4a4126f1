// docharvest-cli search against hostile services: the exit code tells a
// failure from an empty result, arguments are checked before the first
// request, and SIGINT/SIGTERM leave a valid TSV with the links so far.
#include "TestEnv.h"

#include "app/SettingsStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <tuple>
#include <unistd.h>

namespace {

class HostileCli : public ::testing::Test {
protected:
    QProcess service;
    QString base;
    QTemporaryDir dir;

    void SetUp() override
    {
        service.start(dh::test::binaryDir() + QStringLiteral("/docharvest-demo-service"),
                      {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--rate-pages"), QStringLiteral("-1"),
                       QStringLiteral("--test-routes")});
        ASSERT_TRUE(service.waitForStarted(5000));
        ASSERT_TRUE(service.waitForReadyRead(5000));
        base = QString::fromUtf8(service.readLine()).trimmed();
        QFile kw(dir.filePath(QStringLiteral("kw.txt")));
        ASSERT_TRUE(kw.open(QIODevice::WriteOnly));
        kw.write("教程\n");
    }
    void TearDown() override
    {
        service.kill();
        service.waitForFinished(5000);
    }
    QStringList searchArgs(const QString& searchBase, const QString& out)
    {
        return {QStringLiteral("search"), QStringLiteral("--keywords"), dir.filePath(QStringLiteral("kw.txt")),
                QStringLiteral("--types"), QStringLiteral("pdf"), QStringLiteral("--delay"), QStringLiteral("0"),
                QStringLiteral("--search-base"), searchBase, QStringLiteral("--out"), out};
    }
    void startCli(QProcess& p, const QStringList& args, const QString& ini = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!ini.isEmpty())
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), ini);
        p.setProcessEnvironment(env);
        p.start(dh::test::binaryDir() + QStringLiteral("/docharvest-cli"), args);
        ASSERT_TRUE(p.waitForStarted(5000));
    }
    // Every line has the four fields; returns the data rows.
    static QStringList tsvRows(const QString& file)
    {
        QFile in(file);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << qPrintable(file);
        const QByteArray bytes = in.readAll();
        EXPECT_TRUE(bytes.isEmpty() || bytes.endsWith('\n'));
        QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        EXPECT_FALSE(lines.isEmpty());
        if (lines.isEmpty())
            return {};
        EXPECT_EQ(lines.takeFirst(), QStringLiteral("title\ttype\turl\treferer"));
        for (const QString& l : lines)
            EXPECT_EQ(l.split(QLatin1Char('\t')).size(), 4) << qPrintable(l);
        return lines;
    }
};

struct ExitRow {
    const char* name;
    const char* base;  // under the service, or an absolute address when it has a scheme
    int code;
    int rows;          // -1: no output file expected
    const char* message;
};

TEST_F(HostileCli, ExitCodeTellsFailureFromEmptyResult)
{
    const ExitRow rows[] = {
        {"result pages", "/hostile/self", 0, 2, "paging ended"},
        {"real empty result page", "/hostile/empty", 0, 0, "search: 0 links collected; 1 个查询：1 个完成\n"},
        {"server error", "/hostile/status", 3, 0, "1 个查询：0 个完成，1 个失败（服务器返回错误）"},
        {"not a result page", "/hostile/notresults", 3, 0, "1 个失败（不是结果页）"},
        {"service unreachable", "http://127.0.0.1:1", 3, 0, "search: 0 links collected; 1 个查询：0 个完成，1 个失败（无法连接）"},
        {"next page stalls", "/hostile/stall/30", 3, 2, "1 个失败（翻页失败）"},
        {"base is a script", "javascript:alert(1)", 2, -1, "not an http or https address"},
        {"base is a local file", "file:///etc", 2, -1, "not an http or https address"},
    };
    for (const ExitRow& r : rows) {
        SCOPED_TRACE(r.name);
        const QString b = QString::fromLatin1(r.base).startsWith(QLatin1Char('/')) ? base + QString::fromLatin1(r.base)
                                                                                     : QString::fromLatin1(r.base);
        const QString out = dir.filePath(QString::fromLatin1(r.name).replace(QLatin1Char(' '), QLatin1Char('_')));
        QProcess p;
        // The stalled next page is given up after the next-page wait; the
        // setting would be 20 s, the command line has no shorter one.
        startCli(p, searchArgs(b, out));
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), r.code) << qPrintable(err);
        EXPECT_TRUE(err.contains(QString::fromUtf8(r.message))) << qPrintable(err);
        if (r.rows < 0)
            EXPECT_FALSE(QFile::exists(out));
        else
            EXPECT_EQ(tsvRows(out).size(), r.rows);
    }
}

TEST_F(HostileCli, BadSettingAndBadOutputAreRefusedBeforeAnyRequest)
{
    // A nonsense base address in the settings.
    const QString cfg = dir.filePath(QStringLiteral("cfg"));
    QDir().mkpath(cfg + QStringLiteral("/DocHarvest"));
    {
        dh::SettingsStore store(cfg + QStringLiteral("/DocHarvest/DocHarvest.ini"));
        store.save(dh::keys::searchServiceBase, QStringLiteral("javascript:alert(1)"));
        store.sync();
    }
    QStringList args = searchArgs(base, dir.filePath(QStringLiteral("a.tsv")));
    args.removeAt(args.indexOf(QStringLiteral("--search-base")) + 1);
    args.removeAll(QStringLiteral("--search-base"));
    QProcess p1;
    startCli(p1, args, cfg);
    ASSERT_TRUE(p1.waitForFinished(20000));
    EXPECT_EQ(p1.exitCode(), 2);
    const QString err1 = QString::fromUtf8(p1.readAllStandardError());
    EXPECT_TRUE(err1.contains(QStringLiteral("设置/搜索服务地址"))) << qPrintable(err1);
    EXPECT_FALSE(err1.contains(QStringLiteral("search: 教程"))) << qPrintable(err1);

    // --out into a missing folder or onto a folder: refused at once, nothing searched.
    for (const QString& out : {dir.filePath(QStringLiteral("missing/links.tsv")), dir.path()}) {
        QProcess p;
        startCli(p, searchArgs(base + QStringLiteral("/hostile/stall/30"), out));
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), 2);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(err.contains(QStringLiteral("--out"))) << qPrintable(err);
        EXPECT_FALSE(err.contains(QStringLiteral("search: 教程"))) << qPrintable(err);
    }
}

TEST_F(HostileCli, SignalLeavesAValidTsvWithTheLinksSoFar)
{
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const QString out = dir.filePath(QStringLiteral("links-%1.tsv").arg(sig));
        QFile previous(out);
        ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
        previous.write("an older file\n");
        previous.close();
        QProcess p;
        // Pages that never end, one every second.
        QStringList args = searchArgs(base + QStringLiteral("/hostile/grow"), out);
        args << QStringLiteral("--delay") << QStringLiteral("1") << QStringLiteral("--max-pages")
             << QStringLiteral("0");
        startCli(p, args);
        QString err;
        QElapsedTimer t;
        t.start();
        while (!err.contains(QStringLiteral("page 3:")) && t.elapsed() < 30000) {
            p.waitForReadyRead(100);
            err += QString::fromUtf8(p.readAllStandardError());
        }
        ASSERT_TRUE(err.contains(QStringLiteral("page 3:"))) << qPrintable(err);
        ::kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(10000));
        err += QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 128 + sig) << qPrintable(err);
        const QStringList rows = tsvRows(out);
        EXPECT_GE(rows.size(), 6);
        EXPECT_TRUE(err.contains(QStringLiteral("search: %1 links collected").arg(rows.size()))) << qPrintable(err);
        // No temporary file is left behind.
        EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden).size(), 0);
    }
}

} // namespace

namespace {

// fix-types reports every file it cannot handle, with the reason, and exits 1.
TEST(HostileFixTypes, ReportsSkippedFilesAndFailsWhenAnythingWasLeft)
{
    QTemporaryDir dir;
    const QByteArray pdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n";
    auto put = [&](const QByteArray& rawName, const QByteArray& bytes) {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + rawName;
        FILE* f = std::fopen(path.constData(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
        std::fclose(f);
    };
    put("report.doc", pdf);
    put("bad\xff\xfename.doc", pdf);  // not valid UTF-8
    const bool root = ::geteuid() == 0;
    if (!root) {
        put("locked.doc", pdf);
        QFile::setPermissions(dir.filePath(QStringLiteral("locked.doc")), QFileDevice::Permissions());
    }
    auto run = [&] {
        QProcess p;
        p.start(dh::test::binaryDir() + QStringLiteral("/docharvest-cli"), {QStringLiteral("fix-types"), dir.path()});
        EXPECT_TRUE(p.waitForFinished(20000));
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardError()));
    };
    auto [code, err] = run();
    EXPECT_EQ(code, 1) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("not valid in the system encoding"))) << qPrintable(err);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("report.pdf"))));
    if (!root) {
        EXPECT_TRUE(err.contains(QStringLiteral("locked.doc: cannot read"))) << qPrintable(err);
        // A read-only folder: the rename is refused and the reason given.
        put("again.doc", pdf);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        std::tie(code, err) = run();
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(err.contains(QStringLiteral("not writable"))) << qPrintable(err);
    }
}

} // namespace
