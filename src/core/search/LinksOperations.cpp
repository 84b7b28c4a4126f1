#include "search/LinksOperations.h"

#include "app/AppInfo.h"
#include "app/Helpers.h"
#include "ports/Browser.h"
#include "ports/Prompter.h"
#include "ports/SystemCodePage.h"

#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>

namespace dh::linkops {

QString refusedWhileAnalysing() { return QStringLiteral("正在分析，不能清除！"); }
QString askTextPrompt() { return QStringLiteral("请输入指定字符："); }
QString confirmClearAll() { return QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"); }

bool rowMatches(const LinkItem& item, ClearRule rule, const QString& text, bool selected)
{
    switch (rule) {
    case ClearRule::Selected:
        return selected;
    case ClearRule::HandedOver:
        return item.status == statusHandedOver();
    case ClearRule::TitleContains:
        return item.title.contains(text, Qt::CaseInsensitive);
    case ClearRule::TitleLacks:
        return !item.title.contains(text, Qt::CaseInsensitive);
    }
    return false;
}

int removeLinks(LinksListModel& list, ClearRule rule, const QString& text,
                const std::function<bool(int row)>& isSelected)
{
    // The rules look at each row on its own, so deciding every row first and
    // removing them together gives the same rows as a walk that re-tests the
    // row moving up after each removal, with one model change per run of rows.
    std::vector<int> doomed;
    for (int r = 0; r < list.size(); ++r) {
        const bool selected = rule == ClearRule::Selected && isSelected && isSelected(r);
        if (rowMatches(list.item(r), rule, text, selected))
            doomed.push_back(r);
    }
    const int n = int(doomed.size());
    if (n > 0)
        list.removeRows(std::move(doomed));
    return n;
}

QString exportText(const std::vector<LinkItem>& rows)
{
    QString out;
    for (const LinkItem& it : rows) {
        out += it.title;
        out += QStringLiteral("-【");
        out += it.fileType;
        out += QStringLiteral("】");
        out += it.status;
        out += QLatin1String("\r\n");
    }
    return out;
}

QString kilobyteText(qint64 bytes)
{
    const quint64 b = bytes > 0 ? quint64(bytes) : 0;
    // Tenths of a kilobyte, a half rounded up (away from zero).
    const quint64 tenths = (b * 10 + 512) / 1024;
    QString whole = QString::number(tenths / 10);
    for (qsizetype i = whole.size() - 3; i > 0; i -= 3)
        whole.insert(i, QLatin1Char(','));
    return whole + QLatin1Char('.') + QString::number(tenths % 10);
}

QString withDefaultExtension(const QString& path, const QString& ext)
{
    if (path.isEmpty() || ext.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    // ".bashrc"-style names count as having no extension, as "name." does.
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && dot < name.size() - 1)
        return path;
    if (dot == name.size() - 1 && dot > 0)
        return path + ext;
    return path + QLatin1Char('.') + ext;
}

namespace {

// Adds the extension when the chosen name has none; a name that then hits an
// existing file is replaced only after the question the dialog would have
// asked for it.
bool withExtensionConfirmed(QString* path, const QString& ext)
{
    const QString full = withDefaultExtension(*path, ext);
    if (full != *path && QFileInfo::exists(full)
        && !Prompter::instance().question(QFileInfo(full).fileName() + QStringLiteral(" 已存在。\n要替换它吗？")))
        return false;
    *path = full;
    return true;
}

QString withCharsetDeclaration(QString html, const QString& charset)
{
    static const QRegularExpression meta(
        QStringLiteral("(<meta\\b[^>]*?charset\\s*=\\s*[\"']?)([A-Za-z0-9_.:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    html.replace(meta, QStringLiteral("\\1") + charset);
    return html;
}

} // namespace

bool writeCodePageText(const QString& path, const QString& text, QString* error)
{
    // Written beside and moved into place: a failing write leaves an older
    // file of that name as it was.
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QByteArray bytes = SystemCodePage::encode(text);
    if (f.write(bytes) != bytes.size()) {
        if (error)
            *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    if (!f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

namespace {

bool guardRefuses(bool handOverRunning)
{
    if (!handOverRunning)
        return false;
    Prompter::instance().message(refusedWhileAnalysing(), MessageIcon::Error);
    return true;
}

void reportWriteFailure(const QString& path, const QString& reason)
{
    // Saying nothing would read as success, so the failure is shown with the file and the reason.
    Prompter::instance().message(QStringLiteral("保存文件失败：") + path
                                     + (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason),
                                 MessageIcon::Error);
}

} // namespace

bool clearCommand(LinksListModel& list, bool handOverRunning, ClearRule rule,
                  const std::function<bool(int row)>& isSelected)
{
    if (guardRefuses(handOverRunning))
        return false;
    QString text;
    if (rule == ClearRule::TitleContains || rule == ClearRule::TitleLacks) {
        const std::optional<QString> answer = Prompter::instance().input(askTextPrompt(), programTitle(), QString());
        if (!answer || answer->isEmpty())
            return false;
        text = *answer;  // as typed, spaces included
    }
    if (list.size() == 0)
        return false;
    return removeLinks(list, rule, text, isSelected) > 0;
}

bool clearAllCommand(LinksListModel& list, bool handOverRunning)
{
    if (guardRefuses(handOverRunning))
        return false;
    if (!Prompter::instance().question(confirmClearAll(), programTitle()))
        return false;
    list.clear();
    return true;
}

bool exportCommand(const LinksListModel& list)
{
    if (list.size() == 0)
        return false;
    QString path = Prompter::instance().saveFile(QString(), QString(), QStringLiteral("*.txt"));
    if (path.isEmpty())
        return false;
    if (!withExtensionConfirmed(&path, QStringLiteral("txt")))
        return false;
    QString reason;
    if (!writeCodePageText(path, exportText(list.items()), &reason)) {
        reportWriteFailure(path, reason);
        return false;
    }
    Prompter::instance().message(QStringLiteral("保存文件完毕：") + kilobyteText(QFileInfo(path).size())
                                     + QStringLiteral("KB"),
                                 MessageIcon::Information);
    return true;
}

QCoro::Task<bool> savePageSourceCommand(Browser* browser)
{
    QString path = Prompter::instance().saveFile(QString(), QString(), QStringLiteral("*.htm"));
    if (path.isEmpty())
        co_return false;
    if (!withExtensionConfirmed(&path, QStringLiteral("htm")))
        co_return false;
    QPointer<Browser> b(browser);
    QString source;
    if (b) {
        const quint64 generation = b->generation();
        DocumentPtr doc = co_await b->document();
        // A page that could not be read answers with an empty document, and a
        // snapshot of an earlier page is not the page shown: neither is saved.
        if (doc && b && doc->origin().generation == generation && b->generation() == generation
            && !doc->sourceIsBlank())
            source = doc->outerHTML();
    }
    if (trimSpaces(source).isEmpty()) {
        Prompter::instance().message(QStringLiteral("无法读取网页源码，没有保存！"), MessageIcon::Error);
        co_return false;
    }
    // The file is written in the system code page: its charset declaration
    // says so, not the one the page was served in.
    source = withCharsetDeclaration(source, SystemCodePage::name());
    QString reason;
    if (!writeCodePageText(path, source, &reason)) {
        reportWriteFailure(path, reason);
        co_return false;
    }
    Prompter::instance().message(QStringLiteral("OK"), MessageIcon::Information);
    co_return true;
}

} // namespace dh::linkops
