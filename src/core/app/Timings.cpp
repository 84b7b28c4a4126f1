#include "app/Timings.h"

namespace dh {

Timings& timings()
{
    static Timings t;
    return t;
}

} // namespace dh
