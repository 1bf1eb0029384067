// The random-number module now lives in the runtime base: runtime/random.h.
#pragma once
#include "runtime/random.h"
