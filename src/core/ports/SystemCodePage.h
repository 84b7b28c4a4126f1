#pragma once
#include <QByteArray>
#include <QString>

namespace dh {

// The encoding that text files (folder history, exports) and the file-name
// byte limit use: the locale's encoding, or GBK when the locale says so.
class SystemCodePage {
public:
    static QString name();                 // e.g. "UTF-8", "GBK"
    static void setName(const QString& n); // tests; empty restores the locale's choice
    static QByteArray encode(const QString& s);
    static QString decode(const QByteArray& b);
};

} // namespace dh
