// Bulk removal from the two list models with a view attached, as the windows
// have them: every other row of 100,000 goes.
//
//   list_ops_bench [--rows N]
//
// Download list: the "清除 / 全部出错项" command (every other row Failed).
// Links list: "清除标题含指定字符项" (every other title holds the text).
// The peer is the same removal on a plain std::vector with std::erase_if and
// a rebuilt hash index. Prints milliseconds and the ratio model / peer; goal
// under 300 ms for each model. The URL index is checked after each removal.
// Then "清除选中项" with every other row selected in the view, answered by the
// search window's row flags and, on a fifth of the rows, by the selection model.
#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "search/LinksListModel.h"
#include "search/LinksOperations.h"
#include "gui/SelectedRowFlags.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTreeView>

#include <cstdio>
#include <functional>
#include <unordered_map>
#include <vector>

using namespace dh;

namespace {

template <typename Item>
double peerRemoval(std::vector<Item> rows)
{
    QElapsedTimer t;
    t.start();
    size_t i = 0;
    std::erase_if(rows, [&i](const Item&) { return (i++ % 2) == 1; });
    std::unordered_map<std::u16string, int> index;
    index.reserve(rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        index.emplace(rows[r].url.toStdU16String(), int(r));
    return double(t.nsecsElapsed()) / 1e6;
}

template <typename Model>
bool indexRight(const Model& m)
{
    for (int r = 0; r < m.size(); ++r) {
        if (m.findUrl(m.item(r).url) != r)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int rows = 100000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--rows")
            rows = args[i + 1].toInt();
    }

    // Download list.
    std::vector<DownloadItem> items(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        DownloadItem& it = items[size_t(i)];
        it.url = QStringLiteral("http://example.org/docs/%1/file-%2.pdf").arg(i % 97).arg(i);
        it.name = QStringLiteral("文档标题 %1").arg(i);
        it.fileType = QStringLiteral("pdf");
        it.folder = QStringLiteral("/home/u/docs/");
    }
    DownloadListModel downloads;
    QTreeView downloadView;
    downloadView.setUniformRowHeights(true);
    downloadView.setModel(&downloads);
    downloadView.resize(1000, 600);
    downloadView.show();
    downloads.addItems(items);
    for (int i = 1; i < rows; i += 2)
        downloads.setState(i, DownloadState::Failed);
    app.processEvents();
    QElapsedTimer t;
    t.start();
    const int removed = removeRows(downloads, rowsInState(downloads, DownloadState::Failed));
    const double downloadMs = double(t.nsecsElapsed()) / 1e6;
    app.processEvents();
    const bool downloadOk = removed == rows / 2 && downloads.size() == rows - rows / 2 && indexRight(downloads);
    const double downloadPeer = peerRemoval(items);

    // Links list.
    std::vector<LinkItem> links(static_cast<size_t>(rows));
    LinksListModel linkModel;
    QTreeView linkView;
    linkView.setUniformRowHeights(true);
    linkView.setModel(&linkModel);
    linkView.resize(1000, 600);
    linkView.show();
    for (int i = 0; i < rows; ++i) {
        LinkItem& l = links[size_t(i)];
        l.url = QStringLiteral("http://example.org/docs/%1/link-%2.pdf").arg(i % 97).arg(i);
        l.title = (i % 2 ? QStringLiteral("广告 结果 %1") : QStringLiteral("标准 结果 %1")).arg(i);
        l.fileType = QStringLiteral("pdf");
        linkModel.add(l);
    }
    app.processEvents();
    t.restart();
    const int gone = linkops::removeLinks(linkModel, linkops::ClearRule::TitleContains, QStringLiteral("广告"), {});
    const double linkMs = double(t.nsecsElapsed()) / 1e6;
    app.processEvents();
    const bool linkOk = gone == rows / 2 && linkModel.size() == rows - rows / 2 && indexRight(linkModel);
    const double linkPeer = peerRemoval(links);

    std::printf("rows: %d, every other row removed, view attached\n", rows);
    std::printf("download list (全部出错项):      %9.1f ms  peer %7.1f ms  ratio %.1f  index %s\n", downloadMs,
                downloadPeer, downloadMs / downloadPeer, downloadOk ? "right" : "WRONG");
    std::printf("links list (清除标题含指定字符项): %9.1f ms  peer %7.1f ms  ratio %.1f  index %s\n", linkMs, linkPeer,
                linkMs / linkPeer, linkOk ? "right" : "WRONG");
    std::printf("goal: under 300 ms each\n");

    // 清除选中项 with every other row selected in the view: the window's
    // per-row flags against asking the selection model row by row (the old
    // way, on a fifth of the rows since it grows with the square).
    const auto selectedRemoval = [&](int n, bool flags) {
        LinksListModel model;
        QTreeView view;
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setModel(&model);
        view.resize(1000, 600);
        view.show();
        for (int i = 0; i < n; ++i)
            model.add(links[size_t(i)]);
        QItemSelection every;
        for (int i = 1; i < n; i += 2)
            every.select(model.index(i, 0), model.index(i, model.columnCount() - 1));
        view.selectionModel()->select(every, QItemSelectionModel::Select);
        app.processEvents();
        SelectedRowFlags rowFlags(&view);
        QItemSelectionModel* sel = view.selectionModel();
        std::function<bool(int)> isSelected;
        if (flags)
            isSelected = [&rowFlags](int r) { return rowFlags.isRowSelected(r); };
        else
            isSelected = [sel](int r) { return sel->isRowSelected(r, QModelIndex()); };
        QElapsedTimer clock;
        clock.start();
        const int removedRows = linkops::removeLinks(model, linkops::ClearRule::Selected, QString(), isSelected);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        app.processEvents();
        return std::pair<double, bool>(ms, removedRows == n / 2 && model.size() == n - n / 2);
    };
    const auto [flagsMs, flagsOk] = selectedRemoval(rows, true);
    const auto [modelMs, modelOk] = selectedRemoval(rows / 5, false);
    const auto [flagsSmallMs, flagsSmallOk] = selectedRemoval(rows / 5, true);
    std::printf("links list (清除选中项, every other row selected):\n");
    std::printf("  %d rows, row flags:            %9.1f ms  %s\n", rows, flagsMs, flagsOk ? "right" : "WRONG");
    std::printf("  %d rows, row flags:            %9.1f ms  %s\n", rows / 5, flagsSmallMs, flagsSmallOk ? "right" : "WRONG");
    std::printf("  %d rows, selection model:      %9.1f ms  %s  ratio %.1f\n", rows / 5, modelMs,
                modelOk ? "right" : "WRONG", modelMs / flagsSmallMs);
    return downloadOk && linkOk && flagsOk && modelOk && flagsSmallOk ? 0 : 1;
}
