#include "platform/desktop/QtSoundPlayer.h"

#include <QSoundEffect>
#include <QUrl>

namespace dh {

QtSoundPlayer::QtSoundPlayer(QObject* parent) : QObject(parent) {}

QtSoundPlayer::~QtSoundPlayer()
{
    if (CuePlayer::instance() == this)
        CuePlayer::setInstance(nullptr);
}

void QtSoundPlayer::play(const QString& wavPath)
{
    auto* effect = new QSoundEffect(this);
    // Played once loaded; an effect that cannot load (no device, bad file)
    // just goes away: cue failures are never reported.
    connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
        else if (effect->status() == QSoundEffect::Ready && !effect->isPlaying())
            effect->play();
    });
    connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
        if (!effect->isPlaying() && effect->status() == QSoundEffect::Ready)
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(wavPath));
    if (effect->status() == QSoundEffect::Ready)
        effect->play();
}

int QtSoundPlayer::activeCount() const
{
    return int(findChildren<QSoundEffect*>(Qt::FindDirectChildrenOnly).size());
}

} // namespace dh
