#pragma once
#include <QString>

namespace dh {

// The program title is also the application name of the settings store.
inline QString programTitle() { return QStringLiteral("DocHarvest"); }

inline QString programVersion()
{
    return QStringLiteral("%1.%2.%3").arg(DH_VERSION_MAJOR).arg(DH_VERSION_MINOR).arg(DH_VERSION_PATCH);
}

// "版本:1.2.3" with the ASCII colon, as the cover shows it.
inline QString versionLabelText() { return QStringLiteral("版本:") + programVersion(); }

// A secondary window's caption: its own caption, "-", and the program title.
inline QString secondaryCaption(const QString& ownCaption)
{
    return ownCaption + QStringLiteral("-") + programTitle();
}

} // namespace dh
