#pragma once
#include <QByteArray>
#include <QString>

namespace dh::test {

// Points HOME and the XDG folders at a fresh temporary folder so that a test
// never touches the user's settings, data or cache. Call before the
// QCoreApplication is created. Returns the root of the temporary tree.
QString isolateEnvironment();

// The temporary root made by isolateEnvironment().
QString isolatedRoot();

// The whole content of the file at path; empty when it cannot be read.
QByteArray readFile(const QString& path);

// A folder of the build tree / source tree (from DH_BINARY_DIR / DH_SOURCE_DIR).
QString binaryDir();
QString sourceDir();

} // namespace dh::test
