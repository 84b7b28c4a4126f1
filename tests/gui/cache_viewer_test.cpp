// The cache viewer over entry files Chromium itself wrote while the embedded
// browser showed pages of the demo service, and the copy dialog.
#include "GuiTestMain.h"

#include "app/FolderHistory.h"
#include "app/SettingsStore.h"
#include "demo/DemoService.h"
#include "gui/CacheWiring.h"
#include "gui/Form_Copy_Move.h"
#include "gui/fIEcache.h"
#include "platform/Prompter.h"
#include "platform/chromiumcache/SimpleCache.h"
#include "platform/webengine/WebEngineBrowser.h"

#include <QComboBox>
#include <QCoroTask>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
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
        idx.list();
        const auto local = idx.entryFile(page);
        QVERIFY(local && !local->isEmpty());
        QFile f(*local);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray html = f.readAll();
        QVERIFY2(html.contains("<") && html.toLower().contains("html"), html.left(200).constData());

        fIEcache w(nullptr);
        w.show();
        QCOMPARE(w.Label1->text(), QStringLiteral("000"));
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QVERIFY(w.ListView1->topLevelItemCount() >= 2);
        QCOMPARE(w.Label1->text(), QStringLiteral("共有%1 个文件").arg(w.ListView1->topLevelItemCount()));
        QTreeWidgetItem* row = nullptr;
        for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i) {
            if (w.ListView1->topLevelItem(i)->text(0) == page)
                row = w.ListView1->topLevelItem(i);
        }
        QVERIFY(row);
        QCOMPARE(row->text(3), *local);
        QCOMPARE(row->text(2), QString::number(html.size()));
        w.grab().save(QStringLiteral(DH_TEST_BINARY_DIR "/cache_viewer.png"));

        // Copy the selected row out through the copy dialog.
        QTemporaryDir dest;
        row->setSelected(true);
        Form_Copy_Move* dlg = nullptr;
        QTest::mouseClick(w.Command6, Qt::LeftButton);
        dlg = w.findChild<Form_Copy_Move*>();
        QVERIFY(dlg);
        QCOMPARE(dlg->windowTitle(), QStringLiteral("复制文件：1 个文件..."));
        dlg->Combo1->setEditText(dest.path() + QStringLiteral("/sub"));
        dlg->Option1[3]->setChecked(true);
        prompter.clear();
        QCoro::waitFor(dlg->执行(true));
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("复制文件完成！")});
        QVERIFY(QFile::exists(dest.path() + QStringLiteral("/sub/") + QFileInfo(*local).fileName()));
        QCOMPARE(SettingsStore::instance().get(keys::CopyDestination), dest.path() + QStringLiteral("/sub/"));
        QCOMPARE(SettingsStore::instance().get(keys::CopyOption), QStringLiteral("3"));
        QStringList history;
        LoadFolderHistory(history, folderHistoryFile());
        QVERIFY(history.contains(dest.path() + QStringLiteral("/sub/")));
        dlg->close();

        // Delete the selected row: entry files and local file go, the list is rebuilt.
        const int before = w.ListView1->topLevelItemCount();
        const QString entryFile = WebEngineBrowser::httpCacheDirectory() + QLatin1Char('/')
                                  + simplecache::entryHashOfKey("1/0/" + page.toUtf8()) + QStringLiteral("_0");
        QVERIFY2(QFile::exists(entryFile), qPrintable(entryFile));
        QTest::mouseClick(w.Command2, Qt::LeftButton);
        QCOMPARE(w.ListView1->topLevelItemCount(), before - 1);
        QVERIFY(!QFile::exists(entryFile));
        QVERIFY(!QFile::exists(*local));

        // Sorting by a header click.
        QTest::mouseClick(w.Command7, Qt::LeftButton);
        QVERIFY(w.ListView2->topLevelItemCount() == 0 || w.ListView1->topLevelItemCount() >= 0);
        QCOMPARE(w.viewer().viewMode, QStringLiteral("所有缓存"));
    }

    void clearingAtExitEmptiesTheCache()
    {
        {
            WebEngineBrowser web;
            QVERIFY(QCoro::waitFor(navigateAndWait(web, base + QStringLiteral("/p?w=1&clear=1"), 30s)));
            QVERIFY(waitForEntry(base + QStringLiteral("/p?w=1&clear=1")));
        }
        installCacheClearingAtExit();
        QVERIFY(bool(fCover_clearHook()));
        fCover_clearHook()();
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
    static std::function<void()>& fCover_clearHook();
};

#include "gui/fCover.h"
std::function<void()>& CacheViewerTest::fCover_clearHook()
{
    return fCover::clearCacheHook();
}

DH_GUI_TEST_MAIN(CacheViewerTest)
#include "cache_viewer_test.moc"
