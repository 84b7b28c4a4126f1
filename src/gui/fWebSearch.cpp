#include "gui/fWebSearch.h"

#include "app/AppInfo.h"
#include "app/FormRegistry.h"
#include "app/SettingsStore.h"
#include "gui/Windows.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace dh {

fWebSearch::fWebSearch(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fWebSearch"));
    setAttribute(Qt::WA_DeleteOnClose);
    FormRegistry::add(QStringLiteral("fWebSearch"), this);
    setWindowTitle(secondaryCaption(QStringLiteral("Quorvex页面数据检索分析")));
    resize(1200, 800);

    m_split = new QSplitter(Qt::Horizontal, this);
    auto* left = new QWidget(m_split);
    auto* leftLay = new QVBoxLayout(left);
    buildQueryPanel(leftLay);
    leftLay->addStretch(1);
    auto* browserHost = new QWidget(m_split);
    browserHost->setObjectName(QStringLiteral("browserHost"));
    m_split->addWidget(left);
    m_split->addWidget(browserHost);
    m_split->setStretchFactor(1, 1);
    setCentralWidget(m_split);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Form_Load();
}

fWebSearch::~fWebSearch() = default;

void fWebSearch::buildQueryPanel(QVBoxLayout* into)
{
    auto* box = new QGroupBox(QStringLiteral("自动提取文档链接"), this);
    auto* lay = new QVBoxLayout(box);
    lay->addWidget(new QLabel(QStringLiteral("每行一组关键词："), box));
    Text1 = new QPlainTextEdit(box);
    Text1->setObjectName(QStringLiteral("Text1"));
    lay->addWidget(Text1);
    auto* delayRow = new QHBoxLayout();
    delayRow->addWidget(new QLabel(QStringLiteral("限速延时："), box));
    Combo1 = new QComboBox(box);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    for (int i = 0; i <= 120; ++i)
        Combo1->addItem(QString::number(i));
    delayRow->addWidget(Combo1);
    delayRow->addWidget(new QLabel(QStringLiteral("秒"), box));
    delayRow->addStretch(1);
    lay->addLayout(delayRow);
    into->addWidget(box);
}

void fWebSearch::Form_Load()
{
    auto& st = SettingsStore::instance();
    QString kw = st.get(keys::SearchKeywords);
    Text1->setPlainText(kw.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    const int idx = st.getInt(keys::SearchDelayIndex);
    Combo1->setCurrentIndex(idx >= 0 && idx < Combo1->count() ? idx : 4);
}

void fWebSearch::closeEvent(QCloseEvent* e)
{
    StopAddAll = true;
    StopAnalysis = true;
    auto& st = SettingsStore::instance();
    // The store keeps CR LF line ends, as the keyword list is split at CR LF.
    QString text = Text1->toPlainText();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    st.save(keys::SearchKeywords, text);
    st.save(keys::SearchDelayIndex, QString::number(Combo1->currentIndex()));
    Timer1->stop();
    windows::coverBackIfLastMainWindow("fWebSearch");
    e->accept();
}

} // namespace dh
