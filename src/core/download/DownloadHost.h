#pragma once
#include "download/Naming.h"
#include "download/Redownload.h"

#include <QString>

namespace dh {

// The options the download engine follows, read afresh at the moment a
// decision is made: the window fills them from its controls, the command
// line from its arguments. The defaults are those of a freshly opened window.
struct DownloadOptions {
    // Seconds to wait between the end of one transfer and the next start.
    int pauseSeconds = 0;
    // Method two's parallel transfers (1..DownloadScheduler::kMaxSlots).
    int slotCount = 3;
    // Scroll every row that starts into view.
    bool autoLocate = false;
    SameNamePolicy sameNamePolicy = SameNamePolicy::Rename;
    // Switch the scheduler on whenever rows wait.
    bool autoStart = false;
    // Once the list is through, put the rows of redownloadChoice back and run again.
    bool autoRedownload = false;
    RedownloadChoice redownloadChoice = RedownloadChoice::Failed;
    // Stop after TransferMonitor::kErrorStopRows bad rows.
    bool errorStop = false;
};

// What the download engine tells the one who runs it (the download window,
// the command line, tests), and the few things it asks of it. Every event
// has a do-nothing default.
class DownloadHost {
public:
    virtual ~DownloadHost() = default;

    virtual DownloadOptions options() const { return {}; }

    // --- events -----------------------------------------------------------------
    // Method one begins to fetch the row named name.
    virtual void fileStarted(const QString& /*name*/) {}
    // A transfer of the row named name has ended (any ending).
    virtual void fileFinished(const QString& /*name*/) {}
    // Method one's request changed its connection state, in the user's words
    // (transferStateText).
    virtual void connectionStateChanged(const QString& /*text*/) {}
    // The monitor's beat: the list's counters may have changed.
    virtual void countersChanged() {}
    // A started row, when autoLocate is on.
    virtual void scrollToRow(int /*row*/) {}
    // Plays a cue when "声音提示" is ticked (the window checks the option).
    virtual void cue(int /*number*/) {}
    // After the end of a transfer (row 0-based), once its row holds the result.
    // The automatic site login does not use this: the scheduler awaits its
    // registered end hook.
    virtual void transferEnded(int /*row*/) {}
    // The automatic re-download is about to reset its rows and start a round.
    virtual void redownloadRoundStarting() {}
    // Whether the start command may be given, and whether the scheduler runs.
    virtual void setStartEnabled(bool /*enabled*/) {}
    virtual void setRunningIndicator(bool /*on*/) {}

    // --- requests ---------------------------------------------------------------
    // The stop command unticks the automatic start and the automatic re-download.
    virtual void clearAutoOptions() {}
};

} // namespace dh
