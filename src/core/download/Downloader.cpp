#include "download/Downloader.h"

#include "app/Helpers.h"
#include "app/Timings.h"

namespace dh {

Downloader::Downloader(QObject* parent) : QObject(parent)
{
    connect(&m_stallTimer, &QTimer::timeout, this, &Downloader::onStallTick);
}

Downloader::~Downloader()
{
    CancelAsyncRead();
}

void Downloader::BeginDownload(const QString& address, const QString& saveFile, const QString& /*referer*/)
{
    CancelAsyncRead();
    m_saveFile = saveFile;
    m_bytesExpected = m_bytesRead = m_bytesAtLastLook = m_arrived = 0;
    m_reported = false;
    // The name is taken from now on, so that a second row with the same name
    // started in the same tick gets a numbered one.
    if (!FileExists(saveFile))
        WritePlaceholder(saveFile);

    m_lastProgress.start();
    m_stallTimer.start(timings().tick);

    QString a = address;
    a.replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive);
    m_address = TrimSpaces(a);

    m_read = transferEngine().execute(m_address);
    connect(m_read.get(), &TransferRequest::progress, this, &Downloader::onReadProgress);
    connect(m_read.get(), &TransferRequest::finished, this, &Downloader::onReadFinished);
    if (!m_read->saveBodyTo(saveFile, SaveMode::ReplaceOnCompletion)) {
        m_read->disconnect(this);
        m_read.reset();
        // Reported on the next turn, after the caller has finished starting us.
        QTimer::singleShot(0, this, &Downloader::startFallback);
    }
}

void Downloader::CancelAsyncRead()
{
    m_stallTimer.stop();
    if (m_read) {
        m_read->disconnect(this);
        m_read->cancel();
    }
    if (m_fallback && m_fallback->request()) {
        m_fallback->request()->disconnect(this);
        m_fallback->request()->cancel();
    }
    // The requests themselves may be in the middle of a signal; they go with
    // this object or with the next transfer.
}

void Downloader::onReadProgress(qint64 read, qint64 total)
{
    m_arrived = read;
    if (total < 1)
        return;
    m_bytesExpected = total;
    m_bytesRead = read;
    emit DownloadProgress(read, total, m_saveFile);
}

void Downloader::onReadFinished()
{
    if (m_reported || !m_read)
        return;
    const TransferRequest::Failure failure = m_read->failure();
    if (failure == TransferRequest::Failure::Cancelled)
        return;
    if (failure == TransferRequest::Failure::Stalled) {
        giveUp(QStringLiteral("超时"));
        return;
    }
    const qint64 total = m_read->bytesTotal();
    const qint64 read = m_read->bytesRead();
    if (m_read->succeeded() && read >= 1) {
        m_stallTimer.stop();
        m_reported = true;
        if (total >= 1) {
            emit DownloadComplete(read, total, m_saveFile);
        } else {
            // No size announced: the whole body is in place all the same.
            const qint64 length = FileLength(m_saveFile);
            emit DownloadComplete(length, length, m_saveFile);
        }
        return;
    }
    if (!m_read->succeeded() && total >= 1 && read >= 1 && read < total) {
        // Broken off part-way: reported with the share that arrived. The
        // target keeps what it had; the part is not passed off as the file.
        m_stallTimer.stop();
        m_reported = true;
        emit DownloadComplete(read, total, m_saveFile);
        return;
    }
    startFallback();
}

void Downloader::startFallback()
{
    if (m_reported)
        return;
    m_fallback = std::make_unique<WholeBodyFetch>();
    if (!m_fallback->start(m_address, TransferOptions{}, m_saveFile)) {
        giveUp(QStringLiteral("无法下载"));
        return;
    }
    connect(m_fallback->request(), &TransferRequest::progress, this, [this](qint64 read, qint64) { m_arrived = read; });
    connect(m_fallback->request(), &TransferRequest::finished, this, &Downloader::onFallbackFinished);
}

void Downloader::onFallbackFinished()
{
    if (m_reported || !m_fallback)
        return;
    if (m_fallback->request()->failure() == TransferRequest::Failure::Stalled) {
        giveUp(QStringLiteral("超时"));
        return;
    }
    const qint64 bytes = m_fallback->finish();
    if (bytes <= 0) {
        giveUp(QStringLiteral("无法下载"));
        return;
    }
    m_stallTimer.stop();
    m_reported = true;
    const qint64 length = FileLength(m_saveFile);
    emit DownloadComplete(length, length, m_saveFile);
}

void Downloader::onStallTick()
{
    if (m_arrived == m_bytesAtLastLook) {
        if (m_lastProgress.elapsed() >= timings().transferStall.count())
            giveUp(QStringLiteral("超时"));
        return;
    }
    m_bytesAtLastLook = m_arrived;
    m_lastProgress.restart();
}

void Downloader::giveUp(const QString& reason)
{
    if (m_reported)
        return;
    m_reported = true;
    CancelAsyncRead();
    emit DownloadError(reason, m_saveFile);
}

} // namespace dh
