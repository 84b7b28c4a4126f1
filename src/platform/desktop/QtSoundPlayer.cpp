#include "platform/desktop/QtSoundPlayer.h"

#include <QSoundEffect>
#include <QUrl>
#include <QVariant>

namespace dh {

namespace {
const char* const kPlayWhenReady = "dhPlayWhenReady";
}

QtSoundPlayer::QtSoundPlayer(QObject* parent) : QObject(parent) {}

QtSoundPlayer::~QtSoundPlayer()
{
    if (CuePlayer::instance() == this)
        CuePlayer::setInstance(nullptr);
}

void QtSoundPlayer::play(const QString& wavPath)
{
    QSoundEffect*& effect = m_effects[wavPath];
    if (!effect) {
        effect = new QSoundEffect(this);
        // Loading is asynchronous: the effect starts once its file is loaded.
        // A file that fails to load stays silent; cue failures are never reported.
        connect(effect, &QSoundEffect::statusChanged, effect, [e = effect] {
            if (e->status() == QSoundEffect::Ready && e->property(kPlayWhenReady).toBool()) {
                e->setProperty(kPlayWhenReady, false);
                e->play();
            }
        });
    }
    effect->stop();
    // Clearing the source first forces a fresh load of the file as it is now.
    effect->setSource(QUrl());
    effect->setProperty(kPlayWhenReady, true);
    effect->setSource(QUrl::fromLocalFile(wavPath));
    if (effect->status() == QSoundEffect::Ready && effect->property(kPlayWhenReady).toBool()) {
        effect->setProperty(kPlayWhenReady, false);
        effect->play();
    }
}

} // namespace dh
