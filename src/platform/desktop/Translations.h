#pragma once
// Qt's own texts (standard buttons, file dialogs, the context menus of text
// boxes and of the web view, the command line's help) in Chinese, like the
// rest of the interface, whatever the locale: the program speaks Chinese to
// everyone, and Qt without a translation speaks English.

#include <QStringList>

class QCoreApplication;

namespace dh {

// Loads Qt's Simplified Chinese catalogues (qtbase, qtwebengine) from Qt's
// translations folder, or from dir when given, and installs them in app.
// Returns the catalogues loaded; a missing one (the package is not
// installed) leaves those texts in English and is not an error.
QStringList installQtChineseTranslations(QCoreApplication& app, const QString& dir = {});

} // namespace dh
