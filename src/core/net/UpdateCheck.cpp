#include "net/UpdateCheck.h"

#include "net/XmlHttp.h"
#include "ports/Prompter.h"

#include <QPointer>
#include <QStringList>

namespace dh {

namespace update {

QString programFileName()
{
    return QStringLiteral("docharvest");
}

QString updateAddress(const QString& baseAddress, const QString& programName)
{
    QString base = baseAddress.trimmed();
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + programName + QStringLiteral("/newver.txt");
}

std::optional<QString> versionTextFromResponse(const QString& responseText)
{
    // Spaces as the format says, and the line break an editor leaves at the
    // end of a text file.
    auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    };
    qsizetype b = 0;
    qsizetype e = responseText.size();
    while (b < e && blank(responseText.at(b)))
        ++b;
    while (e > b && blank(responseText.at(e - 1)))
        --e;
    const QString t = responseText.mid(b, e - b);
    if (t.isEmpty() || t.size() >= 11)
        return std::nullopt;
    return t;
}

std::optional<Version> parseVersion(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    qint64 n[3] = {};
    for (int i = 0; i < 3; ++i) {
        const QString& p = parts[i];
        // At most 9 digits, so that the weight stays exact in 64 bits.
        if (p.isEmpty() || p.size() > 9)
            return std::nullopt;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        n[i] = p.toLongLong();
    }
    return Version{n[0], n[1], n[2]};
}

qint64 versionWeight(const Version& v)
{
    return v.major * 10000000LL + v.minor * 10000LL + v.revision;
}

bool isNewerVersion(const QString& serverText, const QString& programVersion)
{
    const auto server = parseVersion(serverText);
    const auto own = parseVersion(programVersion);
    if (!server || !own)
        return false;
    return versionWeight(*server) > versionWeight(*own);
}

QString latestVersionCaption(const QString& versionText)
{
    return QStringLiteral("最新版本：V") + versionText;
}

} // namespace update

QCoro::Task<UpdateCheckResult> checkNewVersion(XmlHttpRequest* http, QString address, QString programVersion,
                                               Prompter* prompter)
{
    using Outcome = UpdateCheckResult::Outcome;
    UpdateCheckResult result;
    QPointer<XmlHttpRequest> control(http);
    if (!control || !control->open(QStringLiteral("GET"), address))
        co_return result;  // NotStarted
    control->setMaxBodyBytes(update::kMaxResponseBytes);
    control->send();
    if (!co_await waitForRequestEnd(control) || !control) {
        result.outcome = Outcome::Abandoned;
        co_return result;
    }
    result.status = control->status();
    if (!control->downOk()) {  // aborted by someone else
        result.outcome = Outcome::Abandoned;
        co_return result;
    }
    if (result.status != 200) {
        if (result.status >= 0 && result.status <= 600) {
            result.outcome = Outcome::HttpError;
            (prompter ? *prompter : Prompter::instance())
                .message(QStringLiteral("请保持网络畅通！"), MessageIcon::Error);
        } else {
            result.outcome = Outcome::NetworkFailure;
        }
        co_return result;
    }
    const auto text = update::versionTextFromResponse(control->responseText());
    if (!text || !update::parseVersion(*text)) {
        result.outcome = Outcome::IgnoredText;
        if (text)
            result.versionText = *text;
        co_return result;
    }
    result.versionText = *text;
    result.outcome = update::isNewerVersion(*text, programVersion) ? Outcome::Newer : Outcome::NotNewer;
    co_return result;
}

} // namespace dh
