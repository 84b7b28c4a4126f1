#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

namespace dh {

// The download window's three cue sounds.
enum Cue : int {
    CueWebPage = 101,         // a web page arrived where a document was expected
    CueListFinished = 102,    // the list finished, or the error stop switched the scheduler off
    CueTransferFailed = 103,  // a transfer ended Failed
};

// Starts playing a sound file and returns at once. The desktop program
// installs a QtMultimedia player; without one nothing sounds.
class CuePlayer {
public:
    virtual ~CuePlayer() = default;
    virtual void play(const QString& wavPath) = 0;

    static CuePlayer* instance();        // nullptr when none is installed
    static void setInstance(CuePlayer* p);  // not owned
};

// The cue's file in folder (the host passes its data folder,
// ~/.local/share/DocHarvest/): <folder>101.wav.
QString cueFilePath(const QString& folder, int number);
// The sound compiled into the program for a cue (":/cues/<n>.wav"); empty when
// the program carries none. Replaceable for tests.
QByteArray embeddedCueData(int number);
void setEmbeddedCueSource(std::function<QByteArray(int)> source);  // empty restores the default

// Plays cue 101, 102 or 103 without waiting for its end. The first time,
// the compiled-in sound is written to folder; later calls play
// whatever file is there. Callers test "声音提示" themselves. Failures (no
// sound device, unwritable folder) are ignored; returns whether a play was
// requested.
bool playCue(int number, const QString& folder);

} // namespace dh
