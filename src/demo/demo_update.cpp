#include "demo/DemoService.h"

#include <httplib.h>

namespace dh::demo {

void registerUpdateRoutes(httplib::Server& server, DemoState& state)
{
    (void)server;
    (void)state;
}

} // namespace dh::demo
