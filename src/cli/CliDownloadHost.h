#pragma once
// The download window's side of the engine for docharvest-cli: the values
// of the window's controls come from the command line.
#include "download/DownloadHost.h"

#include <QString>

namespace dh {
class DownloadListModel;
} // namespace dh

namespace dh::cli {

class CliDownloadHost : public DownloadHost {
public:
    explicit CliDownloadHost(const DownloadListModel& list);

    int pause = 0;
    int transferSlots = 3;
    SameNamePolicy policy = SameNamePolicy::Rename;
    // The monitor's automatic re-download: -1 off, else a RedownloadChoice.
    int redownload = -1;
    // At most this many rounds; 0: rounds go on while each one recovers a row.
    int maxRounds = 0;
    bool stopAfterBad = false;

    int roundsDone() const { return m_roundsDone; }
    // A re-download round is due once the list is through (the monitor
    // switches the scheduler off at a finished list, then starts the round).
    bool roundWanted() const;
    // The error stop's condition holds.
    bool errorStopReached() const;

    dh::DownloadOptions options() const override;
    void redownloadRoundStarting() override;
    void clearAutoOptions() override { redownload = -1; }

private:
    // Rows the chosen re-download would reset.
    int matchingRows() const;

    const DownloadListModel& m_list;
    int m_roundsDone = 0;
    int m_lastMatching = -1;
};

} // namespace dh::cli
