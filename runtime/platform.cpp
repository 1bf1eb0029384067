// Platform start and services.
#include "runtime/platform.h"

#include <windows.h>

void platform_init()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}
