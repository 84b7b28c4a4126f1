#pragma once
// The download window's side of the engine, as plain fields: the options the
// engine reads and a record of what it told, played and cleared.
#include "download/DownloadHost.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace dh::test {

class FakeHost : public DownloadHost {
public:
    int pause = 0;
    int slotNumber = 3;
    bool locate = false;
    SameNamePolicy policy = SameNamePolicy::Rename;
    bool autoStartOption = false;
    bool autoRedownloadOption = false;
    int choice = 0;
    bool errorStopOption = false;

    std::vector<int> scrolled;
    QString startedFile;     // the last file method one began
    QString finishedFile;    // the last file whose transfer ended
    QString connection;      // the last connection state
    int counterBeats = 0;
    std::vector<int> cues;
    std::vector<int> ended;
    int clearCalls = 0;
    int rounds = 0;
    bool startEnabled = true;
    bool indicator = false;

    DownloadOptions options() const override
    {
        return {pause, slotNumber, locate, policy, autoStartOption, autoRedownloadOption, RedownloadChoice(choice), errorStopOption};
    }
    void fileStarted(const QString& name) override { startedFile = name; }
    void fileFinished(const QString& name) override { finishedFile = name; }
    void connectionStateChanged(const QString& text) override { connection = text; }
    void countersChanged() override { ++counterBeats; }
    void scrollToRow(int row) override { scrolled.push_back(row); }
    void cue(int number) override { cues.push_back(number); }
    void transferEnded(int row) override { ended.push_back(row); }
    void redownloadRoundStarting() override { ++rounds; }
    void clearAutoOptions() override
    {
        ++clearCalls;
        autoStartOption = false;
        autoRedownloadOption = false;
    }
    void setStartEnabled(bool enabled) override { startEnabled = enabled; }
    void setRunningIndicator(bool on) override { indicator = on; }

    int cueCount(int n) const { return int(std::count(cues.begin(), cues.end(), n)); }
};

} // namespace dh::test
