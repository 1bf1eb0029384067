// The runtime vocabulary now lives with the datatypes: runtime/datatypes/rtwords.h.
#pragma once
#include "runtime/datatypes/rtwords.h"
