// placeholder: replaced when this module lands
#include "corvale/cuesheet/timing.h"
void ReadOffset(const char*, const TimeContext&, Timing&) {}
int ReadTempoMap(const char*, const TimeContext&, Timing&) { return 0; }
void ReadTimeFields(const char*, const TimeContext&, Timing&) {}
int ReadTimeLine(Tokens&, const TimeContext&, Timing&) { return 0; }
void ReadIncLine(Tokens&, const TimeContext&, Timing&) {}
int64_t MusicalTime(const Timing&, float, float, float) { return 0; }
void AnnounceTimeEntries(const TimeContext&, const Timing&) {}
