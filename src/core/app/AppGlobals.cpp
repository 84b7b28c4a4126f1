#include "app/AppGlobals.h"

#include "app/SettingsStore.h"

#include <QFile>
#include <QSysInfo>

namespace dh {

AppGlobals& globals()
{
    static AppGlobals g;
    return g;
}

namespace {
QString prettyNameFrom(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1String("PRETTY_NAME="))) {
            QString v = line.mid(12);
            if (v.size() >= 2 && (v.startsWith(QLatin1Char('"')) || v.startsWith(QLatin1Char('\''))))
                v = v.mid(1, v.size() - 2);
            return v;
        }
    }
    return {};
}
} // namespace

QString osName()
{
    QString name = prettyNameFrom(QStringLiteral("/etc/os-release"));
    if (name.isEmpty())
        name = prettyNameFrom(QStringLiteral("/usr/lib/os-release"));
    if (name.isEmpty())
        name = QSysInfo::prettyProductName();
    const QString kernel = QSysInfo::kernelVersion();
    if (!kernel.isEmpty())
        name += QStringLiteral(" (Linux ") + kernel + QLatin1Char(')');
    return name;
}

QString addressWidth()
{
    const QString arch = QSysInfo::currentCpuArchitecture();
    if (arch.contains(QLatin1String("64")))
        return QStringLiteral("64");
    return QStringLiteral("32");
}

QString composeOsDescription()
{
    return osName() + QLatin1Char('[') + addressWidth() + QStringLiteral("位]");
}

int readMaxFileSizeMB()
{
    // A negative limit would skip every file; it reads as the default, as
    // text that is no number does.
    const int mb = SettingsStore::instance().getInt(keys::maxFileSize);
    return mb < 0 ? QString::fromUtf8(keys::maxFileSize.defaultValue).toInt() : mb;
}

} // namespace dh
