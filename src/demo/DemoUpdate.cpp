// The update server: "/<program name>/newver.txt" holds the latest version,
// three numbers joined by "." (DemoOptions::versionText, sent as it is).

#include "demo/DemoService.h"

#include <httplib.h>

#include "app/AppInfo.h"

namespace dh::demo {

void registerUpdateRoutes(httplib::Server& server, DemoState& state)
{
    DemoState* ds = &state;
    server.Get(R"(/([^/]+)/newver\.txt)", [ds](const httplib::Request& req, httplib::Response& res) {
        // The program asks under its executable name; accept any letter case of it.
        if (QString::fromStdString(req.matches[1].str()).compare(dh::programTitle(), Qt::CaseInsensitive) != 0) {
            res.status = 404;
            res.set_content("not found\n", "text/plain");
            return;
        }
        QByteArray text;
        {
            std::lock_guard lock(ds->mutex);
            text = ds->options.versionText.toUtf8();
        }
        res.set_content(text.constData(), size_t(text.size()), "text/plain; charset=utf-8");
    });
}

} // namespace dh::demo
