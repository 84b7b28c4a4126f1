// The cache viewer over entry files Chromium itself wrote while the embedded
// browser showed pages of the demo service, and the copy dialog.
#include "GuiTestMain.h"

#include "app/FolderHistory.h"
#include "app/SettingsStore.h"
#include "demo/DemoService.h"
#include "gui/CacheWiring.h"
#include "gui/CopyFilesWindow.h"
#include "gui/CacheViewerWindow.h"
#include "ports/Prompter.h"
#include "platform/chromiumcache/SimpleCache.h"
#include "platform/webengine/WebEngineBrowser.h"

#include <optional>

#include <QComboBox>
#include <QCoroTask>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace dh;
using namespace std::chrono_literals;

class CacheViewerTest : public QObject {
    Q_OBJECT
    std::unique_ptr<demo::DemoService> svc;
    QString base;
    ScriptedPrompter prompter;

    // Waits until Chromium has written an entry for url.
    bool waitForEntry(const QString& url)
    {
        SimpleCacheIndex idx(WebEngineBrowser::httpCacheDirectory(), cacheSidecarFolder());
        for (int i = 0; i < 200; ++i) {
            for (const auto& item : idx.list()) {
                if (item.url == url && item.normal)
                    return true;
            }
            QTest::qWait(50);
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        svc = std::make_unique<demo::DemoService>();
        QVERIFY(svc->start());
        base = svc->baseUrl();
    }
    void cleanupTestCase() { Prompter::setInstance(nullptr); }

    void viewerListsCopiesAndDeletesChromiumEntries()
    {
        const QString page = base + QStringLiteral("/p?w=1");
        {
            WebEngineBrowser web;
            web.view()->resize(600, 400);
            web.view()->show();
            QVERIFY(QCoro::waitFor(navigateAndWait(web, page, 30s)));
            // A second page, so the list holds more than one row.
            QVERIFY(QCoro::waitFor(navigateAndWait(web, base + QStringLiteral("/p?w=1&x=2"), 30s)));
            QVERIFY(waitForEntry(page));
        }
        // The page came brotli-compressed; its local file is the decoded HTML.
        SimpleCacheIndex idx(WebEngineBrowser::httpCacheDirectory(), cacheSidecarFolder());
        QString pageId;
        for (const auto& item : idx.list()) {
            // Every entry the engine wrote passes the integrity checks.
            QVERIFY2(item.state != CacheIndex::State::Damaged, qPrintable(item.url + QLatin1Char(' ') + item.reason));
            QCOMPARE(idx.check(item.id).state == CacheIndex::State::Damaged, false);
            if (item.url == page)
                pageId = item.id;
        }
        QVERIFY(!pageId.isEmpty());
        const auto local = std::optional<QString>(idx.entryFile(pageId).path);
        QVERIFY(local && !local->isEmpty());
        QFile f(*local);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray html = f.readAll();
        QVERIFY2(html.contains("<") && html.toLower().contains("html"), html.left(200).constData());

        CacheViewerWindow w(nullptr);
        w.show();
        QCOMPARE(w.m_countLabel->text(), QStringLiteral("000"));
        QTest::mouseClick(w.m_myCacheButton, Qt::LeftButton);
        // Listed on a worker thread: the window fills in while staying live.
        QTRY_VERIFY_WITH_TIMEOUT(!w.checking(), 20000);
        QVERIFY(w.m_entriesView->topLevelItemCount() >= 2);
        QCOMPARE(w.m_countLabel->text(), QStringLiteral("共有%1 个文件").arg(w.m_entriesView->topLevelItemCount()));
        QTreeWidgetItem* row = nullptr;
        for (int i = 0; i < w.m_entriesView->topLevelItemCount(); ++i) {
            // The address, then the page's title once its body was checked.
            if (w.m_entriesView->topLevelItem(i)->text(0).section(QStringLiteral(" — "), 0, 0) == page)
                row = w.m_entriesView->topLevelItem(i);
        }
        QVERIFY(row);
        QCOMPARE(row->text(3), *local);
        QCOMPARE(row->text(2), QString::number(html.size()));
        QCOMPARE(row->text(4), QStringLiteral("完好"));
        QVERIFY(!row->text(6).isEmpty());  // the stored response time
        w.grab().save(QStringLiteral(DH_TEST_BINARY_DIR "/cache_viewer.png"));

        // Copy the selected row out through the copy dialog.
        QTemporaryDir dest;
        // The second page has no local file yet: its body is decoded on a
        // worker thread before the copy dialog opens.
        QTreeWidgetItem* second = w.m_entriesView->findItems(base + QStringLiteral("/p?w=1&x=2 — "), Qt::MatchStartsWith, 0).value(0);
        QVERIFY(second);
        QVERIFY(second->text(3).isEmpty());
        row->setSelected(true);
        second->setSelected(true);
        CopyFilesWindow* dlg = nullptr;
        QTest::mouseClick(w.m_copySelectedButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT((dlg = w.findChild<CopyFilesWindow*>()) != nullptr, 20000);
        QVERIFY(!w.extracting());
        QVERIFY(!second->text(3).isEmpty());
        QCOMPARE(dlg->windowTitle(), QStringLiteral("复制文件：2 个文件..."));
        dlg->m_destinationCombo->setEditText(dest.path() + QStringLiteral("/sub"));
        dlg->m_sameNameRadios[3]->setChecked(true);
        prompter.clear();
        QCoro::waitFor(dlg->runCopy(true));
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("复制文件完成！")});
        QVERIFY(QFile::exists(dest.path() + QStringLiteral("/sub/") + QFileInfo(*local).fileName()));
        QCOMPARE(SettingsStore::instance().get(keys::copyDestination), dest.path() + QStringLiteral("/sub/"));
        QCOMPARE(SettingsStore::instance().get(keys::copyOption), QStringLiteral("3"));
        QStringList history;
        loadFolderHistory(history, folderHistoryFile());
        QVERIFY(history.contains(dest.path() + QStringLiteral("/sub/")));
        dlg->close();

        // Delete the selected row: entry files and local file go, the list is
        // rebuilt from the disk. (The count is not compared: the browser's
        // network process may still be writing entries of its own.)
        const auto addresses = [&w] {
            QStringList out;
            for (int i = 0; i < w.m_entriesView->topLevelItemCount(); ++i)
                out << w.m_entriesView->topLevelItem(i)->text(0).section(QStringLiteral(" — "), 0, 0);
            return out;
        };
        const QString secondAddress = base + QStringLiteral("/p?w=1&x=2");
        QVERIFY(addresses().contains(secondAddress));
        const QString entryFile = WebEngineBrowser::httpCacheDirectory() + QLatin1Char('/')
                                  + simplecache::entryHashOfKey("1/0/" + page.toUtf8()) + QStringLiteral("_0");
        QVERIFY2(QFile::exists(entryFile), qPrintable(entryFile));
        w.m_entriesView->clearSelection();
        row->setSelected(true);
        QTest::mouseClick(w.m_deleteSelectedButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.checking(), 20000);
        QVERIFY(!addresses().contains(page));
        QVERIFY(addresses().contains(secondAddress));
        QVERIFY(!QFile::exists(entryFile));
        QVERIFY(!QFile::exists(*local));
    }

    void allUsersListsASecondHome()
    {
        // A second user's home with a cached file, next to the running user's.
        QTemporaryDir second;
        CacheLocations loc = currentCacheLocations();
        QVERIFY(!loc.cacheFolderNames.isEmpty());
        const QString folder = second.path() + loc.cacheFolderNames.first();
        const QString file = folder + QStringLiteral("/sub/doc.pdf");
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4 second");
        f.close();
        loc.userHomes = [&] {
            return std::vector<UserHome>{{QStringLiteral("me"), QDir::homePath()}, {QStringLiteral("second"), second.path()}};
        };
        CacheViewerWindow w(nullptr, nullptr, loc);
        w.show();
        // The walk runs on a worker thread: the click returns at once with an
        // empty list, and a second click while it runs leaves only its own rows.
        QTest::mouseClick(w.m_allUsersCacheButton, Qt::LeftButton);
        QCOMPARE(w.m_entriesView->topLevelItemCount(), 0);
        QVERIFY(w.m_countLabel->text().startsWith(QStringLiteral("正在读取缓存……已列出")));
        const QString added = folder + QStringLiteral("/sub/added.doc");
        QFile a(added);
        QVERIFY(a.open(QIODevice::WriteOnly));
        a.close();
        QTest::mouseClick(w.m_allUsersCacheButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.checking(), 20000);
        QCOMPARE(w.m_entriesView->findItems(added, Qt::MatchExactly, 3).size(), 1);
        QCOMPARE(w.m_entriesView->topLevelItemCount(), static_cast<int>(w.viewer().rows.size()));
        QCOMPARE(w.viewer().viewMode, QStringLiteral("所有缓存"));
        QList<QTreeWidgetItem*> users = w.m_usersView->findItems(QStringLiteral("second"), Qt::MatchExactly, 0);
        QCOMPARE(users.size(), 1);
        QCOMPARE(users.first()->text(1), folder + QLatin1Char('/'));
        const QList<QTreeWidgetItem*> rows = w.m_entriesView->findItems(file, Qt::MatchExactly, 3);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first()->text(0), QStringLiteral("用户:second"));
        QCOMPARE(rows.first()->text(2), QStringLiteral("15"));
        QCOMPARE(w.m_countLabel->text(), QStringLiteral("共有%1 个文件").arg(w.m_entriesView->topLevelItemCount()));
        // A walk still running when the window goes is abandoned.
        QTest::mouseClick(w.m_allUsersCacheButton, Qt::LeftButton);
        w.close();
        QVERIFY(!w.checking());
    }

    // docharvest-cli cache list/extract over the folder the engine wrote, and
    // over a copy of it with one flipped body byte.
    void commandLineListsAndExtracts()
    {
        const QString page = base + QStringLiteral("/p?w=1&cli=1");
        {
            WebEngineBrowser web;
            QVERIFY(QCoro::waitFor(navigateAndWait(web, page, 30s)));
            QVERIFY(waitForEntry(page));
        }
        auto cli = [](const QStringList& args, QByteArray* out = nullptr) {
            QProcess p;
            p.start(QStringLiteral(DH_TEST_BINARY_DIR "/docharvest-cli"), QStringList{QStringLiteral("cache")} + args);
            p.waitForFinished(60000);
            if (out)
                *out = p.readAllStandardOutput();
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        const QString dir = WebEngineBrowser::httpCacheDirectory();
        QByteArray out;
        QCOMPARE(cli({QStringLiteral("list"), QStringLiteral("--cache-dir"), dir}, &out), 0);
        QVERIFY(out.startsWith("url\tsize\ttype\tmodified\taccessed\tlocal_file\tstate\tsite\treason\n"));
        QByteArray pageLine;
        for (const QByteArray& l : out.split('\n')) {
            if (l.startsWith(page.toUtf8() + '\t'))
                pageLine = l;
        }
        QCOMPARE(pageLine.split('\t').value(6), QByteArray("ok"));
        QCOMPARE(cli({QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("xml")}), 2);

        QTemporaryDir to;
        const QStringList extract{QStringLiteral("extract"), QStringLiteral("--cache-dir"), dir, QStringLiteral("--to"),
                                  to.path(), QStringLiteral("--match"), QStringLiteral("cli=1")};
        QCOMPARE(cli(extract, &out), 0);
        QVERIFY2(out.startsWith("extracted\t"), out.constData());
        const QStringList files = QDir(to.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile f(to.filePath(files.first()));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().toLower().contains("html"));
        QCOMPARE(cli(extract + QStringList{QStringLiteral("--same-name"), QStringLiteral("skip")}, &out), 0);
        QVERIFY2(out.startsWith("skipped\t"), out.constData());
        QCOMPARE(cli(extract, &out), 0);  // rename: a second, numbered file
        QCOMPARE(QDir(to.path()).entryList(QDir::Files).size(), 2);

        // A copy of the cache with one flipped body byte in the page's entry.
        QTemporaryDir copy;
        const QString name = simplecache::entryHashOfKey("1/0/" + page.toUtf8()) + QStringLiteral("_0");
        QVERIFY(QFile::copy(dir + QLatin1Char('/') + name, copy.filePath(name)));
        const auto e = simplecache::readEntryFile(copy.filePath(name));
        QVERIFY(e && e->damage.isEmpty() && e->bodySize > 0);
        QFile g(copy.filePath(name));
        QVERIFY(g.open(QIODevice::ReadWrite));
        g.seek(e->bodyOffset);
        const char c = g.read(1).at(0);
        g.seek(e->bodyOffset);
        g.write(QByteArray(1, char(c ^ 0x20)));
        g.close();
        QCOMPARE(cli({QStringLiteral("list"), QStringLiteral("--cache-dir"), copy.path(), QStringLiteral("--format"),
                      QStringLiteral("json")},
                     &out),
                 0);
        const QJsonArray rows = QJsonDocument::fromJson(out).array();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0)[QStringLiteral("state")].toString(), QStringLiteral("damaged"));
        QVERIFY(rows.at(0)[QStringLiteral("reason")].toString().contains(QStringLiteral("CRC32")));
        QTemporaryDir to2;
        QCOMPARE(cli({QStringLiteral("extract"), QStringLiteral("--cache-dir"), copy.path(), QStringLiteral("--to"),
                      to2.path()},
                     &out),
                 1);
        QVERIFY2(out.startsWith("refused\t"), out.constData());
        QVERIFY(QDir(to2.path()).entryList(QDir::Files).isEmpty());
    }

    void clearingAtExitEmptiesTheCache()
    {
        {
            WebEngineBrowser web;
            QVERIFY(QCoro::waitFor(navigateAndWait(web, base + QStringLiteral("/p?w=1&clear=1"), 30s)));
            QVERIFY(waitForEntry(base + QStringLiteral("/p?w=1&clear=1")));
        }
        installCacheClearingAtExit();
        QVERIFY(bool(clearStartWindowHook()));
        clearStartWindowHook()();
        SimpleCacheIndex idx(WebEngineBrowser::httpCacheDirectory(), cacheSidecarFolder());
        int normal = 0;
        for (const auto& item : idx.list()) {
            // Failed answers (a missing favicon) are not listed and stay.
            if (!item.normal)
                continue;
            ++normal;
            QVERIFY2(item.url.contains(QStringLiteral("cookie"), Qt::CaseInsensitive), qPrintable(item.url));
        }
        QCOMPARE(normal, 0);
        QVERIFY(prompter.texts().isEmpty() || !prompter.texts().contains(QStringLiteral("IE缓存清空完毕！")));
    }

private:
    static std::function<void()>& clearStartWindowHook();
};

#include "gui/StartWindow.h"
std::function<void()>& CacheViewerTest::clearStartWindowHook()
{
    return StartWindow::clearCacheHook();
}

DH_GUI_TEST_MAIN(CacheViewerTest)
#include "cache_viewer_test.moc"
