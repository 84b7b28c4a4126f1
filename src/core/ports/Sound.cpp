#include "ports/Sound.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace dh {

namespace {
CuePlayer*& player()
{
    static CuePlayer* p = nullptr;
    return p;
}

std::function<QByteArray(int)>& cueSource()
{
    static std::function<QByteArray(int)> s;
    return s;
}

bool isCue(int number)
{
    return number == CueWebPage || number == CueListFinished || number == CueTransferFailed;
}
} // namespace

CuePlayer* CuePlayer::instance()
{
    return player();
}

void CuePlayer::setInstance(CuePlayer* p)
{
    player() = p;
}

QString cueFilePath(const QString& folder, int number)
{
    return folder + QString::number(number) + QStringLiteral(".wav");
}

QByteArray embeddedCueData(int number)
{
    if (cueSource())
        return cueSource()(number);
    QFile f(QStringLiteral(":/cues/%1.wav").arg(number));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void setEmbeddedCueSource(std::function<QByteArray(int)> source)
{
    cueSource() = std::move(source);
}

bool playCue(int number, const QString& folder)
{
    if (!isCue(number))
        return false;
    const QString path = cueFilePath(folder, number);
    const QFileInfo existing(path);
    if (!existing.exists() || existing.isDir()) {
        const QByteArray data = embeddedCueData(number);
        if (data.isEmpty())
            return false;
        // Written whole or not at all, so a failed write never leaves a
        // truncated cue that later calls would keep playing.
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
            return false;
    }
    if (CuePlayer* p = CuePlayer::instance()) {
        p->play(path);
        return true;
    }
    return false;
}

} // namespace dh
