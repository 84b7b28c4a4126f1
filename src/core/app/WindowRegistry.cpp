#include "app/WindowRegistry.h"

#include <QPointer>
#include <vector>

namespace dh {

namespace {
struct Entry {
    QString name;
    QPointer<QObject> obj;
};
std::vector<Entry>& entries()
{
    static std::vector<Entry> e;
    return e;
}
void prune()
{
    auto& e = entries();
    std::erase_if(e, [](const Entry& x) { return x.obj.isNull(); });
}
} // namespace

void WindowRegistry::add(const QString& name, QObject* obj)
{
    prune();
    entries().push_back({name, obj});
    QObject::connect(obj, &QObject::destroyed, [obj] { WindowRegistry::remove(obj); });
}

void WindowRegistry::remove(QObject* obj)
{
    std::erase_if(entries(), [obj](const Entry& x) { return x.obj.isNull() || x.obj.data() == obj; });
}

bool WindowRegistry::isLoaded(const QString& name)
{
    return find(name) != nullptr;
}

QObject* WindowRegistry::find(const QString& name)
{
    prune();
    for (const auto& e : entries()) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return e.obj.data();
    }
    return nullptr;
}

} // namespace dh
