// Routing of channels into submixes 0..8, submix mutes and solos, the feeder
// mutes that switch off channels with nowhere to go, and the VCA assignment.
#pragma once
#include <array>
#include <string>

#include "corvale/run/limits.h"

struct Routing {
    std::array<std::array<int, kSubmixes>, kChannelRows> route{};  // route[channel][submix]
    std::array<int, kSubmixes> subOn{};
    std::array<int, kSubmixes> solo{};
    std::array<std::string, kSubmixes> subList;
    std::array<int, kVcas> vcaInUse{};            // index 1..8
    std::array<std::string, kVcas> vcaList;
    std::array<int, kSlots> vcaAssign{};          // VCA 1..8 a slot follows, 0 for none
    bool anyVca() const { for (int v = 1; v < kVcas; ++v) if (vcaInUse[v]) return true; return false; }
};

// "sub", "submu", "subso" over the cue-sheet body, then the feeder mutes for
// channels 1..channelCount (clearing their active flags).
void ReadRouting(const char* body, int channelCount, int* activeFlags, Routing& routing);

// "VCA:" lines and the assignment of slots.
void ReadVcaAssignment(const char* body, Routing& routing);

void RouteChannel(const std::string& list, int submix, Routing& routing);
void RouteVCA(const std::string& list, int vca, Routing& routing);
void CheckFeederMutes(const Routing& routing, int* activeFlags, int channelCount);
