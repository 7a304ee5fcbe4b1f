// The fixed limits of a mix, shared by every module.
#pragma once
#include <cstdint>

constexpr int kMaxChannels = 127;        // channels 1..127 take part in a mix
constexpr int kChannelRows = 128;        // per-channel tables, index 0 holds no channel
constexpr int kSlots = 137;              // 0 master, 1..127 channels, 128..135 submixes, 136 spare
constexpr int kValueSlots = 136;         // per-slot effect value tables
constexpr int kSubmixes = 9;             // submix 0 (direct bus) and 1..8
constexpr int kVcas = 9;                 // VCA 0 (tables only) and 1..8
constexpr int kEntries = 512;            // level entries per fader or VCA
constexpr int64_t kBlockFrames = 131072; // frames of one mix block
constexpr int kPathMax = 127;            // directory prefixes, output name, track paths
constexpr int kNameMax = 255;            // track names, launch command

// Slot of submix n (1..8).
constexpr int SubmixSlot(int n) { return 127 + n; }
