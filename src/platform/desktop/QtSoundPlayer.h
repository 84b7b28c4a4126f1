#pragma once
#include "platform/Sound.h"

#include <QObject>

namespace dh {

// Plays cue files with QSoundEffect. Each play gets its own effect, loaded
// from the file as it is now (a replaced cue file is honoured) and deleted
// when it has finished or failed to load; play() returns at once.
class QtSoundPlayer : public QObject, public CuePlayer {
    Q_OBJECT
public:
    explicit QtSoundPlayer(QObject* parent = nullptr);
    ~QtSoundPlayer() override;

    void play(const QString& wavPath) override;

    // Effects still loading or playing.
    int activeCount() const;
};

} // namespace dh
