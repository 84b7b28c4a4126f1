#include "gui/UrlReplace.h"

#include "app/AppInfo.h"
#include "download/ListOperations.h"
#include "platform/Prompter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dh {

UrlReplace::UrlReplace(DownloadListModel& list, QWidget* parent) : QDialog(parent), m_list(list)
{
    setObjectName(QStringLiteral("UrlReplace"));
    setWindowTitle(secondaryCaption(QStringLiteral("网址批量替换")));
    setModal(true);
    auto* grid = new QGridLayout(this);
    Label1 = new QLabel(QStringLiteral("所有网址中的字符串："), this);
    Text1 = new QLineEdit(this);
    Label2 = new QLabel(QStringLiteral("将被全部替换为字符串："), this);
    Text2 = new QLineEdit(this);
    Text1->setMinimumWidth(360);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Text1, 1, 0);
    grid->addWidget(Label2, 2, 0);
    grid->addWidget(Text2, 3, 0);
    auto* buttons = new QHBoxLayout();
    Command1 = new QPushButton(QStringLiteral("替换"), this);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command1->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    grid->addLayout(buttons, 4, 0);
    connect(Command1, &QPushButton::clicked, this, &UrlReplace::replaceAll);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
}

void UrlReplace::replaceAll()
{
    Prompter& p = Prompter::instance();
    const UrlReplaceOutcome out = ReplaceInAddresses(m_list, Text1->text(), Text2->text());
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
