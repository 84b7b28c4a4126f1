#include "ports/Shell.h"

namespace dh {

namespace {
Shell*& installed()
{
    static Shell* s = nullptr;
    return s;
}
} // namespace

Shell& Shell::instance()
{
    if (Shell* s = installed())
        return *s;
    static RecordingShell fallback;
    return fallback;
}

void Shell::setInstance(Shell* s)
{
    installed() = s;
}

} // namespace dh
