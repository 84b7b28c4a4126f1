#include "app/SettingsStore.h"
#include "app/AppInfo.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>

namespace dh {

namespace {
QString composedKey(const QString& section, const QString& key)
{
    return section + QLatin1Char('/') + key;
}

std::unique_ptr<SettingsStore>& instanceSlot()
{
    static std::unique_ptr<SettingsStore> s;
    return s;
}
} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             programTitle(), programTitle()))
{
}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::get(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QVariant v = m_settings->value(composedKey(section, key));
    if (!v.isValid())
        return defaultValue;
    return v.toString();
}

QString SettingsStore::get(const SettingKey& k) const
{
    QString def = QString::fromUtf8(k.defaultValue);
    if (QString::fromUtf8(k.key) == QStringLiteral("下载文件保存路径"))
        def = defaultSaveFolder();
    else if (QString::fromUtf8(k.key) == QStringLiteral("目的文件夹"))
        def = defaultCopyDestination();
    return get(QString::fromUtf8(k.section), QString::fromUtf8(k.key), def);
}

void SettingsStore::save(const QString& section, const QString& key, const QString& value)
{
    m_settings->setValue(composedKey(section, key), value);
    m_settings->sync();
}

void SettingsStore::save(const SettingKey& k, const QString& value)
{
    save(QString::fromUtf8(k.section), QString::fromUtf8(k.key), value);
}

void SettingsStore::remove(const QString& section, const QString& key)
{
    m_settings->remove(composedKey(section, key));
    m_settings->sync();
}

int SettingsStore::getInt(const QString& section, const QString& key, int defaultValue) const
{
    double d = 0;
    if (!parseStoredNumber(get(section, key, QString::number(defaultValue)), &d))
        return defaultValue;
    const long long r = roundHalfEven(d);
    if (r > INT_MAX || r < INT_MIN)
        return defaultValue;
    return int(r);
}

int SettingsStore::getInt(const SettingKey& k) const
{
    double def = 0;
    parseStoredNumber(QString::fromUtf8(k.defaultValue), &def);
    return getInt(QString::fromUtf8(k.section), QString::fromUtf8(k.key), int(def));
}

bool SettingsStore::getFlag(const SettingKey& k) const
{
    return getInt(k) != 0;
}

QString SettingsStore::fileName() const { return m_settings->fileName(); }
void SettingsStore::sync() { m_settings->sync(); }

SettingsStore& SettingsStore::instance()
{
    auto& s = instanceSlot();
    if (!s)
        s = std::make_unique<SettingsStore>();
    return *s;
}

void SettingsStore::setInstance(std::unique_ptr<SettingsStore> store)
{
    instanceSlot() = std::move(store);
}

bool parseStoredNumber(const QString& text, double* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

long long roundHalfEven(double v)
{
    // nearbyint uses the current rounding mode, which is round-half-even by default.
    return static_cast<long long>(std::nearbyint(v));
}

QString defaultSaveFolder()
{
    // Where the desktop keeps downloads (XDG_DOWNLOAD_DIR, often ~/下载 or
    // ~/Downloads), in a folder of our own so that a batch does not spill
    // hundreds of files among the user's other downloads.
    QString base = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + programTitle() + QLatin1Char('/');
}

QString dataFolder()
{
    QString d = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    d += QLatin1Char('/') + programTitle() + QLatin1Char('/');
    QDir().mkpath(d);
    return d;
}

QString defaultCopyDestination()
{
    // Copies are documents the user wants to find, not program data.
    return defaultSaveFolder();
}

} // namespace dh
