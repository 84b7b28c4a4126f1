#include "gui/UrlReplaceDialog.h"

#include "app/AppInfo.h"
#include "download/ListOperations.h"
#include "ports/Prompter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dh {

UrlReplaceDialog::UrlReplaceDialog(DownloadListModel& list, QWidget* parent) : QDialog(parent), m_list(list)
{
    setWindowTitle(secondaryCaption(QStringLiteral("网址批量替换")));
    setModal(true);
    auto* grid = new QGridLayout(this);
    m_findLabel = new QLabel(QStringLiteral("所有网址中的字符串："), this);
    m_findEdit = new QLineEdit(this);
    m_replaceLabel = new QLabel(QStringLiteral("将被全部替换为字符串："), this);
    m_replaceEdit = new QLineEdit(this);
    m_findLabel->setBuddy(m_findEdit);  // also what a screen reader calls the boxes
    m_replaceLabel->setBuddy(m_replaceEdit);
    m_findEdit->setMinimumWidth(360);
    grid->addWidget(m_findLabel, 0, 0);
    grid->addWidget(m_findEdit, 1, 0);
    grid->addWidget(m_replaceLabel, 2, 0);
    grid->addWidget(m_replaceEdit, 3, 0);
    auto* buttons = new QHBoxLayout();
    m_replaceButton = new QPushButton(QStringLiteral("替换"), this);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    m_replaceButton->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(m_replaceButton);
    buttons->addWidget(m_cancelButton);
    grid->addLayout(buttons, 4, 0);
    connect(m_replaceButton, &QPushButton::clicked, this, &UrlReplaceDialog::replaceAll);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void UrlReplaceDialog::replaceAll()
{
    Prompter& p = Prompter::instance();
    const UrlReplaceOutcome out = replaceInAddresses(m_list, m_findEdit->text(), m_replaceEdit->text());
    switch (out.kind) {
    case UrlReplaceOutcome::EmptyFind:
        p.message(QStringLiteral("请输入字符串！"), MessageIcon::Error);
        return;
    case UrlReplaceOutcome::DuplicateUrl:
        // The address is each row's key: two rows cannot share one.
        p.message(QStringLiteral("替换后会有重复的网址，没有替换任何网址！"), MessageIcon::Error);
        return;
    case UrlReplaceOutcome::EmptyUrl:
        p.message(QStringLiteral("替换后会有空的网址，没有替换任何网址！"), MessageIcon::Error);
        return;
    case UrlReplaceOutcome::Replaced:
        break;
    }
    accept();
    p.message(QStringLiteral("全部网址替换完成！"), MessageIcon::Information);
}

} // namespace dh
