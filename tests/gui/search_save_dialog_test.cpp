// The save-location dialog: default folder, creating and remembering the
// folder, bad folder names, the history, naming choice and cancel.
#include "GuiTestMain.h"

#include "app/AppGlobals.h"
#include "app/FolderHistory.h"
#include "app/SettingsStore.h"
#include "gui/SaveFolderDialog.h"
#include "ports/Prompter.h"

#include <QComboBox>
#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

using namespace dh;

class SaveDialogTest : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    QTemporaryDir root;

    QStringList entries(QComboBox* c)
    {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    }

    // Opens the dialog, types folder, presses 确定; returns whether it closed.
    bool confirm(const QString& folder, bool addressName = false)
    {
        SaveFolderDialog d;
        d.m_folderCombo->setEditText(folder);
        (addressName ? d.m_originalNameRadio : d.m_titleNameRadio)->setChecked(true);
        d.show();
        QTest::mouseClick(d.m_okButton, Qt::LeftButton);
        return d.result() == QDialog::Accepted;
    }

private Q_SLOTS:
    void initTestCase() { Prompter::setInstance(&prompter); }
    void cleanupTestCase() { Prompter::setInstance(nullptr); }

    void init()
    {
        prompter.clear();
        QFile::remove(folderHistoryFile());
        SettingsStore::instance().remove(QStringLiteral("设置"), QStringLiteral("下载文件保存路径"));
        globals().saveFolder.clear();
        globals().useUrlFileName = false;
        globals().saveDialogCancelled = true;
    }

    void controlsAndFirstUse()
    {
        SaveFolderDialog d;
        QCOMPARE(d.windowTitle(), QStringLiteral("选择下载保存路径-DocHarvest"));
        QVERIFY(d.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(d.m_browseButton->text(), QStringLiteral("..."));
        QCOMPARE(d.m_originalNameRadio->text(), QStringLiteral("原文件名"));
        QCOMPARE(d.m_titleNameRadio->text(), QStringLiteral("文章标题名称"));
        QCOMPARE(d.m_okButton->text(), QStringLiteral("确定"));
        QCOMPARE(d.m_cancelButton->text(), QStringLiteral("取消"));
        QCOMPARE(d.m_saveNameLabel->text(), QStringLiteral("保存文件名为："));
        QVERIFY(d.m_titleNameRadio->isChecked());
        const QString def = defaultSaveFolder();
        QCOMPARE(d.m_folderCombo->currentText(), def);
        QCOMPARE(globals().saveFolder, def);  // loaded from the settings on opening

        d.show();
        QTest::mouseClick(d.m_okButton, Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(QDir(def).exists());
        QCOMPARE(globals().saveFolder, def);
        QCOMPARE(SettingsStore::instance().get(keys::saveFolder), def);
        QVERIFY(!globals().saveDialogCancelled);
        QVERIFY(!globals().useUrlFileName);
        QFile f(folderHistoryFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), (def.chopped(1) + QStringLiteral("\r\n")).toUtf8());
    }

    void badLevelIsCleanedAndRemembered()
    {
        const QString base = root.filePath(QStringLiteral("docs"));
        QVERIFY(confirm(base + QStringLiteral("/a?b"), true));
        QVERIFY(QDir(base + QStringLiteral("/ab")).exists());
        QCOMPARE(globals().saveFolder, base + QStringLiteral("/ab/"));
        QVERIFY(globals().useUrlFileName);
        SaveFolderDialog again;
        QVERIFY(again.m_originalNameRadio->isChecked());  // the naming choice is remembered for the run
        QCOMPARE(again.m_folderCombo->currentText(), base + QStringLiteral("/ab/"));
        QCOMPARE(entries(again.m_folderCombo), QStringList{base + QStringLiteral("/ab")});
    }

    void dotDotLevelStopsWithAMessage()
    {
        const QString x = root.filePath(QStringLiteral("x"));
        QVERIFY(confirm(x + QStringLiteral("/../")));
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("文件夹名称有误！不能创建文件夹！")});
        QCOMPARE(globals().saveFolder, x + QLatin1Char('/'));
    }

    void uncreatableFolderKeepsTheDialogOpen()
    {
        SaveFolderDialog d;
        d.m_folderCombo->setEditText(QStringLiteral("relative/folder"));
        d.show();
        QTest::mouseClick(d.m_okButton, Qt::LeftButton);
        QVERIFY(d.isVisible());
        QCOMPARE(prompter.texts(), QStringList{QStringLiteral("文件夹设置错误！")});
        QCOMPARE(d.m_folderCombo->currentText(), QString());
        QVERIFY(globals().saveDialogCancelled);  // untouched
    }

    void sameFolderTwiceIsListedOnce()
    {
        const QString f = root.filePath(QStringLiteral("twice"));
        QVERIFY(confirm(f));
        QVERIFY(confirm(f + QLatin1Char('/')));
        QFile file(folderHistoryFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count(QByteArray("twice\r\n")), 2);  // written twice ...
        SaveFolderDialog d;
        QCOMPARE(entries(d.m_folderCombo), QStringList{f});  // ... shown once
    }

    void cancelAndBrowse()
    {
        {
            SaveFolderDialog d;
            d.show();
            QTest::mouseClick(d.m_cancelButton, Qt::LeftButton);
            QCOMPARE(d.result(), int(QDialog::Rejected));
            QVERIFY(globals().saveDialogCancelled);
        }
        SaveFolderDialog d;
        prompter.pathAnswers.push_back(root.filePath(QStringLiteral("picked")));
        QTest::mouseClick(d.m_browseButton, Qt::LeftButton);
        QCOMPARE(d.m_folderCombo->currentText(), root.filePath(QStringLiteral("picked")) + QLatin1Char('/'));
        // Cancelled browser: the text stays, with a trailing "/".
        d.m_folderCombo->setEditText(QStringLiteral("/tmp/keep"));
        QTest::mouseClick(d.m_browseButton, Qt::LeftButton);
        QCOMPARE(d.m_folderCombo->currentText(), QStringLiteral("/tmp/keep/"));
    }

    void askResumesAfterTheDialogCloses()
    {
        bool done = false;
        auto run = [&]() -> QCoro::Task<void> {
            co_await SaveFolderDialog::ask(nullptr);
            done = true;
        };
        auto task = run();
        SaveFolderDialog* d = nullptr;
        QTRY_VERIFY((d = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<SaveFolderDialog*>(w); s && s->isVisible())
                    return s;
            return static_cast<SaveFolderDialog*>(nullptr);
        }()) != nullptr);
        QVERIFY(d->isModal());
        QVERIFY(!done);
        d->close();  // the window's own close button: nothing is set
        QTRY_VERIFY(done);
        QVERIFY(globals().saveDialogCancelled);  // as it was before
    }
};

DH_GUI_TEST_MAIN(SaveDialogTest)
#include "search_save_dialog_test.moc"
