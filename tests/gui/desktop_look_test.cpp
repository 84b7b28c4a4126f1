// How the windows look on the desktop: every banded list stays readable on a
// light, a dark and a high-contrast palette (text against each band, as
// rendered), and a screenshot of each main window for the documentation.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/SettingsStore.h"
#include "app/Timings.h"
#include "demo/DemoService.h"
#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "gui/CommandKeys.h"
#include "gui/ListBands.h"
#include "gui/ServiceMode.h"
#include "gui/StateIcons.h"
#include "gui/Windows.h"
#include "gui/StartWindow.h"
#include "gui/DownloadWindow.h"
#include "gui/ElidedLabel.h"
#include "gui/CacheViewerWindow.h"
#include "gui/SearchWindow.h"
#include "gui/CopyFilesWindow.h"
#include "gui/UrlReplaceDialog.h"
#include "gui/OptionsDialog.h"
#include "gui/SaveFolderDialog.h"
#include "gui/HelpWindow.h"
#include "ports/Prompter.h"
#include "platform/webengine/WebEngineBrowser.h"
#include "search/SearchEngine.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QSignalSpy>
#include <QDir>
#include <QVBoxLayout>
#include <QStyleOption>
#include <QRadioButton>
#include <QLineEdit>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>

using namespace dh;

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

// Black base, yellow text: a usual high-contrast theme.
QPalette highContrastPalette()
{
    QPalette p(Qt::black);
    p.setColor(QPalette::Base, Qt::black);
    p.setColor(QPalette::Text, Qt::yellow);
    p.setColor(QPalette::WindowText, Qt::yellow);
    return p;
}

// The lightest or darkest pixel of a row, whichever differs most from the
// row's band: the core of the rendered text.
QColor strongestInk(const QImage& img, const QRect& row, const QColor& band)
{
    QColor best = band;
    double bestRatio = 1;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const double r = contrastRatio(c, band);
            if (r > bestRatio) {
                bestRatio = r;
                best = c;
            }
        }
    }
    return best;
}

} // namespace

class DesktopLookTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    std::unique_ptr<demo::DemoService> svc;
    QPalette original;

    // Renders the view's first two rows and checks the text on both bands.
    void checkRows(QAbstractItemView* view, int textColumn)
    {
        QApplication::processEvents();
        const QImage img = view->viewport()->grab().toImage();
        const ListBandColours want = listBandColours(QApplication::palette(view));
        QVERIFY2(contrastRatio(want.text, want.first) >= 4.5 && contrastRatio(want.text, want.second) >= 4.5,
                 qPrintable(view->objectName()));
        for (int r = 0; r < 2; ++r) {
            const QModelIndex i = view->model()->index(r, textColumn);
            const QRect cell = view->visualRect(i);
            QVERIFY(cell.isValid());
            // The band as drawn: a pixel of the row past the last column's text.
            const QColor band = img.pixelColor(img.width() - 3, cell.center().y());
            QCOMPARE(band.rgb(), (r == 0 ? want.first : want.second).rgb());
            const QColor ink = strongestInk(img, cell.adjusted(2, 1, -2, -1), band);
            const double ratio = contrastRatio(ink, band);
            qInfo("%s row %d: %s on %s = %.2f", qPrintable(view->objectName()), r, qPrintable(ink.name()),
                  qPrintable(band.name()), ratio);
            QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 row %2: %3 on %4 = %5")
                                                  .arg(view->objectName()).arg(r)
                                                  .arg(ink.name(), band.name()).arg(ratio, 0, 'f', 2)));
        }
    }

    // The window's own picture; under a real X server (DH_ROOT_SHOTS set, e.g.
    // with xvfb-run) also the whole screen as the user sees it.
    void saveShot(QWidget* w, const QString& name)
    {
        const QString dir = QDir(qEnvironmentVariable("DH_BINARY_DIR")).filePath(QStringLiteral("screenshots"));
        QDir().mkpath(QFileInfo(QDir(dir).filePath(name)).path());
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::qWait(300);
        QVERIFY(w->grab().toImage().save(QDir(dir).filePath(name)));
        if (qEnvironmentVariableIsSet("DH_ROOT_SHOTS")) {
            w->raise();
            QTest::qWait(500);
            QCOMPARE(QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                                   QDir(dir).filePath(QStringLiteral("root-") + name)}),
                     0);
        }
    }

    SearchWindow* openSearchWindow()
    {
        SearchWindow* w = windows::search();
        w->resize(1100, 720);
        w->show();
        QTest::qWaitFor([&] { return w->m_browser->completedLoads() >= 1 && !w->m_browser->busy(); }, 30000);
        for (int i = 1; i <= 6; ++i)
            w->engine()->addToLinksList(QStringLiteral("机械设计基础教程 第%1章").arg(i),
                                 svc->baseUrl() + QStringLiteral("/doc/%1.pdf").arg(i), svc->baseUrl(),
                                 QStringLiteral("pdf"), defaultSaveFolder());
        return w;
    }

    DownloadWindow* openDownloadWindow()
    {
        DownloadWindow* d = windows::download();
        d->showNormal();
        d->resize(1000, 600);
        DownloadListModel* m = d->list();
        const DownloadState states[] = {DownloadState::Done, DownloadState::Downloading, DownloadState::Waiting,
                                        DownloadState::Failed};
        for (int i = 0; i < 4; ++i) {
            m->addItem(svc->baseUrl() + QStringLiteral("/doc/%1.pdf").arg(i), QStringLiteral("机械设计基础教程 第%1章").arg(i),
                       QStringLiteral("pdf"), defaultSaveFolder(), svc->baseUrl());
            m->setState(i, states[i]);
        }
        return d;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Prompter::setInstance(&prompter);
        installStateIcons();
        demo::DemoOptions o;
        o.rateLimitPages = -1;
        o.pagesPerQuery = 2;
        svc = std::make_unique<demo::DemoService>(o);
        QVERIFY(svc->start());
        globals().searchBaseAddress = svc->baseUrl();
        original = QApplication::palette();
        timings().secondUnit = std::chrono::milliseconds(50);
    }

    void cleanup()
    {
        for (QWidget* w : {static_cast<QWidget*>(windows::searchIfLoaded()),
                           static_cast<QWidget*>(windows::downloadIfLoaded())}) {
            if (w) {
                prompter.questionAnswers.assign(1, true);
                QPointer<QWidget> p(w);
                w->close();
                QTRY_VERIFY(p.isNull());
            }
        }
        QApplication::setPalette(original);
    }

    void cleanupTestCase()
    {
        Prompter::setInstance(nullptr);
        svc->stop();
    }

    void everyListIsReadable_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << original;
        QTest::newRow("dark") << darkPalette();
        QTest::newRow("high contrast") << highContrastPalette();
    }

    // The theme changes while the windows are open, as it does on a desktop.
    void everyListIsReadable()
    {
        QFETCH(QPalette, palette);
        SearchWindow* s = openSearchWindow();
        DownloadWindow* d = openDownloadWindow();
        CacheViewerWindow cache(nullptr);
        cache.m_entriesView->clear();
        for (int i = 0; i < 3; ++i)
            new QTreeWidgetItem(cache.m_entriesView, {QStringLiteral("https://example.net/files/%1.pdf").arg(i),
                                                  QStringLiteral("pdf"), QStringLiteral("1024"),
                                                  QStringLiteral("/tmp/x")});
        cache.resize(800, 500);
        cache.show();
        QApplication::setPalette(palette);
        checkRows(s->m_linksView, 0);
        checkRows(d->m_downloadsView, 1);
        checkRows(cache.m_entriesView, 0);
    }

    void uncheckedBoxesAndPlaceholdersStandOut_data() { everyListIsReadable_data(); }
    // Measured on the drawn pixels: the most distinct pixel of an unticked
    // box, an unchosen radio button and a placeholder text against what lies
    // behind it reaches 3:1.
    void uncheckedBoxesAndPlaceholdersStandOut()
    {
        QFETCH(QPalette, palette);
        QApplication::setPalette(palette);
        QWidget host;
        auto* lay = new QVBoxLayout(&host);
        auto* check = new QCheckBox(QStringLiteral("删除标题中的空格"), &host);
        auto* radio = new QRadioButton(QStringLiteral("重命名"), &host);
        auto* edit = new QLineEdit(&host);
        edit->setPlaceholderText(QStringLiteral("留空则用内置演示服务"));
        for (QWidget* w : {static_cast<QWidget*>(check), static_cast<QWidget*>(radio), static_cast<QWidget*>(edit)})
            lay->addWidget(w);
        host.resize(320, 120);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        const auto strongest = [](QWidget* w, QRect area, const QColor& behind) {
            const QImage img = w->grab().toImage();
            double best = 1.0;
            area = area.intersected(QRect(QPoint(), img.size() / img.devicePixelRatio()));
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    best = std::max(best, contrastRatio(img.pixelColor(x, y), behind));
            return best;
        };
        const QPalette now = QApplication::palette();
        QStyleOptionButton o;
        o.initFrom(check);
        const double box = strongest(check, check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o, check),
                                     now.color(QPalette::Window));
        o.initFrom(radio);
        const double round = strongest(radio, radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &o, radio),
                                       now.color(QPalette::Window));
        const double hint = strongest(edit, edit->rect().adjusted(4, 4, -4, -4), now.color(QPalette::Base));
        QVERIFY2(box >= 3.0 && round >= 3.0 && hint >= 3.0,
                 qPrintable(QStringLiteral("box %1, radio %2, placeholder %3").arg(box).arg(round).arg(hint)));
        QApplication::setPalette(original);
    }

    void stateIconsDifferUnderDarkPalette()
    {
        const QImage light = stateIcon(DownloadState::Failed).pixmap(16, 16).toImage();
        QApplication::setPalette(darkPalette());
        const QImage dark = stateIcon(DownloadState::Failed).pixmap(16, 16).toImage();
        QVERIFY(light != dark);
        // A 2x screen gets the 32-pixel drawing, not a blown-up 16-pixel one.
        QCOMPARE(stateIcon(DownloadState::Done).pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
    }

    // A window's command key runs its command even from a text box that would
    // claim the key (X11's Ctrl+D deletes a character; every box claims Ctrl+A).
    void commandKeysReachTheWindowFromTextBoxes()
    {
        QWidget window;
        auto* lay = new QVBoxLayout(&window);
        auto* plain = new QPlainTextEdit(QStringLiteral("keywords"), &window);
        auto* line = new QLineEdit(QStringLiteral("4"), &window);
        lay->addWidget(plain);
        lay->addWidget(line);
        QAction command(QStringLiteral("command"), &window);
        command.setShortcut(QKeySequence::SelectAll);
        command.setShortcutContext(Qt::WindowShortcut);
        window.addAction(&command);
        keepCommandKeys(&window, {&command});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy runs(&command, &QAction::triggered);
        for (QWidget* box : {static_cast<QWidget*>(plain), static_cast<QWidget*>(line)}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        }
        QCOMPARE(runs.size(), 2);
        QCOMPARE(plain->toPlainText(), QStringLiteral("keywords"));
        command.setEnabled(false);  // a disabled command leaves the key to the box
        QTest::keyClick(line, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(line->selectedText(), QStringLiteral("4"));
    }

    // Every window opens and is drawn; the pictures (screenshots/windows/) let
    // two builds be compared pixel for pixel.
    void everyWindowOpens()
    {
        std::vector<std::pair<QWidget*, QString>> shots;
        auto* cover = new StartWindow();
        cover->load();
        QTRY_VERIFY(cover->startupDone());
        shots.emplace_back(cover, QStringLiteral("cover"));
        SearchWindow* s = windows::search();
        s->resize(1100, 720);
        QVERIFY(QTest::qWaitFor([&] { return s->m_browser->completedLoads() >= 1 && !s->m_browser->busy(); }, 30000));
        shots.emplace_back(s, QStringLiteral("search"));
        DownloadWindow* d = windows::download();
        d->resize(1000, 600);
        shots.emplace_back(d, QStringLiteral("download"));
        shots.emplace_back(new CacheViewerWindow(nullptr), QStringLiteral("cache-viewer"));
        auto* options = new OptionsDialog();
        options->load();
        shots.emplace_back(options, QStringLiteral("options"));
        shots.emplace_back(new SaveFolderDialog(), QStringLiteral("save-folder"));
        shots.emplace_back(new CopyFilesWindow(), QStringLiteral("copy"));
        shots.emplace_back(new HelpWindow(), QStringLiteral("help"));
        shots.emplace_back(new UrlReplaceDialog(*d->list()), QStringLiteral("url-replace"));
        QStringList nameless;
        for (auto& [w, name] : shots) {
            w->show();
            saveShot(w, QStringLiteral("windows/%1.png").arg(name));
            // What a screen reader says for every control the keyboard reaches.
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (!c->isVisibleTo(w) || c->focusPolicy() == Qt::NoFocus || c->focusProxy() || c->isWindow())
                    continue;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
                if (a && a->text(QAccessible::Name).trimmed().isEmpty())
                    nameless << QStringLiteral("%1: %2 %3").arg(name, QString::fromLatin1(c->metaObject()->className()),
                                                                c->objectName());
            }
            if (w != s && w != d)
                delete w;
        }
        QVERIFY2(nameless.isEmpty(), qPrintable(QStringLiteral("%1 controls without an accessible name:\n").arg(nameless.size())
                                                + nameless.join(QLatin1Char('\n'))));
    }

    // At 800×500 every window fits, and no caption of a label, button or
    // check box is cut: the bars above the lists wrap instead.
    void windowsFitASmallScreenWithoutCutTexts()
    {
        SearchWindow* s = windows::search();
        QVERIFY(QTest::qWaitFor([&] { return s->m_browser->completedLoads() >= 1 && !s->m_browser->busy(); }, 30000));
        std::vector<std::pair<QWidget*, QString>> all{{s, QStringLiteral("search")},
                                                      {windows::download(), QStringLiteral("download")},
                                                      {new CacheViewerWindow(nullptr), QStringLiteral("cache-viewer")},
                                                      {new CopyFilesWindow(), QStringLiteral("copy")}};
        auto* options = new OptionsDialog();
        options->load();
        all.emplace_back(options, QStringLiteral("options"));
        // A deep save path and a long address in the status bars must not
        // widen a window either: they are cut with "…" and stay whole in text().
        const QString longPath = QStringLiteral("/home/用户/文档/资料下载/") + QString(70, QChar(0x6587)) + QStringLiteral(".pdf");
        const QString longAddress = QStringLiteral("https://wenku.example.com/view/") + QString(160, QLatin1Char('a'));
        auto* d = static_cast<DownloadWindow*>(all[1].first);
        d->m_statusPanels[DownloadWindow::CurrentFilePanel]->setText(longPath);
        d->m_statusPanels[DownloadWindow::ConnectionPanel]->setText(QStringLiteral("正在连接 ") + longAddress);
        s->showBrowserStatus(longAddress);
        QStringList cut;
        for (auto& [w, name] : all) {
            w->showNormal();
            w->resize(800, 500);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            QApplication::processEvents();
            saveShot(w, QStringLiteral("small-screen/%1.png").arg(name));
            if (w->width() > 800 || w->height() > 500)
                cut << QStringLiteral("%1: window %2×%3").arg(name).arg(w->width()).arg(w->height());
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (!c->isVisibleTo(w))
                    continue;
                if (const auto* elided = qobject_cast<ElidedLabel*>(c)) {
                    if (elided->text().size() > 100 && !elided->isElided())
                        cut << QStringLiteral("%1: a long status text shown whole in %2 px").arg(name).arg(c->width());
                    continue;
                }
                const auto* label = qobject_cast<QLabel*>(c);
                const bool caption = (label && !label->wordWrap() && !label->text().isEmpty())
                                     || qobject_cast<QAbstractButton*>(c);
                if (!caption)
                    continue;
                const QString text = label ? label->text() : static_cast<QAbstractButton*>(c)->text();
                const bool outside = !QRect(QPoint(), c->parentWidget()->size()).contains(c->geometry());
                if (c->sizeHint().width() > c->width() + 1 || outside)
                    cut << QStringLiteral("%1: \"%2\" %3 of %4 px%5").arg(name, text).arg(c->width()).arg(c->sizeHint().width())
                               .arg(outside ? QStringLiteral(", outside its parent") : QString());
            }
        }
        for (auto& [w, name] : all) {
            if (w != s && w != windows::downloadIfLoaded())
                delete w;
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char('\n'))));
        QCOMPARE(d->m_statusPanels[DownloadWindow::CurrentFilePanel]->text(), longPath);
    }

    // Screenshots for the README (docs/screenshots/ holds the ones taken under Xvfb).
    void mainWindowScreenshots()
    {
        StartWindow cover;
        cover.load();
        QTRY_VERIFY(cover.startupDone());
        saveShot(&cover, QStringLiteral("cover.png"));
        cover.hide();
        const QString ownService = globals().searchBaseAddress;
        // As on a fresh machine: no search service set, so the built-in demo service (演示模式).
        globals().searchBaseAddress.clear();
        SearchWindow* s = windows::search();
        QVERIFY(services::demoMode());
        s->resize(1100, 720);
        s->show();
        QTest::qWaitFor([&] { return s->m_browser->completedLoads() >= 1 && !s->m_browser->busy(); }, 30000);
        // A real batch fills the list as a user sees it.
        globals().promptOnExtract = false;
        s->m_delayCombo->setCurrentText(QStringLiteral("0"));
        s->m_keywordsEdit->setPlainText(QStringLiteral("机械设计"));
        for (QCheckBox* c : {s->m_docCheck, s->m_pptCheck, s->m_xlsCheck})
            c->setChecked(false);
        QTest::mouseClick(s->m_batchSearchButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s->m_batchSearchButton->text() == QStringLiteral("开始批量搜索提取") && s->m_batchSearchButton->isEnabled(),
                                 120000);
        saveShot(s, QStringLiteral("search-window.png"));
        // The links go to the download window and are downloaded, as a user does it.
        QTest::mouseClick(s->m_analyseButton, Qt::LeftButton);
        const auto saveDialog = [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* f = qobject_cast<SaveFolderDialog*>(w); f && f->isVisible())
                    return f;
            }
            return static_cast<SaveFolderDialog*>(nullptr);
        };
        QTRY_VERIFY_WITH_TIMEOUT(saveDialog(), 10000);
        saveDialog()->m_folderCombo->setEditText(QDir::homePath() + QStringLiteral("/文档/机械设计"));
        QTest::mouseClick(saveDialog()->m_okButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(windows::downloadIfLoaded() && windows::downloadIfLoaded()->list()->size() > 0, 30000);
        DownloadWindow* d = windows::downloadIfLoaded();
        d->showNormal();
        d->resize(1000, 600);
        QTest::mouseClick(d->m_startButton, Qt::LeftButton);
        DownloadListModel* m = d->list();
        const auto rowsIn = [m](DownloadState st) { return rowsInState(*m, st).size(); };
        QTRY_VERIFY_WITH_TIMEOUT(rowsIn(DownloadState::Waiting) + rowsIn(DownloadState::Downloading) == 0, 120000);
        QVERIFY(rowsIn(DownloadState::Done) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(d->m_statusPanels[4]->text().contains(QStringLiteral("等待:0")), 5000);
        saveShot(d, QStringLiteral("download-window.png"));
        globals().searchBaseAddress = ownService;
        services::stopDemoService();
    }
};

DH_GUI_TEST_MAIN(DesktopLookTest)
#include "desktop_look_test.moc"
