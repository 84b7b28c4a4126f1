#pragma once
#include "download/Naming.h"

#include <QString>

namespace dh {

// What the download engine needs from the download window: the values of a
// few controls, read at the moment a decision is made, and a few things to
// show. The window implements it with its widgets; tests with plain fields.
// The defaults are the window's state when it opens.
class DownloadHost {
public:
    virtual ~DownloadHost() = default;

    // --- scheduler ------------------------------------------------------------
    // m_pauseCombo: seconds to wait between the end of one transfer and the next start.
    virtual int pauseSeconds() const { return 0; }
    // The number shown in m_transferCountCombo: transfer slots of method two (1..6).
    virtual int slotCount() const { return 3; }
    // 自动定位到下载项: scroll every row that starts into view.
    virtual bool autoLocate() const { return false; }
    virtual void scrollToRow(int /*row*/) {}
    // The skip / overwrite / rename radios.
    virtual SameNamePolicy sameNamePolicy() const { return SameNamePolicy::Rename; }

    // --- display ----------------------------------------------------------------
    // Status-bar panel 2 (current transfer), 3 (connection state) or 4 (counters).
    virtual void setStatusText(int /*panel*/, const QString& /*text*/) {}
    // Plays a cue when "声音提示" is ticked (the window checks the option).
    virtual void cue(int /*number*/) {}
    // After the end of a transfer (row 0-based), once its row holds the result.
    // The automatic site login does not use this: the scheduler awaits its
    // registered end hook.
    virtual void transferEnded(int /*row*/) {}

    // --- monitor options (auto start, auto re-download with its choice, stop after bad rows) -------------------
    virtual bool autoStart() const { return false; }
    virtual bool autoRedownload() const { return false; }
    // The re-download choice: 0 "出错项", 1 "文件类型为HTM和HTML项", 2 "出错项和文件类型为HTM和HTML项".
    virtual int redownloadChoice() const { return 0; }
    virtual bool errorStop() const { return false; }
    // The stop command unticks the automatic start and the automatic re-download.
    virtual void clearAutoOptions() {}
    // 开始下载 (m_startAction / m_startButton), and the running indicator.
    virtual void setStartEnabled(bool /*enabled*/) {}
    virtual void setRunningIndicator(bool /*on*/) {}
};

} // namespace dh
