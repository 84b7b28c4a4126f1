#include "app/BrowserEmulation.h"

#include "app/SettingsStore.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace dh {

unsigned browserEmulationValue(const QString& level, bool force)
{
    const QString l = level.toUpper();
    if (l == QLatin1String("IE10"))
        return force ? 10001 : 10000;
    if (l == QLatin1String("IE9"))
        return force ? 9999 : 9000;
    if (l == QLatin1String("IE8"))
        return force ? 8888 : 8000;
    if (l == QLatin1String("IE7"))
        return 7000;
    return 0;
}

EmulationResult setBrowserEmulation(const QString& level, bool force, SettingsStore& store, const QString& exe)
{
    const QString section = QString::fromLatin1(kBrowserEmulationSection);
    const QString key = exe + QStringLiteral(".exe");
    const unsigned v = browserEmulationValue(level, force);
    if (v == 0) {
        store.remove(section, key);
        return EmulationResult::Deleted;
    }
    const QString text = QString::number(v);
    if (store.get(section, key, QString()) == text)
        return EmulationResult::Unchanged;
    store.save(section, key, text);
    return EmulationResult::Written;
}

EmulationResult setBrowserEmulation(const QString& level, bool force)
{
    QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (exe.isEmpty())
        exe = QStringLiteral("docharvest");
    return setBrowserEmulation(level, force, SettingsStore::instance(), exe);
}

} // namespace dh
