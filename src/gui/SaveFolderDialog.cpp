#include "gui/SaveFolderDialog.h"

#include <QFileInfo>

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/FolderHistory.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "gui/DesktopIntegration.h"
#include "ports/Prompter.h"

#include <QComboBox>
#include <QCoroSignal>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace dh {

void loadFolderHistory(QComboBox* combo, const QString& file)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    const QStringList before = entries;
    loadFolderHistory(entries, file);
    if (entries == before)
        return;
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(entries);
    combo->setEditText(text);
}

void saveFolderHistory(QComboBox* combo, const QString& file)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    saveFolderHistory(entries, file);
}

SaveFolderDialog::SaveFolderDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(secondaryCaption(QStringLiteral("选择下载保存路径")));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setModal(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("保存到文件夹："), this), 0, 0);
    m_folderCombo = new QComboBox(this);
    m_folderCombo->setEditable(true);
    m_folderCombo->setInsertPolicy(QComboBox::NoInsert);
    m_folderCombo->setMinimumWidth(360);
    grid->addWidget(m_folderCombo, 0, 1);
    m_browseButton = new QPushButton(QStringLiteral("..."), this);
    m_browseButton->setAutoDefault(false);
    grid->addWidget(m_browseButton, 0, 2);

    m_saveNameLabel = new QLabel(QStringLiteral("保存文件名为："), this);
    grid->addWidget(m_saveNameLabel, 1, 0);
    auto* options = new QHBoxLayout();
    m_originalNameRadio = new QRadioButton(QStringLiteral("原文件名"), this);
    m_titleNameRadio = new QRadioButton(QStringLiteral("文章标题名称"), this);
    m_titleNameRadio->setChecked(true);
    options->addWidget(m_originalNameRadio);
    options->addWidget(m_titleNameRadio);
    options->addStretch(1);
    grid->addLayout(options, 1, 1, 1, 2);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    m_okButton = new QPushButton(QStringLiteral("确定"), this);
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_cancelButton->setAutoDefault(false);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);
    grid->addLayout(buttons, 2, 0, 1, 3);

    connect(m_browseButton, &QPushButton::clicked, this, &SaveFolderDialog::browseClicked);
    connect(m_okButton, &QPushButton::clicked, this, &SaveFolderDialog::okClicked);
    connect(m_cancelButton, &QPushButton::clicked, this, &SaveFolderDialog::cancelClicked);
    load();
}

SaveFolderDialog::~SaveFolderDialog() = default;

void SaveFolderDialog::load()
{
    auto& g = globals();
    if (g.useUrlFileName)
        m_originalNameRadio->setChecked(true);
    loadFolderHistory(m_folderCombo, folderHistoryFile());
    g.saveFolder = SettingsStore::instance().get(keys::saveFolder);
    m_folderCombo->setEditText(g.saveFolder);
    fitDropDownWidth(m_folderCombo);
}

void SaveFolderDialog::browseClicked()
{
    m_folderCombo->setEditText(browseForFolder(m_folderCombo->currentText(), QStringLiteral("请选择要浏览的文件夹:"), false));
}

void SaveFolderDialog::okClicked()
{
    auto& g = globals();
    g.useUrlFileName = m_originalNameRadio->isChecked();
    QString folder = m_folderCombo->currentText();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    folder = makeFolderPath(folder);
    m_folderCombo->setEditText(folder);
    if (folder.isEmpty()) {
        Prompter::instance().message(QStringLiteral("文件夹设置错误！"), MessageIcon::Error);
        return;
    }
    // An existing file of that name is not a folder: downloads could never be
    // saved "in" it, so the dialog stays open.
    if (!QFileInfo(folder).isDir()) {
        Prompter::instance().message(QStringLiteral("%1 是一个文件，不是文件夹！请选择其他文件夹。").arg(folder),
                                     MessageIcon::Error);
        return;
    }
    g.saveFolder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    SettingsStore::instance().save(keys::saveFolder, g.saveFolder);
    g.saveDialogCancelled = false;
    // Appended even when listed already: the next load keeps the first one.
    m_folderCombo->addItem(trimSpaces(folder));
    saveFolderHistory(m_folderCombo, folderHistoryFile());
    accept();
}

void SaveFolderDialog::cancelClicked()
{
    globals().saveDialogCancelled = true;
    reject();
}

QCoro::Task<void> SaveFolderDialog::ask(QWidget* parent)
{
    // Top-level, so that nothing but its own closing can end it: closing it
    // always emits finished, which resumes the caller. It is deleted only
    // after that (the signal reaches the caller queued, and a dialog deleted
    // on close would swallow it).
    auto* dlg = new SaveFolderDialog(nullptr);
    dlg->setWindowModality(Qt::ApplicationModal);
    if (parent) {
        dlg->adjustSize();
        dlg->move(parent->frameGeometry().center() - dlg->rect().center());
    }
    dlg->open();
    co_await qCoro(dlg, &QDialog::finished);
    dlg->deleteLater();
}

} // namespace dh
