#include "sim/UnProcesseur.h"

#include <sched.h>

namespace korvane::sim {

bool garderUnProcesseur()
{
    const int processeur = ::sched_getcpu();
    if (processeur < 0)
        return false;
    cpu_set_t ensemble;
    CPU_ZERO(&ensemble);
    CPU_SET(processeur, &ensemble);
    return ::sched_setaffinity(0, sizeof ensemble, &ensemble) == 0;
}

} // namespace korvane::sim
