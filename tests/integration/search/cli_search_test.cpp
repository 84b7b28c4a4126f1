// docharvest-cli search against a docharvest-demo-service process.
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CliSearch : public ::testing::Test {
protected:
    QProcess service;
    QString base;
    QTemporaryDir dir;

    void startService(const QStringList& args)
    {
        service.start(dh::test::binaryDir() + QStringLiteral("/docharvest-demo-service"),
                      QStringList{QStringLiteral("--port"), QStringLiteral("0")} + args);
        ASSERT_TRUE(service.waitForStarted(5000));
        ASSERT_TRUE(service.waitForReadyRead(5000));
        base = QString::fromUtf8(service.readLine()).trimmed();
        ASSERT_TRUE(base.startsWith(QStringLiteral("http://127.0.0.1:")));
    }
    void TearDown() override
    {
        service.kill();
        service.waitForFinished(5000);
    }

    struct Run {
        int code;
        QString err;
    };
    Run cli(const QStringList& args)
    {
        QProcess p;
        p.start(dh::test::binaryDir() + QStringLiteral("/docharvest-cli"), QStringList{QStringLiteral("search")} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    }
    QString keywordFile(const QByteArray& bytes)
    {
        const QString f = dir.filePath(QStringLiteral("kw.txt"));
        QFile out(f);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return f;
    }
    QStringList tsvLines(const QString& f)
    {
        QFile in(f);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        return QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

TEST_F(CliSearch, WritesTheCollectedLinksAsTsv)
{
    startService({QStringLiteral("--rate-pages"), QStringLiteral("-1"), QStringLiteral("--pages"), QStringLiteral("3")});
    const QString out = dir.filePath(QStringLiteral("links.tsv"));
    const Run r = cli({QStringLiteral("--keywords"), keywordFile("教程\r\n\r\n手册\r\n"), QStringLiteral("--types"),
                       QStringLiteral("doc,pdf"), QStringLiteral("--delay"), QStringLiteral("0"),
                       QStringLiteral("--search-base"), base, QStringLiteral("--out"), out});
    ASSERT_EQ(r.code, 0) << qPrintable(r.err);
    const QStringList lines = tsvLines(out);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QStringLiteral("title\\ttype\\turl\\treferer").replace(QStringLiteral("\\t"), QStringLiteral("\t")));
    // Two groups, two types, three pages of six kept results each.
    EXPECT_EQ(lines.size(), 1 + 2 * 2 * 3 * 6);
    int pdf = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char('\t'));
        ASSERT_EQ(f.size(), 4) << qPrintable(lines[i]);
        EXPECT_FALSE(f[0].isEmpty());
        EXPECT_TRUE(f[1] == QLatin1String("pdf") || f[1] == QLatin1String("doc"));
        pdf += f[1] == QLatin1String("pdf");
        EXPECT_TRUE(f[2].startsWith(base)) << qPrintable(f[2]);
        EXPECT_TRUE(f[3].startsWith(base + QStringLiteral("/p?w="))) << qPrintable(f[3]);
    }
    EXPECT_EQ(pdf, 36);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("教程入门教程第1篇\tpdf\t")));
    // One progress line per query and per page.
    EXPECT_EQ(r.err.count(QStringLiteral("search: ")), 4 + 1);  // four queries and the summary
    EXPECT_EQ(r.err.count(QStringLiteral("  page ")), 12);
}

TEST_F(CliSearch, VerificationPageStopsWithANonZeroExit)
{
    startService({QStringLiteral("--rate-pages"), QStringLiteral("2"), QStringLiteral("--rate-window"),
                  QStringLiteral("60"), QStringLiteral("--pages"), QStringLiteral("5")});
    const QString out = dir.filePath(QStringLiteral("links.tsv"));
    const Run r = cli({QStringLiteral("--keywords"), keywordFile("教程\n"), QStringLiteral("--delay"),
                       QStringLiteral("0"), QStringLiteral("--search-base"), base, QStringLiteral("--out"), out});
    EXPECT_EQ(r.code, 3) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("verification page"))) << qPrintable(r.err);
    EXPECT_EQ(tsvLines(out).size(), 1 + 2 * 6);  // the two pages before it
}

TEST_F(CliSearch, BadArgumentsAreRefused)
{
    EXPECT_EQ(cli({}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("--keywords"), dir.filePath(QStringLiteral("missing.txt"))}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("--keywords"), keywordFile("x"), QStringLiteral("--types"), QStringLiteral("exe")}).code, 2);
    EXPECT_EQ(cli({QStringLiteral("--keywords"), keywordFile("x"), QStringLiteral("--delay"), QStringLiteral("500")}).code, 2);
}

} // namespace
