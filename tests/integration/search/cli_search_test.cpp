// docharvest-cli search against a docharvest-demo-service process.
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

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

// The built-in Bing profile, pointed at a local server of pages shaped like
// Bing's result pages: an ad and a site-name link before each title, the
// pager's next link, a result whose address names no type. Also: a profile
// that does not load is refused before any request.
TEST_F(CliSearch, PublicEngineProfileReadsPagesOfItsShape)
{
    httplib::Server pages;
    pages.Get("/search", [](const httplib::Request& req, httplib::Response& res) {
        const int first = req.has_param("first") ? std::stoi(req.get_param_value("first")) : 1;
        std::string body = "<html><body><ol id=\"b_results\"><li class=\"b_ad\"><h2><a href=\"https://ad.test/x.pdf\">广告"
                           "</a></h2></li>";
        for (int n = first; n < first + 10; ++n) {
            const std::string url = n == 5 ? "https://d.test/view?id=5" : "https://d.test/" + std::to_string(n) + ".pdf";
            body += "<li class=\"b_algo\"><div class=\"b_tpcn\"><a class=\"tilk\" href=\"" + url + "\">d.test</a></div><h2>"
                    "<a href=\"" + url + "\">报告 " + std::to_string(n) + "</a></h2><div class=\"b_caption\"><p>摘要</p></div></li>";
        }
        if (first < 21)
            body += "<li class=\"b_pag\"><nav><ul><li><a class=\"sb_pagN\" title=\"Next page\" href=\"/search?q=k&amp;first="
                    + std::to_string(first + 10) + "&amp;FORM=PORE\"><div class=\"sw_next\">Next</div></a></li></ul></nav></li>";
        body += "</ol></body></html>";
        res.set_content(body, "text/html; charset=utf-8");
    });
    const int port = pages.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { pages.listen_after_bind(); });

    QFile builtIn(QStringLiteral(DH_TEST_SOURCE_DIR "/resources/profiles/bing.json"));
    ASSERT_TRUE(builtIn.open(QIODevice::ReadOnly));
    const QString profile = dir.filePath(QStringLiteral("bing-local.json"));
    QFile local(profile);
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write(builtIn.readAll().replace("https://cn.bing.com", "{base}"));
    local.close();

    const QString out = dir.filePath(QStringLiteral("links.tsv"));
    const QStringList common{QStringLiteral("--keywords"), keywordFile("年报\n"), QStringLiteral("--types"),
                             QStringLiteral("pdf"), QStringLiteral("--delay"), QStringLiteral("0"),
                             QStringLiteral("--search-base"), QStringLiteral("http://127.0.0.1:%1").arg(port),
                             QStringLiteral("--out"), out};
    const Run r = cli(common + QStringList{QStringLiteral("--profile"), profile, QStringLiteral("--max-pages"),
                                           QStringLiteral("3")});
    const Run refused = cli(common + QStringList{QStringLiteral("--profile"), QStringLiteral("NoSuchEngine")});
    pages.stop();
    serving.join();

    ASSERT_EQ(r.code, 0) << qPrintable(r.err);
    const QStringList lines = tsvLines(out);
    ASSERT_EQ(lines.size(), 1 + 30);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("报告1\tpdf\thttps://d.test/1.pdf\t"))) << qPrintable(lines[1]);
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("报告5\tpdf\thttps://d.test/view?id=5\t"))) << qPrintable(lines[5]);
    EXPECT_TRUE(lines[11].startsWith(QStringLiteral("报告11\t"))) << qPrintable(lines[11]);
    EXPECT_EQ(r.err.count(QStringLiteral(": +10 links")), 3) << qPrintable(r.err);
    EXPECT_EQ(refused.code, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("NoSuchEngine"))) << qPrintable(refused.err);
}

} // namespace
