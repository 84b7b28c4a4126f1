#include "gui/fCover.h"

#include "app/AppInfo.h"
#include "app/FormRegistry.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace dh {

namespace {
fCover* g_cover = nullptr;
}

fCover::fCover(QWidget* parent) : QWidget(parent)
{
    g_cover = this;
    setObjectName(QStringLiteral("fCover"));
    FormRegistry::add(QStringLiteral("fCover"), this);
    setWindowTitle(programTitle());
    auto* lay = new QVBoxLayout(this);
    Label2 = new QLabel(versionLabelText(), this);
    Command1 = new QPushButton(QStringLiteral("搜索文档下载"), this);
    Command3 = new QPushButton(QStringLiteral("退出软件"), this);
    LabelNotice = new QLabel(QStringLiteral("(该软件仅用于爱学习的人们辅助少量下载；请不要恶意下载和大量下载！)"), this);
    LabelLatest = new QLabel(QStringLiteral("最新版本："), this);
    LabelLatest->hide();
    lay->addWidget(Label2);
    lay->addWidget(Command1);
    lay->addWidget(Command3);
    lay->addWidget(LabelNotice);
    lay->addWidget(LabelLatest);
    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
}

fCover::~fCover()
{
    if (g_cover == this)
        g_cover = nullptr;
}

fCover* fCover::instance()
{
    return g_cover;
}

void fCover::closeEvent(QCloseEvent* e)
{
    e->accept();
}

} // namespace dh
