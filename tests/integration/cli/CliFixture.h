#pragma once
// docharvest-cli as a process against a demo service in this process.
#include "TestEnv.h"
#include "demo/DemoDocuments.h"
#include "demo/DemoService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace dh::test {

struct CliRun {
    int code = -1;
    QString out, err;
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        demo::DemoOptions o;
        o.pagesPerQuery = 1;
        o.rateLimitPages = -1;
        service = std::make_unique<demo::DemoService>(o);
        ASSERT_TRUE(service->start());
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { service->stop(); }

    static QString cliPath() { return binaryDir() + QStringLiteral("/docharvest-cli"); }
    QString url(const QString& path) const { return service->baseUrl() + path; }
    QString out() const { return dir.filePath(QStringLiteral("out")); }

    // inChild runs in the child process before the program starts.
    CliRun cli(const QStringList& args, const QByteArray& input = {}, int ms = 90000,
               const std::function<void()>& inChild = {})
    {
        QProcess p;
        if (inChild)
            p.setChildProcessModifier(inChild);
        p.start(cliPath(), args);
        EXPECT_TRUE(p.waitForStarted(5000));
        if (!input.isEmpty())
            p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(ms));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString f = dir.filePath(name);
        QFile file(f);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return f;
    }

    // A links TSV as search writes it.
    QByteArray tsv(const std::vector<std::pair<QString, QString>>& titleAndPath, const QString& type = "pdf") const
    {
        QByteArray t = "title\ttype\turl\treferer\n";
        for (const auto& [title, path] : titleAndPath)
            t += (title + '\t' + type + '\t' + url(path) + '\t' + url("/p?w=1") + '\n').toUtf8();
        return t;
    }

    // Report lines split into fields, header dropped.
    static std::vector<QStringList> report(const QString& file)
    {
        QFile f(file);
        std::vector<QStringList> rows;
        if (!f.open(QIODevice::ReadOnly))
            return rows;
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        for (int i = 1; i < lines.size(); ++i)
            rows.push_back(lines[i].split('\t'));
        return rows;
    }

    // Every entry of a folder, hidden ones included, sorted.
    static QStringList entries(const QString& folder)
    {
        QStringList e = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        e.sort();
        return e;
    }

    std::unique_ptr<demo::DemoService> service;
    QTemporaryDir dir;
};

} // namespace dh::test
