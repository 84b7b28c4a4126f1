#include "download/ListOperations.h"

#include "app/Helpers.h"
#include "download/DownloadListModel.h"
#include "platform/SystemCodePage.h"

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

QString cellText(const DownloadItem& it, int column)
{
    switch (column) {
    case DownloadListModel::ColName: return it.Name;
    case DownloadListModel::ColType: return it.FileType;
    case DownloadListModel::ColSize: return it.SizeText;
    case DownloadListModel::ColReceived: return it.ReceivedText;
    case DownloadListModel::ColProgress: return it.ProgressText;
    case DownloadListModel::ColFolder: return it.Folder;
    default: return {};
    }
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

bool IsWebPageType(const QString& fileType)
{
    return typeIn(fileType, {QLatin1String("htm"), QLatin1String("html")});
}

bool IsWebPageOrXmlType(const QString& fileType)
{
    return typeIn(fileType, {QLatin1String("htm"), QLatin1String("html"), QLatin1String("xml")});
}

bool IsFinished(const DownloadItem& row)
{
    return row.State == DownloadState::Done || row.State == DownloadState::Failed;
}

void DeleteItemFile(DownloadItem& row)
{
    // Ownership is recorded, never inferred from the name: a row that failed
    // before its name was numbered still carries the bare name of a file
    // that belongs to someone else.
    if (!OwnsItemFile(row))
        return;
    if (QFile::remove(ItemFilePath(row)))  // a file that will not go is left alone
        row.Owned = {};
}

void ResetForRedownload(DownloadListModel& list, int i, bool xmlToo)
{
    if (i < 0 || i >= list.size())
        return;
    DownloadItem row = list.item(i);
    DeleteItemFile(row);
    row.State = DownloadState::Waiting;
    if (xmlToo ? IsWebPageOrXmlType(row.FileType) : IsWebPageType(row.FileType))
        row.FileType = QStringLiteral("xxx");
    row.SizeText.clear();
    row.ReceivedText.clear();
    row.ProgressText.clear();
    DeleteItemFile(row);
    list.setItem(i, row);
}

std::optional<double> ParseNumber(const QString& text)
{
    static const QRegularExpression re(
        QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    const QString t = TrimSpaces(text);
    if (!re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

std::vector<int> RedownloadMatches(const DownloadListModel& list, RedownloadFilter filter,
                                   const std::vector<int>& selected, double limit)
{
    const QSet<int> sel = filter == RedownloadFilter::Selected ? selectionSet(selected) : QSet<int>();
    std::vector<int> rows;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        bool match = false;
        switch (filter) {
        case RedownloadFilter::Selected: match = sel.contains(i) && IsFinished(it); break;
        case RedownloadFilter::Failed: match = it.State == DownloadState::Failed; break;
        case RedownloadFilter::WebPages: match = IsFinished(it) && IsWebPageOrXmlType(it.FileType); break;
        case RedownloadFilter::FailedAndWebPages:
            match = it.State == DownloadState::Failed
                || (it.State == DownloadState::Done && IsWebPageType(it.FileType));
            break;
        case RedownloadFilter::SmallComplete: {
            if (!IsFinished(it))
                break;
            const auto size = ParseNumber(QString(it.SizeText).remove(u','));
            const auto received = ParseNumber(QString(it.ReceivedText).remove(u','));
            match = size && received && limit > *size && *received == *size;
            break;
        }
        }
        if (match)
            rows.push_back(i);
    }
    return rows;
}

int RedownloadRows(DownloadListModel& list, RedownloadFilter filter, const std::vector<int>& selected,
                   double limit)
{
    const std::vector<int> rows = RedownloadMatches(list, filter, selected, limit);
    const bool xmlToo = filter == RedownloadFilter::WebPages;
    for (int r : rows)
        ResetForRedownload(list, r, xmlToo);
    return int(rows.size());
}

std::vector<int> RowsInState(const DownloadListModel& list, DownloadState state)
{
    std::vector<int> rows;
    for (int i = 0; i < list.size(); ++i) {
        if (list.item(i).State == state)
            rows.push_back(i);
    }
    return rows;
}

int RemoveRows(DownloadListModel& list, const std::vector<int>& rows)
{
    const int before = list.size();
    list.removeRows(rows);
    return before - list.size();
}

int DeleteFilesOfRows(DownloadListModel& list, DeleteFilter filter)
{
    int n = 0;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        const bool match = filter == DeleteFilter::Failed
            ? it.State == DownloadState::Failed
            : IsFinished(it) && IsWebPageOrXmlType(it.FileType);
        if (!match)
            continue;
        list.setCells(i, {}, {}, {});
        DownloadItem row = list.item(i);
        DeleteItemFile(row);
        list.setItem(i, row);
        ++n;
    }
    return n;
}

int CancelWaitingRows(DownloadListModel& list, const std::vector<int>& selected)
{
    int n = 0;
    for (int r : selectionSet(selected)) {
        if (r >= 0 && r < list.size() && list.item(r).State == DownloadState::Waiting) {
            list.setState(r, DownloadState::Failed);
            ++n;
        }
    }
    return n;
}

bool ResetFailedRowOnDoubleClick(DownloadListModel& list, int row)
{
    if (row < 0 || row >= list.size() || list.item(row).State != DownloadState::Failed)
        return false;
    DownloadItem it = list.item(row);
    DeleteItemFile(it);
    it.State = DownloadState::Waiting;
    it.SizeText.clear();
    it.ReceivedText.clear();
    it.ProgressText.clear();
    list.setItem(row, it);
    return true;
}

std::vector<int> ShuffleOrder(int rowCount, const std::function<int(int)>& random, int maxMoves)
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

void ShuffleList(DownloadListModel& list, std::function<int(int)> random)
{
    if (!random) {
        random = [](int remaining) { return int(QRandomGenerator::global()->bounded(remaining)) + 1; };
    }
    list.reorder(ShuffleOrder(list.size(), random));
}

std::vector<int> SortOrder(const DownloadListModel& list, int column, bool descending)
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

void SortList(DownloadListModel& list, int column, bool descending)
{
    list.reorder(SortOrder(list, column, descending));
    const CellKind kind = columnKind(column);
    if (kind == CellKind::Text)
        return;
    // Numeric cells read back without leading zeros.
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        const QString cell = cellText(it, column);
        const auto n = numericPart(cell, kind);
        if (!n)
            continue;
        const QString normal = kind == CellKind::Percent ? *n + u'%' : *n;
        if (normal == cell)
            continue;
        if (column == DownloadListModel::ColSize)
            list.setCells(i, normal, it.ReceivedText, it.ProgressText);
        else if (column == DownloadListModel::ColReceived)
            list.setCells(i, it.SizeText, normal, it.ProgressText);
        else
            list.setCells(i, it.SizeText, it.ReceivedText, normal);
    }
}

QByteArray ExportNamesText(const DownloadListModel& list, bool onlyUnfinished)
{
    QString text;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& it = list.item(i);
        if (onlyUnfinished && it.State == DownloadState::Done)
            continue;
        text += it.Name;
        text += QStringLiteral("\r\n");
    }
    return SystemCodePage::encode(text);
}

std::optional<QString> WriteExportFile(const QString& path, const QByteArray& bytes)
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

UrlReplaceOutcome ReplaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement)
{
    UrlReplaceOutcome out;
    if (TrimSpaces(find).isEmpty()) {
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
        it.Url.replace(find, replacement, Qt::CaseInsensitive);
        it.Referer.replace(find, replacement, Qt::CaseInsensitive);
        if (it.Url.isEmpty()) {
            out.kind = UrlReplaceOutcome::EmptyUrl;
            return out;
        }
        if (seen.contains(it.Url)) {
            out.kind = UrlReplaceOutcome::DuplicateUrl;
            return out;
        }
        seen.insert(it.Url);
        next.push_back(std::move(it));
    }
    // A row may take an address that another row still holds until its own turn
    // ("a" -> "aa" while "aa" becomes "aaaa"): changed rows first move to a
    // placeholder address that no row can hold, then to their new one.
    std::vector<int> changed;
    for (int i = 0; i < list.size(); ++i) {
        const DownloadItem& cur = list.item(i);
        if (cur.Url != next[size_t(i)].Url || cur.Referer != next[size_t(i)].Referer)
            changed.push_back(i);
    }
    for (int i : changed) {
        if (list.item(i).Url == next[size_t(i)].Url)
            continue;
        DownloadItem tmp = list.item(i);
        tmp.Url = QStringLiteral("\x01urlreplace\x01") + QString::number(i);
        list.setItem(i, tmp);
    }
    for (int i : changed)
        list.setItem(i, next[size_t(i)]);
    out.changedRows = int(changed.size());
    return out;
}

} // namespace dh
