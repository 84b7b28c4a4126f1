#pragma once
#include "ports/Sound.h"

#include <QHash>
#include <QObject>

class QSoundEffect;

namespace dh {

// Plays cue files with QSoundEffect; play() returns at once. One effect per
// cue file, reloaded on every play so that a replaced file is honoured and a
// cue that cannot sound (no audio device) costs nothing more than one object.
class QtSoundPlayer : public QObject, public CuePlayer {
    Q_OBJECT
public:
    explicit QtSoundPlayer(QObject* parent = nullptr);
    ~QtSoundPlayer() override;

    void play(const QString& wavPath) override;

    // Effects created so far (at most one per cue file).
    int effectCount() const { return int(m_effects.size()); }

private:
    QHash<QString, QSoundEffect*> m_effects;
};

} // namespace dh
