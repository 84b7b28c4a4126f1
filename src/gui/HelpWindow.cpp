#include "gui/HelpWindow.h"

#include "gui/DesktopIntegration.h"

#include "app/AppInfo.h"
#include "app/SettingsStore.h"
#include "search/ServiceProfile.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace dh {

namespace {
QPointer<HelpWindow>& current()
{
    static QPointer<HelpWindow> w;
    return w;
}
} // namespace

QString HelpWindow::usageText()
{
    const QStringList notes{
        QStringLiteral("打开“%1网页”首页，如果要搜索pdf文件，关键词是“教程”，就输入：教程 filetype:pdf ；"
                       "如果要搜索doc文件，就输入：教程 filetype:doc ；以此类推；")
            .arg(activeServiceProfile(SettingsStore::instance()).name),
        QStringLiteral("批量关键词搜索，只需要输入批量关键词，不需要输入“filetype:”等字符，勾选pdf，doc等即可；"),
        QStringLiteral("分析提取下载网址时，设置限速延时3-10秒，否则网站会不断叫你输入验证码，甚至封锁ip；"),
        QStringLiteral("如果弹出输入验证码，请停止分析，手动输入验证码到正常使用；"),
        QStringLiteral("文件下载如果出错，请重复下载一次，文件下载不需要限速。"),
    };
    QString text;
    for (int i = 0; i < notes.size(); ++i)
        text += QString::number(i + 1) + QStringLiteral("、") + notes[i] + QLatin1Char('\n');
    text += QLatin1Char('\n');
    text += QStringLiteral("注：本软件不能下载收费的文档。");
    return text;
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(secondaryCaption(QStringLiteral("使用说明")));
    auto* lay = new QVBoxLayout(this);
    m_helpText = new QPlainTextEdit(this);
    m_helpText->setAccessibleName(QStringLiteral("使用方法"));
    m_helpText->setReadOnly(true);
    m_helpText->setPlainText(usageText());
    lay->addWidget(m_helpText, 1);
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    m_closeButton = new QPushButton(QStringLiteral("关闭"), this);
    row->addWidget(m_closeButton);
    lay->addLayout(row);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::close);
    placeWindow(this, QSize(560, 320), parentWidget());
}

HelpWindow::~HelpWindow() = default;

HelpWindow* HelpWindow::openInstance()
{
    return current();
}

HelpWindow* HelpWindow::showModal(QWidget* parent)
{
    if (HelpWindow* open = current()) {
        open->raise();
        open->activateWindow();
        return open;
    }
    auto* w = new HelpWindow(parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    // Modal without a nested event loop: the caller's command returns and
    // the window blocks input to the others until it is closed.
    w->setWindowModality(Qt::ApplicationModal);
    current() = w;
    w->show();
    return w;
}

} // namespace dh
