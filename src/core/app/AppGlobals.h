#pragma once
#include <QString>

namespace dh {

// Values the whole process shares, one instance each.
struct AppGlobals {
    QString OsDescription;        // OS name + "[64位]" / "[32位]"
    int MaxFileSizeMB = 10;       // download size limit in megabytes
    bool PromptOnExtract = true;  // ask for the save folder when links are extracted
    QString SaveFolder;           // current save folder, ending in "/" once chosen
    bool UseUrlFileName = false;  // name files after the address instead of the title
    bool SaveDialogCancelled = false;
    // Service addresses (settings, overridable on the command line).
    QString SearchBaseAddress;
    QString UpdateBaseAddress;
};

AppGlobals& globals();

// The OS name: /etc/os-release PRETTY_NAME and the kernel release.
QString GetOSName();
// "64" on a 64-bit system, otherwise "32".
QString AddressWidth();
// GetOSName() + "[" + width + "位]"
QString ComposeOsDescription();

// Reads the size limit from the settings: a number rounded half to even,
// the default (10) when the stored text is not a number.
int ReadMaxFileSizeMB();

} // namespace dh
