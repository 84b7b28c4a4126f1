#include "cli/CliCommand.h"

#include <vector>

namespace dh::cli {

namespace {
std::vector<const CliCommand*>& registry()
{
    static std::vector<const CliCommand*> r;
    return r;
}
} // namespace

CliCommand::CliCommand(const char* n, const char* s, Runner r) : name(n), summary(s), run(std::move(r))
{
    registry().push_back(this);
}

const std::vector<const CliCommand*>& commands()
{
    return registry();
}

} // namespace dh::cli
