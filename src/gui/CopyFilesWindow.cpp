#include "gui/CopyFilesWindow.h"

#include "app/AppInfo.h"
#include "app/FolderHistory.h"
#include "app/Helpers.h"
#include "app/SettingsStore.h"
#include "gui/DesktopIntegration.h"
#include "gui/SaveFolderDialog.h"
#include "ports/Prompter.h"

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

CopyFilesWindow::CopyFilesWindow(QWidget* parent) : QDialog(parent), m_run(this)
{
    setWindowTitle(secondaryCaption(QStringLiteral("复制文件...")));

    auto* top = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    row->addWidget(new QLabel(QStringLiteral("目的文件夹："), this));
    m_destinationCombo = new QComboBox(this);
    m_destinationCombo->setEditable(true);
    m_destinationCombo->setInsertPolicy(QComboBox::NoInsert);
    m_destinationCombo->setMinimumWidth(360);
    row->addWidget(m_destinationCombo, 1);
    m_browseButton = new QPushButton(QStringLiteral("浏览"), this);
    m_browseButton->setAutoDefault(false);
    row->addWidget(m_browseButton);
    top->addLayout(row);

    auto* frame = new QGroupBox(QStringLiteral("如果同名文件已经存在"), this);
    auto* options = new QVBoxLayout(frame);
    const char* captions[] = {nullptr, "跳过", "覆盖", "自动重命名", "文件大小和修改时间均相同：覆盖；否则：自动重命名",
                              "文件大小相同：覆盖；否则：自动重命名"};
    for (int i = 1; i <= 5; ++i) {
        m_sameNameRadios[i] = new QRadioButton(QString::fromUtf8(captions[i]), frame);
        options->addWidget(m_sameNameRadios[i]);
    }
    top->addWidget(frame);

    auto* grid = new QGridLayout();
    grid->addWidget(new QLabel(QStringLiteral("进度;"), this), 0, 0);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setValue(0);
    grid->addWidget(m_progressBar, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("当前文件："), this), 1, 0);
    m_currentFileLabel = new QLabel(this);
    grid->addWidget(m_currentFileLabel, 1, 1);
    top->addLayout(grid);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    m_startButton = new QPushButton(QStringLiteral("开始"), this);
    m_closeButton = new QPushButton(QStringLiteral("关闭"), this);
    m_closeButton->setAutoDefault(false);
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_closeButton);
    top->addLayout(buttons);

    connect(m_browseButton, &QPushButton::clicked, this, &CopyFilesWindow::browseClicked);
    connect(m_startButton, &QPushButton::clicked, this, [this] { runCopy(true); });
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_run, &CopyRun::progress, this, [this](int v, int max) {
        m_progressBar->setMaximum(max);
        m_progressBar->setValue(v);
    });
    connect(&m_run, &CopyRun::currentFile, m_currentFileLabel, &QLabel::setText);
    load();
}

CopyFilesWindow::~CopyFilesWindow() = default;

void CopyFilesWindow::load()
{
    loadFolderHistory(m_destinationCombo, folderHistoryFile());
    fitDropDownWidth(m_destinationCombo);
    auto& store = SettingsStore::instance();
    m_destinationCombo->setEditText(store.get(keys::copyDestination));
    int op = store.getInt(keys::copyOption);
    if (op < 1 || op > 5)
        op = 4;
    m_sameNameRadios[op]->setChecked(true);
}

int CopyFilesWindow::optionIndex() const
{
    for (int i = 1; i <= 5; ++i) {
        if (m_sameNameRadios[i]->isChecked())
            return i;
    }
    return 4;
}

void CopyFilesWindow::browseClicked()
{
    QString f = browseForFolder(m_destinationCombo->currentText(), QStringLiteral("请选择要浏览的文件夹:"), false);
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    m_destinationCombo->setEditText(f);
}

QCoro::Task<void> CopyFilesWindow::runCopy(bool showMessage)
{
    QString folder = makeFolderPath(m_destinationCombo->currentText());
    m_destinationCombo->setEditText(folder);
    if (folder.isEmpty()) {
        Prompter::instance().message(QStringLiteral("创建文件夹出错！"), MessageIcon::Error);
        co_return;
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    m_destinationCombo->setEditText(folder);
    auto& store = SettingsStore::instance();
    store.save(keys::copyDestination, folder);
    store.save(keys::copyOption, QString::number(optionIndex()));
    const QString trimmed = trimSpaces(folder);
    bool listed = false;
    for (int i = 0; i < m_destinationCombo->count() && !listed; ++i)
        listed = m_destinationCombo->itemText(i).compare(trimmed, Qt::CaseInsensitive) == 0;
    if (!listed)
        m_destinationCombo->addItem(trimmed);
    m_destinationCombo->setEditText(folder);
    saveFolderHistory(m_destinationCombo, folderHistoryFile());
    m_currentFileLabel->clear();
    files.removeIf([](const QString& p) { return !isNormalFile(p); });
    if (files.isEmpty())
        co_return;
    if (m_run.running()) {
        // "停止": the run in progress passes over its remaining files.
        m_startButton->setText(QStringLiteral("开始"));
        m_run.stop();
        co_return;
    }
    m_startButton->setText(QStringLiteral("停止"));
    co_await m_run.run(files, folder, static_cast<SameNameOption>(optionIndex()));
    m_startButton->setText(QStringLiteral("开始"));
    if (showMessage && !m_closeAfterRun)
        Prompter::instance().message(QStringLiteral("复制文件完成！"), MessageIcon::Information);
    if (m_closeAfterRun)
        close();
}

void CopyFilesWindow::closeEvent(QCloseEvent* e)
{
    if (m_run.running()) {
        // The run holds this window until it has passed over its remaining
        // files; then the window closes itself.
        m_closeAfterRun = true;
        m_run.stop();
        e->ignore();
        return;
    }
    files.clear();
    QDialog::closeEvent(e);
}

void CopyFilesWindow::reject()
{
    if (m_run.running()) {
        m_closeAfterRun = true;
        m_run.stop();
        return;
    }
    files.clear();
    QDialog::reject();
}

CopyFilesWindow* showCopyDialog(QWidget* parent, const QStringList& files)
{
    auto* dlg = new CopyFilesWindow(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->files = files;
    dlg->setWindowTitle(QStringLiteral("复制文件：") + QString::number(files.size()) + QStringLiteral(" 个文件..."));
    dlg->open();
    return dlg;
}

} // namespace dh
