#pragma once
#include <QString>

namespace dh {

// Values the whole process shares, one instance each.
struct AppGlobals {
    QString osDescription;        // OS name + "[64位]" / "[32位]"
    int maxFileSizeMB = 10;       // download size limit in megabytes
    bool promptOnExtract = true;  // ask for the save folder when links are extracted
    QString saveFolder;           // current save folder, ending in "/" once chosen
    bool useUrlFileName = false;  // name files after the address instead of the title
    bool saveDialogCancelled = false;
    // Service addresses (settings, overridable on the command line).
    QString searchBaseAddress;
    QString updateBaseAddress;
};

AppGlobals& globals();

// The OS name: /etc/os-release PRETTY_NAME and the kernel release.
QString osName();
// "64" on a 64-bit system, otherwise "32".
QString addressWidth();
// osName() + "[" + width + "位]"
QString composeOsDescription();

// Reads the size limit from the settings: a number rounded half to even,
// the default (10) when the stored text is not a number.
int readMaxFileSizeMB();

} // namespace dh
