#include "TestEnv.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace dh::test {

namespace {
std::unique_ptr<QTemporaryDir>& root()
{
    static std::unique_ptr<QTemporaryDir> r;
    return r;
}
} // namespace

QString isolateEnvironment()
{
    if (!root()) {
        root() = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/dh-test-XXXXXX"));
        const QString base = root()->path();
        for (const char* sub : {"home", "config", "data", "cache", "runtime"})
            QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub));
        auto set = [&](const char* var, const char* sub) {
            const QByteArray v = (base + QLatin1Char('/') + QLatin1String(sub)).toLocal8Bit();
            setenv(var, v.constData(), 1);
        };
        set("HOME", "home");
        set("XDG_CONFIG_HOME", "config");
        set("XDG_DATA_HOME", "data");
        set("XDG_CACHE_HOME", "cache");
        set("XDG_RUNTIME_DIR", "runtime");
        QFile::setPermissions(base + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Windows render offscreen; Chromium runs without its sandbox (root) and
        // without background traffic to the internet.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        setenv("QTWEBENGINE_CHROMIUM_FLAGS",
               "--disable-gpu --no-sandbox --disable-background-networking --disable-component-update "
               "--disable-sync",
               0);
        setenv("DH_BINARY_DIR", DH_TEST_BINARY_DIR, 0);
        setenv("DH_SOURCE_DIR", DH_TEST_SOURCE_DIR, 0);
        // No proxy from the surroundings leaks into the tests.
        for (const char* v : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    return root()->path();
}

QString isolatedRoot()
{
    return root() ? root()->path() : QString();
}

QString binaryDir()
{
    return QString::fromLocal8Bit(qgetenv("DH_BINARY_DIR"));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("DH_SOURCE_DIR"));
}

} // namespace dh::test
