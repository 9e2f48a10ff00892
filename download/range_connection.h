// One connection of a download in ranges, from its first request to its end:
// it asks, has its answer judged, takes its range over when the head is
// usable, reads its stream into its range and on into the next ones while the
// stream goes on, and then does what the plan's rules say (http/range_plan.h).
#pragma once

#include "download/range_engine.h"

// Runs connection `connection` (0: the first answer's, whose stream from
// byte 0 is in links[0]) until it ends.
void RunRangeConnection(RangeEngine* engine, int connection);
