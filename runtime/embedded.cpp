// Finding an embedded Kiv source by path.
#include "runtime/embedded.h"

#include <cstring>

const embedded_source* embedded::find(const char* name)
{
    for (const embedded_source* s = embedded_sources; s->name; s++)
        if (std::strcmp(s->name, name) == 0) return s;
    return nullptr;
}
