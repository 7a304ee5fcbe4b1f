// placeholder: replaced when this module lands
#include "corvale/run/tracklist.h"
void CountTracks(const ControlFile&, const Prefs&, Tracks&) {}
void DecodeTrackList(const ControlFile&, const Prefs&, Tracks&) {}
int CheckSampleRates(Tracks&) { return 0; }
void PlaceTracks(const char*, Tracks&) {}
