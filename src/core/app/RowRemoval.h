#pragma once
// Removing many rows of a list model at once. The positions are put in order
// once and grouped into contiguous runs. A few runs go one by one, each with
// its own removal notification, so that views keep their selection and
// scroll position; many scattered runs go in one pass under a model reset,
// since each notification and each erase would otherwise move the whole tail
// of the list again.
#include <algorithm>
#include <utility>
#include <vector>

namespace dh {

// Above this many runs a removal resets the model instead.
inline constexpr int kMaxRemovalRuns = 16;

// The distinct positions in [0, size) as [first, last] runs, top to bottom.
inline std::vector<std::pair<int, int>> rowRuns(std::vector<int> rows, int size)
{
    std::erase_if(rows, [size](int r) { return r < 0 || r >= size; });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && runs.back().second == r - 1)
            runs.back().second = r;
        else
            runs.emplace_back(r, r);
    }
    return runs;
}

// Drops the runs (as rowRuns gives them) from v in one pass, keeping the order
// of the rest.
template <typename T>
void eraseRuns(std::vector<T>& v, const std::vector<std::pair<int, int>>& runs)
{
    if (runs.empty())
        return;
    size_t out = size_t(runs.front().first);
    for (size_t k = 0; k < runs.size(); ++k) {
        const size_t from = size_t(runs[k].second) + 1;
        const size_t to = k + 1 < runs.size() ? size_t(runs[k + 1].first) : v.size();
        for (size_t i = from; i < to; ++i)
            v[out++] = std::move(v[i]);
    }
    v.erase(v.begin() + std::ptrdiff_t(out), v.end());
}

} // namespace dh
