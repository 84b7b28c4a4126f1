// One list through the download window and through docharvest-cli: the two
// folders must come out the same (names, numbering, corrected types, bytes).
#include "GuiTestMain.h"

#include "app/Timings.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "download/DownloadWindowState.h"
#include "download/HandOver.h"
#include "gui/Windows.h"
#include "gui/DownloadWindow.h"
#include "net/CurlTransferEngine.h"
#include "ports/Prompter.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace dh;
using namespace std::chrono_literals;

class CliWindowSameFolderTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    demo::DemoService service;
    std::unique_ptr<CurlTransferEngine> engine;
    QTemporaryDir dir;

    struct Link {
        QString title, path;
    };
    // Repeated titles (numbering), a name to sanitise, a document served
    // under another type or with a wrong Content-Type (type correction) and a
    // login page in place of a document.
    const std::vector<Link> links{
        {"报告", "/doc/r-1.pdf"},          {"报告", "/doc/r-2.pdf"},
        {" 方案/草稿:一 ", "/doc/s-1.pdf"}, {"全集", "/doc/wrongtype/w-1.pdf"},
        {"文档", "/doc/d-1.doc?as=pdf"},   {"会员资料", "/doc/protected/m-1.pdf"},
    };

    static QMap<QString, QByteArray> folderContents(const QString& folder)
    {
        QMap<QString, QByteArray> m;
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            QFile f(folder + "/" + name);
            m.insert(name, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
        return m;
    }
    QString prepared(const QString& name)
    {
        const QString folder = dir.filePath(name);
        QDir().mkpath(folder);
        QFile f(folder + "/报告.pdf");  // the user's file of the same name
        f.open(QIODevice::WriteOnly);
        f.write("USER");
        return folder;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        timings().tick = 50ms;
        timings().transferPoll = 20ms;
        QVERIFY(service.start());
        QVERIFY(dir.isValid());
        engine = std::make_unique<CurlTransferEngine>();
        setTransferEngine(engine.get());
    }
    void cleanupTestCase()
    {
        if (DownloadWindow* d = windows::downloadIfLoaded()) {
            prompter.questionAnswers.assign(1, true);
            d->close();
            QTest::qWait(100);
        }
        setTransferEngine(nullptr);
        engine.reset();
        service.stop();
        Prompter::setInstance(nullptr);
    }

    void sameFolder_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("method 1") << 1;
        QTest::newRow("method 2") << 2;
    }
    void sameFolder()
    {
        QFETCH(int, method);
        const QString tag = QString::number(method);

        // The window, driven as the user drives it.
        const QString windowFolder = prepared("window" + tag);
        DownloadWindow* d = windows::download();
        d->show();
        d->list()->clear();
        d->m_state.downloadMethod = method;
        d->setSameNamePolicy(SameNamePolicy::Rename);
        d->m_transferCountCombo->setCurrentIndex(2);  // three transfers
        for (const Link& l : links) {
            const QString url = service.baseUrl() + l.path;
            d->list()->addItem(url, handOverName(url, l.title, false), "pdf", windowFolder + "/", QString());
        }
        d->startDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(d->list()->isListFinished(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!d->m_state.downloadsActive() || !d->m_state.stillExecuting(), 5000);
        d->stopDownloading();

        // The command line, with the same list and options.
        const QString cliFolder = prepared("cli" + tag);
        QByteArray tsv = "title\ttype\turl\treferer\n";
        for (const Link& l : links)
            tsv += (l.title + "\tpdf\t" + service.baseUrl() + l.path + "\t\n").toUtf8();
        QProcess p;
        p.start(dh::test::binaryDir() + "/docharvest-cli",
                {"download", "--links", "-", "--out", cliFolder, "--method", tag, "--threads", "3"});
        QVERIFY(p.waitForStarted(5000));
        p.write(tsv);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);  // the login page

        const auto fromWindow = folderContents(windowFolder);
        const auto fromCli = folderContents(cliFolder);
        QCOMPARE(fromCli.keys(), fromWindow.keys());
        QCOMPARE(fromCli, fromWindow);
        QCOMPARE(fromCli.size(), 7);
        QCOMPARE(fromCli.value("报告.pdf"), QByteArray("USER"));
        QVERIFY(fromCli.contains("报告[002].pdf"));
        QVERIFY(fromCli.contains("会员资料.htm"));
        QVERIFY(fromCli.contains("文档.pdf"));
    }
};

DH_GUI_TEST_MAIN(CliWindowSameFolderTest)
#include "cli_window_same_folder_test.moc"
