#pragma once
// The download window's side of the engine, as plain fields: the options the
// engine reads and a record of what it showed, played and cleared.
#include "download/DownloadHost.h"

#include <QString>

#include <algorithm>
#include <map>
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
    std::map<int, QString> panels;
    std::vector<int> cues;
    std::vector<int> ended;
    int clearCalls = 0;
    bool startEnabled = true;
    bool indicator = false;

    int pauseSeconds() const override { return pause; }
    int slotCount() const override { return slotNumber; }
    bool autoLocate() const override { return locate; }
    void scrollToRow(int row) override { scrolled.push_back(row); }
    SameNamePolicy sameNamePolicy() const override { return policy; }
    void setStatusText(int panel, const QString& text) override { panels[panel] = text; }
    void cue(int number) override { cues.push_back(number); }
    void transferEnded(int row) override { ended.push_back(row); }
    bool autoStart() const override { return autoStartOption; }
    bool autoRedownload() const override { return autoRedownloadOption; }
    int redownloadChoice() const override { return choice; }
    bool errorStop() const override { return errorStopOption; }
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
