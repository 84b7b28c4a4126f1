#include "gui/Form_Copy_Move.h"

#include "app/AppInfo.h"
#include "app/FolderHistory.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "gui/DesktopIntegration.h"
#include "gui/fSeleFileSavePath.h"
#include "platform/Prompter.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dh {

Form_Copy_Move::Form_Copy_Move(QWidget* parent) : QDialog(parent), m_run(this)
{
    setObjectName(QStringLiteral("Form_Copy_Move"));
    setWindowTitle(secondaryCaption(QStringLiteral("复制文件...")));

    auto* top = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    row->addWidget(new QLabel(QStringLiteral("目的文件夹："), this));
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumWidth(360);
    row->addWidget(Combo1, 1);
    Command3 = new QPushButton(QStringLiteral("浏览"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setAutoDefault(false);
    row->addWidget(Command3);
    top->addLayout(row);

    auto* frame = new QGroupBox(QStringLiteral("如果同名文件已经存在"), this);
    auto* options = new QVBoxLayout(frame);
    const char* captions[] = {nullptr, "跳过", "覆盖", "自动重命名", "文件大小和修改时间均相同：覆盖；否则：自动重命名",
                              "文件大小相同：覆盖；否则：自动重命名"};
    for (int i = 1; i <= 5; ++i) {
        Option1[i] = new QRadioButton(QString::fromUtf8(captions[i]), frame);
        Option1[i]->setObjectName(QStringLiteral("Option1_%1").arg(i));
        options->addWidget(Option1[i]);
    }
    top->addWidget(frame);

    auto* grid = new QGridLayout();
    grid->addWidget(new QLabel(QStringLiteral("进度;"), this), 0, 0);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setValue(0);
    grid->addWidget(ProgressBar1, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("当前文件："), this), 1, 0);
    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    grid->addWidget(Label3, 1, 1);
    top->addLayout(grid);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    Command1 = new QPushButton(QStringLiteral("开始"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(QStringLiteral("关闭"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setAutoDefault(false);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    top->addLayout(buttons);

    connect(Command3, &QPushButton::clicked, this, &Form_Copy_Move::Command3_Click);
    connect(Command1, &QPushButton::clicked, this, [this] { 执行(true); });
    connect(Command2, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_run, &CopyRun::progress, this, [this](int v, int max) {
        ProgressBar1->setMaximum(max);
        ProgressBar1->setValue(v);
    });
    connect(&m_run, &CopyRun::currentFile, Label3, &QLabel::setText);
    Form_Load();
}

Form_Copy_Move::~Form_Copy_Move() = default;

void Form_Copy_Move::Form_Load()
{
    LoadFolderHistory(Combo1, folderHistoryFile());
    FitDropDownWidth(Combo1);
    auto& store = SettingsStore::instance();
    Combo1->setEditText(store.get(keys::CopyDestination));
    int op = store.getInt(keys::CopyOption);
    if (op < 1 || op > 5)
        op = 4;
    Option1[op]->setChecked(true);
}

int Form_Copy_Move::optionIndex() const
{
    for (int i = 1; i <= 5; ++i) {
        if (Option1[i]->isChecked())
            return i;
    }
    return 4;
}

void Form_Copy_Move::Command3_Click()
{
    QString f = BrowseForFolder(Combo1->currentText(), QStringLiteral("请选择要浏览的文件夹:"), false);
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    Combo1->setEditText(f);
}

QCoro::Task<void> Form_Copy_Move::执行(bool showMessage)
{
    QString folder = MakeFolderPath(Combo1->currentText());
    Combo1->setEditText(folder);
    if (folder.isEmpty()) {
        Prompter::instance().message(QStringLiteral("创建文件夹出错！"), MessageIcon::Error);
        co_return;
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    Combo1->setEditText(folder);
    auto& store = SettingsStore::instance();
    store.save(keys::CopyDestination, folder);
    store.save(keys::CopyOption, QString::number(optionIndex()));
    const QString trimmed = TrimSpaces(folder);
    bool listed = false;
    for (int i = 0; i < Combo1->count() && !listed; ++i)
        listed = Combo1->itemText(i).compare(trimmed, Qt::CaseInsensitive) == 0;
    if (!listed)
        Combo1->addItem(trimmed);
    Combo1->setEditText(folder);
    SaveFolderHistory(Combo1, folderHistoryFile());
    Label3->clear();
    FileList.removeIf([](const QString& p) { return !IsNormalFile(p); });
    if (FileList.isEmpty())
        co_return;
    if (m_run.running()) {
        // "停止": the run in progress passes over its remaining files.
        Command1->setText(QStringLiteral("开始"));
        m_run.stop();
        co_return;
    }
    Command1->setText(QStringLiteral("停止"));
    co_await m_run.run(FileList, folder, static_cast<SameNameOption>(optionIndex()));
    Command1->setText(QStringLiteral("开始"));
    if (showMessage && !m_closeAfterRun)
        Prompter::instance().message(QStringLiteral("复制文件完成！"), MessageIcon::Information);
    Q_EMIT runFinished();
    if (m_closeAfterRun)
        close();
}

void Form_Copy_Move::closeEvent(QCloseEvent* e)
{
    if (m_run.running()) {
        // The run holds this window until it has passed over its remaining
        // files; then the window closes itself.
        m_closeAfterRun = true;
        m_run.stop();
        e->ignore();
        return;
    }
    FileList.clear();
    QDialog::closeEvent(e);
}

void Form_Copy_Move::reject()
{
    if (m_run.running()) {
        m_closeAfterRun = true;
        m_run.stop();
        return;
    }
    FileList.clear();
    QDialog::reject();
}

Form_Copy_Move* showCopyDialog(QWidget* parent, const QStringList& files)
{
    auto* dlg = new Form_Copy_Move(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->FileList = files;
    dlg->setWindowTitle(QStringLiteral("复制文件：") + QString::number(files.size()) + QStringLiteral(" 个文件..."));
    dlg->open();
    return dlg;
}

} // namespace dh
