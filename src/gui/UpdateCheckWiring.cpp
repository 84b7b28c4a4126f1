#include "gui/UpdateCheckWiring.h"

#include "app/AppGlobals.h"
#include "app/AppInfo.h"
#include "gui/StartWindow.h"
#include "net/UpdateCheck.h"
#include "net/XmlHttp.h"

#include <QLabel>
#include <QPointer>

namespace dh {

namespace {

// Runs detached: the cover goes on at once, and the answer may come while the
// cover is hidden (the label is then seen when it shows again).
QCoro::Task<void> runCheck(QPointer<StartWindow> cover, XmlHttpRequest* http)
{
    const QString address = update::updateAddress(globals().updateBaseAddress);
    const UpdateCheckResult r = co_await checkNewVersion(http, address, programVersion());
    if (r.outcome != UpdateCheckResult::Outcome::Newer || !cover)
        co_return;
    cover->showLatestVersion(update::latestVersionCaption(r.versionText));
    // The cover's size was fixed before the label appeared; make room for it.
    if (cover->minimumHeight() == cover->maximumHeight()) {
        const int needed = cover->sizeHint().height();
        if (needed > cover->height())
            cover->setFixedHeight(needed);
    }
}

} // namespace

void installUpdateCheck()
{
    StartWindow::updateCheckHook() = [](StartWindow* cover) {
        // No update server configured: nothing to ask, and nothing to say.
        if (globals().updateBaseAddress.trimmed().isEmpty())
            return;
        auto* http = cover->findChild<XmlHttpRequest*>(QStringLiteral("updateCheckRequest"), Qt::FindDirectChildrenOnly);
        if (!http) {
            http = new XmlHttpRequest(cover);
            http->setObjectName(QStringLiteral("updateCheckRequest"));
        }
        runCheck(cover, http);
    };
}

} // namespace dh
