#include "platform/desktop/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace dh {

QStringList installQtChineseTranslations(QCoreApplication& app, const QString& dir)
{
    const QString folder = dir.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : dir;
    QStringList loaded;
    for (const char* catalogue : {"qtbase", "qtwebengine"}) {
        auto* t = new QTranslator(&app);
        if (t->load(QLatin1String(catalogue) + QStringLiteral("_zh_CN"), folder)) {
            app.installTranslator(t);
            loaded << QLatin1String(catalogue);
        } else {
            delete t;
        }
    }
    return loaded;
}

} // namespace dh
