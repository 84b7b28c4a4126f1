#include "gui/ServiceMode.h"

#include "app/AppGlobals.h"
#include "app/ServiceAddress.h"
#include "app/SettingsStore.h"
#include "demo/DemoService.h"
#include "gui/Windows.h"
#include "gui/SearchWindow.h"
#include "search/SearchEngine.h"

#include <QLabel>
#include <QStatusBar>

#include <cstdio>
#include <memory>
#include <utility>

namespace dh::services {

namespace {
std::unique_ptr<demo::DemoService>& demoSlot()
{
    static std::unique_ptr<demo::DemoService> s;
    return s;
}
} // namespace

QString startDemoService()
{
    auto& d = demoSlot();
    if (d && d->running())
        return d->baseUrl();
    d = std::make_unique<demo::DemoService>(demo::DemoOptions::builtIn());
    if (!d->start()) {
        d.reset();
        return {};
    }
    return d->baseUrl();
}

QString demoServiceAddress()
{
    const auto& d = demoSlot();
    return d && d->running() ? d->baseUrl() : QString();
}

void stopDemoService()
{
    demoSlot().reset();
}

bool demoMode()
{
    const QString demo = demoServiceAddress();
    return !demo.isEmpty() && globals().searchBaseAddress == demo;
}

QString searchBaseFor(const QString& configured)
{
    const QString address = configured.trimmed();
    return address.isEmpty() ? startDemoService() : address;
}

bool resolveAtStartup(bool demoFlag, const std::optional<QString>& searchArg,
                      const std::optional<QString>& updateArg, QString* error)
{
    auto& g = globals();
    // A stored address that is not http or https is not used: the key's
    // default (none) stands in, and the reason is told.
    for (auto [key, into] : {std::pair{&keys::searchServiceBase, &g.searchBaseAddress},
                             std::pair{&keys::updateServiceBase, &g.updateBaseAddress}}) {
        QString why;
        *into = serviceBaseFromSettings(*key, &why);
        if (!why.isEmpty())
            std::fprintf(stderr, "docharvest: setting %s/%s: %s; not used\n", key->section, key->key,
                         qPrintable(why));
    }
    if (demoFlag) {
        // Asked for by name: search and update both go to the demo service.
        g.searchBaseAddress = g.updateBaseAddress = startDemoService();
        if (g.searchBaseAddress.isEmpty()) {
            if (error)
                *error = QStringLiteral("the demo service could not start");
            return false;
        }
    }
    if (searchArg)
        g.searchBaseAddress = searchArg->trimmed();
    if (updateArg)
        g.updateBaseAddress = updateArg->trimmed();
    // Nothing configured: the demo service stands in for the search service
    // only; with no update server the start-up check is skipped.
    g.searchBaseAddress = searchBaseFor(g.searchBaseAddress);
    if (g.searchBaseAddress.isEmpty()) {
        if (error)
            *error = QStringLiteral("no search service is configured and the demo service could not start");
        return false;
    }
    return true;
}

void applySearchService(const QString& configured)
{
    const QString base = searchBaseFor(configured);
    if (base.isEmpty())
        return;  // the demo service could not start: keep what works
    globals().searchBaseAddress = base;
    if (SearchWindow* w = windows::searchIfLoaded()) {
        w->engine()->searchBase = base;
        showSearchServiceMode(w);
    }
}

void showSearchServiceMode(SearchWindow* window)
{
    if (!window)
        return;
    QStatusBar* bar = window->statusBar();
    auto* label = bar->findChild<QLabel*>(QStringLiteral("LabelServiceMode"));
    if (!label) {
        label = new QLabel(bar);
        label->setObjectName(QStringLiteral("LabelServiceMode"));
        label->setToolTip(QStringLiteral("没有设置搜索服务地址，正在使用内置的演示搜索服务。"
                                         "请在菜单“工具 → 设置”中填写搜索服务地址。"));
        bar->addPermanentWidget(label);
    }
    // A profile with addresses of its own never asks the demo service.
    const bool demo = demoMode() && window->engine()->profile.usesBase();
    label->setText(demo ? demoModeText() : QString());
    label->setVisible(demo);
    if (demo)
        bar->show();
}

} // namespace dh::services
