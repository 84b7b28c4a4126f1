#pragma once
// The update check run once at start-up: fetch "newver.txt" from the update
// server and tell whether the version written there is newer than ours.

#include <QCoroTask>
#include <QString>

#include <optional>

namespace dh {

class Prompter;
class XmlHttpRequest;

namespace update {

// The name of the program's executable as installed ("docharvest"). The
// update path is built from it rather than from argv[0], so that a wrapper
// or a renamed copy still asks at the right place.
QString programFileName();

// base + "/" (when base does not end with one) + programName + "/newver.txt".
QString updateAddress(const QString& baseAddress, const QString& programName = programFileName());

// The body of newver.txt as a version text: spaces, tabs and line breaks
// around it removed; nullopt when nothing is left or 11 characters or more.
std::optional<QString> versionTextFromResponse(const QString& responseText);

struct Version {
    qint64 major = 0;
    qint64 minor = 0;
    qint64 revision = 0;
};

// Exactly three parts joined by ".", each made of ASCII decimal digits only
// (no sign, no spaces); nullopt otherwise.
std::optional<Version> parseVersion(const QString& text);

// major * 10,000,000 + minor * 10,000 + revision, exactly.
qint64 versionWeight(const Version& v);

// True when serverText is a version whose weight is greater than that of
// programVersion ("x.y.z"); false for anything else.
bool isNewerVersion(const QString& serverText, const QString& programVersion);

// "最新版本：V" + version text.
QString latestVersionCaption(const QString& versionText);

// newver.txt is a few bytes; anything much larger is not worth reading.
constexpr qint64 kMaxResponseBytes = 64 * 1024;

} // namespace update

struct UpdateCheckResult {
    enum class Outcome {
        Newer,           // versionText is newer: show latestVersionCaption(versionText)
        NotNewer,        // same or older version
        IgnoredText,     // the body is not a version text of the right form
        HttpError,       // a status from 0 to 600 other than 200: "请保持网络畅通！" was shown
        NetworkFailure,  // no usable answer (status above 600): nothing shown
        NotStarted,      // the address was refused; nothing shown
        Abandoned,       // the control went away during the check
    };
    Outcome outcome = Outcome::NotStarted;
    QString versionText;  // trimmed text of the answer, when there was one
    int status = 0;
};

// checkNewVersion: GET of address on http (no save path), then the answer is
// judged. For an HTTP status other than 200 the message "请保持网络畅通！"
// (error icon) goes to prompter (nullptr: the process-wide one at that
// moment). Nothing here blocks: the caller starts the coroutine and goes on.
QCoro::Task<UpdateCheckResult> checkNewVersion(XmlHttpRequest* http, QString address, QString programVersion,
                                               Prompter* prompter = nullptr);

} // namespace dh
