#pragma once
// The download window's side of the engine for docharvest-cli: the values
// of the window's controls come from the command line.
#include "download/DownloadHost.h"

#include <QString>

namespace dh {
class DownloadListModel;
class DownloadScheduler;
} // namespace dh

namespace dh::cli {

// A file type that is a web page (htm, html), whatever its case.
bool isWebPage(const QString& type);

class CliDownloadHost : public DownloadHost {
public:
    CliDownloadHost(const DownloadListModel& list, const DownloadScheduler& scheduler);

    int pause = 0;
    int transferSlots = 3;
    SameNamePolicy policy = SameNamePolicy::Rename;
    // The monitor's automatic re-download: -1 off, else the index of the download window's m_redownloadChoiceCombo.
    int redownload = -1;
    // At most this many rounds; 0: rounds go on while each one recovers a row.
    int maxRounds = 0;
    bool stopAfterBad = false;

    int roundsDone() const { return m_roundsDone; }
    // A re-download round is due once the scheduler is off (the monitor
    // switches it off at a finished list, then starts the round).
    bool roundWanted() const;
    // The error stop's condition holds.
    bool errorStopReached() const;
    int pauseSeconds() const override { return pause; }
    int slotCount() const override { return transferSlots; }
    SameNamePolicy sameNamePolicy() const override { return policy; }
    bool autoRedownload() const override;
    int redownloadChoice() const override { return redownload < 0 ? 0 : redownload; }
    bool errorStop() const override { return stopAfterBad; }
    void clearAutoOptions() override { redownload = -1; }

private:
    // Rows the chosen re-download would reset.
    int matchingRows() const;

    const DownloadListModel& m_list;
    const DownloadScheduler& m_scheduler;
    // The monitor asks through a const method; a round it starts is counted.
    mutable int m_roundsDone = 0;
    mutable int m_lastMatching = -1;
};

} // namespace dh::cli
