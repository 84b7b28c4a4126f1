#include "html/Limits.h"

namespace dh {

Limits& limits()
{
    static Limits l;
    return l;
}

} // namespace dh
