#include "gui/fSeleFileSavePath.h"

#include <QFileInfo>

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "app/FolderHistory.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "gui/DesktopIntegration.h"
#include "platform/Prompter.h"

#include <QComboBox>
#include <QCoroSignal>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace dh {

void LoadFolderHistory(QComboBox* combo, const QString& file)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    const QStringList before = entries;
    LoadFolderHistory(entries, file);
    if (entries == before)
        return;
    const QString text = combo->currentText();
    combo->clear();
    combo->addItems(entries);
    combo->setEditText(text);
}

void SaveFolderHistory(QComboBox* combo, const QString& file)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    SaveFolderHistory(entries, file);
}

fSeleFileSavePath::fSeleFileSavePath(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(secondaryCaption(QStringLiteral("选择下载保存路径")));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setModal(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("保存到文件夹："), this), 0, 0);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumWidth(360);
    grid->addWidget(Combo1, 0, 1);
    Command1 = new QPushButton(QStringLiteral("..."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setAutoDefault(false);
    grid->addWidget(Command1, 0, 2);

    Label3 = new QLabel(QStringLiteral("保存文件名为："), this);
    grid->addWidget(Label3, 1, 0);
    auto* options = new QHBoxLayout();
    Option1 = new QRadioButton(QStringLiteral("原文件名"), this);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("文章标题名称"), this);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option2->setChecked(true);
    options->addWidget(Option1);
    options->addWidget(Option2);
    options->addStretch(1);
    grid->addLayout(options, 1, 1, 1, 2);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    Command2 = new QPushButton(QStringLiteral("确定"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setDefault(true);
    Command3 = new QPushButton(QStringLiteral("取消"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setAutoDefault(false);
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    grid->addLayout(buttons, 2, 0, 1, 3);

    connect(Command1, &QPushButton::clicked, this, &fSeleFileSavePath::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &fSeleFileSavePath::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &fSeleFileSavePath::Command3_Click);
    Form_Load();
}

fSeleFileSavePath::~fSeleFileSavePath() = default;

void fSeleFileSavePath::Form_Load()
{
    auto& g = globals();
    if (g.UseUrlFileName)
        Option1->setChecked(true);
    LoadFolderHistory(Combo1, folderHistoryFile());
    g.SaveFolder = SettingsStore::instance().get(keys::SaveFolder);
    Combo1->setEditText(g.SaveFolder);
    FitDropDownWidth(Combo1);
}

void fSeleFileSavePath::Command1_Click()
{
    Combo1->setEditText(BrowseForFolder(Combo1->currentText(), QStringLiteral("请选择要浏览的文件夹:"), false));
}

void fSeleFileSavePath::Command2_Click()
{
    auto& g = globals();
    g.UseUrlFileName = Option1->isChecked();
    QString folder = Combo1->currentText();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    folder = MakeFolderPath(folder);
    Combo1->setEditText(folder);
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
    g.SaveFolder = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    SettingsStore::instance().save(keys::SaveFolder, g.SaveFolder);
    g.SaveDialogCancelled = false;
    // Appended even when listed already: the next load keeps the first one.
    Combo1->addItem(TrimSpaces(folder));
    SaveFolderHistory(Combo1, folderHistoryFile());
    accept();
}

void fSeleFileSavePath::Command3_Click()
{
    globals().SaveDialogCancelled = true;
    reject();
}

QCoro::Task<void> fSeleFileSavePath::ask(QWidget* parent)
{
    // Top-level, so that nothing but its own closing can end it: closing it
    // always emits finished, which resumes the caller. It is deleted only
    // after that (the signal reaches the caller queued, and a dialog deleted
    // on close would swallow it).
    auto* dlg = new fSeleFileSavePath(nullptr);
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
