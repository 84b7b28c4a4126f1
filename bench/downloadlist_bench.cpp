// Adds 100,000 rows to the download list and times the counter passes the
// monitor runs every second. Compares against a plain std::vector + linear
// duplicate check done with std::unordered_set (the peer).
#include "download/DownloadListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <vector>

using namespace dh;

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int kRows = 100000;
    std::vector<DownloadItem> items(kRows);
    for (int i = 0; i < kRows; ++i) {
        items[size_t(i)].url = QStringLiteral("http://example.org/docs/%1/file-%2.pdf").arg(i % 97).arg(i);
        items[size_t(i)].name = QStringLiteral("文档标题 %1").arg(i);
        items[size_t(i)].fileType = i % 10 == 0 ? QStringLiteral("html") : QStringLiteral("pdf");
        items[size_t(i)].folder = QStringLiteral("/home/u/12345/");
    }

    std::vector<double> addOne, addBatch, counters, bad;
    for (int round = 0; round < 3; ++round) {
        DownloadListModel m;
        QElapsedTimer t;
        t.start();
        for (const auto& it : items)
            m.addItem(it.url, it.name, it.fileType, it.folder, it.referer);
        addOne.push_back(t.nsecsElapsed() / 1e6);

        DownloadListModel m2;
        t.restart();
        m2.addItems(items);
        addBatch.push_back(t.nsecsElapsed() / 1e6);

        for (int i = 0; i < kRows; i += 7)
            m.setState(i, DownloadState(1 + i % 4));
        for (int k = 0; k < 10; ++k) {
            t.restart();
            const QString s = m.updateListCounters();
            counters.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            const int n = m.countBadRows();
            bad.push_back(t.nsecsElapsed() / 1e6);
            if (s.isEmpty() || n < 0)
                return 1;
        }
    }

    // Peer: the same rows into a vector guarded by a hash set of std::string keys.
    std::vector<double> peer;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        std::vector<DownloadItem> v;
        std::unordered_set<std::string> keys;
        for (const auto& it : items) {
            if (keys.insert(it.url.toStdString()).second)
                v.push_back(it);
        }
        peer.push_back(t.nsecsElapsed() / 1e6);
    }

    std::printf("rows: %d\n", kRows);
    std::printf("addItem one by one:   %8.1f ms (median of 3)\n", median(addOne));
    std::printf("addItems in one call: %8.1f ms\n", median(addBatch));
    std::printf("peer vector+hash set: %8.1f ms\n", median(peer));
    std::printf("UpdateListCounters:   %8.3f ms (median of 30)\n", median(counters));
    std::printf("CountBadRows:         %8.3f ms\n", median(bad));
    std::printf("ratio addItem / peer: %.2f\n", median(addOne) / median(peer));
    return 0;
}
