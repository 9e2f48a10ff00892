// A client whose header reaches the loop that calls it, for the loop's
// settings: no file includes itself, yet the two units are a circle, which the
// layer check must reject (its own test shows that it does).
#pragma once

#include "download/loop.h"
