#include "download/ListOperations.h"

#include "app/Helpers.h"
#include "download/DownloadListModel.h"
#include "download/TransferSupport.h"
#include "ports/SystemCodePage.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace dh {

namespace {

bool typeIn(const QString& type, std::initializer_list<QLatin1String> types)
{
    for (QLatin1String t : types) {
        if (type.compare(t, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QSet<int> selectionSet(const std::vector<int>& selected)
{
    QSet<int> s;
    for (int r : selected)
        s.insert(r);
    return s;
}

bool isWholeNumber(const QString& s)
{
    if (s.isEmpty())
        return false;
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Long enough for any size a cell can hold, so the text order is the numeric one.
constexpr int kPadWidth = 20;

enum class CellKind { Text, Number, Percent };

CellKind columnKind(int column)
{
    if (column == DownloadListModel::ColSize || column == DownloadListModel::ColReceived)
        return CellKind::Number;
    if (column == DownloadListModel::ColProgress)
        return CellKind::Percent;
    return CellKind::Text;
}

// The digits of a numeric cell without leading zeros ("0" stays "0"); nullopt
// for a cell that is not a whole number.
std::optional<QString> numericPart(const QString& cell, CellKind kind)
{
    QString s = cell;
    if (kind == CellKind::Percent)
        s.remove(u'%');
    if (!isWholeNumber(s))
        return std::nullopt;
    qsizetype i = 0;
    while (i + 1 < s.size() && s[i] == u'0')
        ++i;
    return s.mid(i);
}

QString sortKey(const QString& cell, CellKind kind)
{
    if (kind == CellKind::Text)
        return cell;
    if (auto n = numericPart(cell, kind))
        return n->rightJustified(kPadWidth, u'0');
    return cell;
}

} // namespace

bool isWebPageType(const QString& fileType)
{
    return typeIn(fileType, {QLatin1String("htm"), QLatin1String("html")});
}

bool isWebPageOrXmlType(const QString& fileType)
{
    return isWebPageType(fileType) || fileType.compare(QLatin1String("xml"), Qt::CaseInsensitive) == 0;
}

bool isFinished(const DownloadItem& row)
{
    return row.state == DownloadState::Done || row.state == DownloadState::Failed
        || row.state == DownloadState::Page;
}

void deleteItemFile(DownloadItem& row)
{
    // Ownership is recorded, never inferred from the name: a row that failed
    // before its name was numbered still carries the bare name of a file
    // that belongs to someone else.
    if (!ownsItemFile(row))
        return;
    if (QFile::remove(itemFilePath(row)))  // a file that will not go is left alone
        row.owned = {};
}

void resetForRedownload(DownloadListModel& list, int i, bool xmlToo)
{
    if (i < 0 || i >= list.size())
        return;
    DownloadItem row = list.item(i);
    row.state = DownloadState::Waiting;
    // A page (a login or error answer) is not worth keeping; any other file
    // stays until the new body replaces it whole (or stays for good when the
    // new transfer fails). The row keeps owning it, which marks it as one to
    // be replaced rather than skipped or numbered.
    if (xmlToo ? isWebPageOrXmlType(row.fileType) : isWebPageType(row.fileType)) {
        deleteItemFile(row);
        row.fileType = QStringLiteral("xxx");
    }
    row.clearProgress();
    list.setItem(i, row);
}

std::optional<double> parseNumber(const QString& text)
{
    static const QRegularExpression re(
        QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = trimSpaces(text);
    if (!re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::vector<int> redownloadMatches(const DownloadListModel& list, RedownloadFilter filter,
                                   const std::vector<int>& selected, double limit)
{
    const QSet<int> sel = filter == RedownloadFilter::Selected ? selectionSet(selected) : QSet<int>();
    std::vector<int> rows;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        bool match = false;
        switch (filter) {
        case RedownloadFilter::Selected: match = sel.contains(i) && isFinished(it); break;
        case RedownloadFilter::Failed: match = it.state == DownloadState::Failed; break;
        case RedownloadFilter::WebPages: match = isFinished(it) && isWebPageOrXmlType(it.fileType); break;
        case RedownloadFilter::FailedAndWebPages:
            match = it.state == DownloadState::Failed
                || ((it.state == DownloadState::Done || it.state == DownloadState::Page)
                    && isWebPageType(it.fileType));
            break;
        case RedownloadFilter::SmallComplete: {
            if (!isFinished(it))
                break;
            match = it.size >= 0 && it.received >= 0 && limit > double(it.size) && it.received == it.size;
            break;
        }
        }
        if (match)
            rows.push_back(i);
    }
    return rows;
}

int redownloadRows(DownloadListModel& list, RedownloadFilter filter, const std::vector<int>& selected,
                   double limit)
{
    const std::vector<int> rows = redownloadMatches(list, filter, selected, limit);
    const bool xmlToo = filter == RedownloadFilter::WebPages;
    for (int r : rows)
        resetForRedownload(list, r, xmlToo);
    return int(rows.size());
}

std::vector<int> rowsInState(const DownloadListModel& list, DownloadState state)
{
    std::vector<int> rows;
    for (int i = 0; i < list.size(); ++i) {
        if (list.item(i).state == state)
            rows.push_back(i);
    }
    return rows;
}

int removeRows(DownloadListModel& list, const std::vector<int>& rows)
{
    const int before = list.size();
    list.removeRows(rows);
    return before - list.size();
}

QString keptFileText()
{
    return QStringLiteral("重新下载失败，保留原文件");
}

bool isFinishedFileKept(const DownloadItem& row)
{
    return ownsItemFile(row) && !isPlaceholder(itemFilePath(row));
}

int deleteFilesOfRows(DownloadListModel& list, DeleteFilter filter)
{
    int n = 0;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        const bool match = filter == DeleteFilter::Failed
            ? it.state == DownloadState::Failed
            : isFinished(it) && isWebPageOrXmlType(it.fileType);
        if (!match)
            continue;
        list.clearProgress(i);
        DownloadItem row = list.item(i);
        deleteItemFile(row);
        list.setItem(i, row);
        ++n;
    }
    return n;
}

int cancelWaitingRows(DownloadListModel& list, const std::vector<int>& selected)
{
    int n = 0;
    for (int r : selectionSet(selected)) {
        if (r >= 0 && r < list.size() && list.item(r).state == DownloadState::Waiting) {
            list.setState(r, DownloadState::Failed);
            ++n;
        }
    }
    return n;
}

bool resetFailedRowOnDoubleClick(DownloadListModel& list, int row)
{
    if (row < 0 || row >= list.size() || list.item(row).state != DownloadState::Failed)
        return false;
    DownloadItem it = list.item(row);
    // A failed re-download still holds its earlier, complete file: it stays
    // until a new one replaces it. A page or a part goes.
    if (!isFinishedFileKept(it) || isWebPageOrXmlType(it.fileType))
        deleteItemFile(it);
    it.state = DownloadState::Waiting;
    it.clearProgress();
    list.setItem(row, it);
    return true;
}

std::vector<int> shuffleOrder(int rowCount, const std::function<int(int)>& random, int maxMoves)
{
    std::vector<int> order(size_t(std::max(rowCount, 0)));
    for (int i = 0; i < rowCount; ++i)
        order[size_t(i)] = i;
    int moved = 0;
    int draws = 0;
    for (;;) {
        const int remaining = rowCount - moved;
        if (remaining < 1)
            break;
        if (++draws > maxMoves)
            break;
        // A source that answers outside 1..remaining is pulled back into range
        // rather than trusted with an index.
        const int r = std::clamp(random(remaining), 1, remaining);
        const int picked = order[size_t(r - 1)];
        order.erase(order.begin() + (r - 1));
        order.push_back(picked);
        ++moved;
    }
    return order;
}

void shuffleList(DownloadListModel& list, std::function<int(int)> random)
{
    if (!random) {
        random = [](int remaining) { return int(QRandomGenerator::global()->bounded(remaining)) + 1; };
    }
    list.reorder(shuffleOrder(list.size(), random));
}

std::vector<int> sortOrder(const DownloadListModel& list, int column, bool descending)
{
    const CellKind kind = columnKind(column);
    std::vector<QString> keys;
    keys.reserve(size_t(list.size()));
    for (int i = 0; i < list.size(); ++i)
        keys.push_back(sortKey(cellText(list.item(i), column), kind));
    std::vector<int> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        int c = QString::compare(keys[size_t(a)], keys[size_t(b)], Qt::CaseInsensitive);
        if (c == 0)
            c = QString::compare(keys[size_t(a)], keys[size_t(b)], Qt::CaseSensitive);
        return descending ? c > 0 : c < 0;
    });
    return order;
}

void sortList(DownloadListModel& list, int column, bool descending)
{
    // The numeric cells are numbers: they show without leading zeros already.
    list.reorder(sortOrder(list, column, descending));
}

QByteArray exportNamesText(const DownloadListModel& list, bool onlyUnfinished)
{
    QString text;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        if (onlyUnfinished && !isUnfinished(it))
            continue;
        text += it.name;
        text += QStringLiteral("\r\n");
    }
    return SystemCodePage::encode(text);
}

std::optional<QString> writeExportFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return f.errorString();
    if (f.write(bytes) != bytes.size())
        return f.errorString();
    if (!f.flush())
        return f.errorString();
    f.close();
    if (f.error() != QFileDevice::NoError)
        return f.errorString();
    return std::nullopt;
}

UrlReplaceOutcome replaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement)
{
    UrlReplaceOutcome out;
    if (trimSpaces(find).isEmpty()) {
        out.kind = UrlReplaceOutcome::EmptyFind;
        return out;
    }
    // Work out every new address first: the list accepts no two rows with one
    // address, so nothing is written unless the whole result is valid.
    std::vector<DownloadItem> next;
    next.reserve(size_t(list.size()));
    QSet<QString> seen;
    for (int i = 0; i < list.size(); ++i) {
        DownloadItem it = list.item(i);
        it.url.replace(find, replacement, Qt::CaseInsensitive);
        it.referer.replace(find, replacement, Qt::CaseInsensitive);
        if (it.url.isEmpty()) {
            out.kind = UrlReplaceOutcome::EmptyUrl;
            return out;
        }
        if (seen.contains(it.url)) {
            out.kind = UrlReplaceOutcome::DuplicateUrl;
            return out;
        }
        seen.insert(it.url);
        next.push_back(std::move(it));
    }
    // A row may take an address that another row still holds until its own turn
    // ("a" -> "aa" while "aa" becomes "aaaa"): changed rows first move to a
    // placeholder address that no row can hold, then to their new one.
    std::vector<int> changed;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& cur = list.item(i);
        if (cur.url != next[size_t(i)].url || cur.referer != next[size_t(i)].referer)
            changed.push_back(i);
    }
    for (int i : changed) {
        if (list.item(i).url == next[size_t(i)].url)
            continue;
        DownloadItem tmp = list.item(i);
        tmp.url = QStringLiteral("\x01urlreplace\x01") + QString::number(i);
        list.setItem(i, tmp);
    }
    for (int i : changed)
        list.setItem(i, next[size_t(i)]);
    out.changedRows = int(changed.size());
    return out;
}

} // namespace dh
