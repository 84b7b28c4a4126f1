#pragma once
#include <QObject>
#include <QString>

namespace dh {

// The windows that are loaded right now, by window name. Windows register
// themselves while they exist; the engine asks by name without knowing widgets.
class WindowRegistry {
public:
    // Registers obj under name until obj is destroyed.
    static void add(const QString& name, QObject* obj);
    static void remove(QObject* obj);
    // Case-insensitive lookup by registered name ("ffileDownLoad" finds "fFileDownload").
    static bool isLoaded(const QString& name);
    static QObject* find(const QString& name);
};

} // namespace dh
