#include "download/TransferSupport.h"

#include "app/AppGlobals.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cmath>
#include <filesystem>

namespace dh {

int RowRef::resolve(const DownloadListModel& list) const
{
    if (position >= 0 && position < list.size() && list.item(position).Url == url)
        return position;
    return list.findUrl(url);
}

QString PercentText(qint64 read, qint64 total)
{
    if (total <= 0)
        return QString();
    const double p = std::floor(double(read) / double(total) * 100.0);
    return QString::number(qint64(p)) + QLatin1Char('%');
}

QString PercentTextSingle(qint64 read, qint64 total)
{
    if (total <= 0)
        return QString();
    const float p = std::floor(float(read) / float(total) * 100.0f);
    return QString::number(qint64(p)) + QLatin1Char('%');
}

bool AboveSizeLimit(qint64 bytes)
{
    return double(bytes) / 1024.0 / 1024.0 > double(globals().MaxFileSizeMB);
}

qint64 FileLength(const QString& path)
{
    const QFileInfo fi(path);
    return fi.isFile() ? fi.size() : 0;
}

bool WritePlaceholder(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    static const char bytes[2] = {0x01, 0x00};
    return f.write(bytes, 2) == 2;
}

WholeBodyFetch::~WholeBodyFetch()
{
    // The request goes first: it may still hold the temporary file open.
    m_request.reset();
    discardTemp();
}

bool WholeBodyFetch::start(const QString& url, const TransferOptions& options, const QString& target)
{
    const QFileInfo info(target);
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX.part"));
    temp.setAutoRemove(false);
    if (!temp.open())
        return false;
    m_temp = temp.fileName();
    temp.close();
    m_target = info.absoluteFilePath();
    m_request = transferEngine().execute(url, options);
    if (!m_request->saveBodyTo(m_temp, SaveMode::Direct)) {
        m_request.reset();
        discardTemp();
        return false;
    }
    return true;
}

qint64 WholeBodyFetch::finish()
{
    // The request stays: the caller may be inside one of its signals.
    if (!m_request || m_request->stillExecuting() || !m_request->succeeded() || m_temp.isEmpty()) {
        if (m_request && m_request->stillExecuting())
            m_request->cancel();
        discardTemp();
        return -1;
    }
    const qint64 bytes = FileLength(m_temp);
    if (bytes <= 0) {
        discardTemp();
        return -1;
    }
    // A temporary file is private to its owner; a download is an ordinary file.
    QFile::setPermissions(m_temp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                      | QFileDevice::ReadOther);
    std::error_code ec;
    std::filesystem::rename(QFile::encodeName(m_temp).toStdString(), QFile::encodeName(m_target).toStdString(), ec);
    if (ec) {
        discardTemp();
        return -1;
    }
    m_temp.clear();
    return bytes;
}

void WholeBodyFetch::discardTemp()
{
    if (!m_temp.isEmpty())
        QFile::remove(m_temp);
    m_temp.clear();
}

} // namespace dh
