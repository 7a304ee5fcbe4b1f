// The track list: counting and decoding its lines (layouts, markers, solos),
// track paths, reading each active track's header, the common sample rate,
// placement with tstamp/sstamp and the song length.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "corvale/audio/wav_in.h"
#include "corvale/run/limits.h"

// Why a listed track cannot play, found while the list is decoded.
enum class TrackProblem {
    kNone,
    kNotFound,       // the file cannot be opened
    kUnusable,       // the WAV reader refused it
    kNameTooLong,
    kPathTooLong,
    kMarkerTypo,     // muted by a marker that looks mistyped, or a line with too many fields
};

struct Tracks {
    int count = 0;                                  // lines counted (may exceed 127)
    int channels() const { return count < kMaxChannels ? count : kMaxChannels; }
    std::array<std::string, kChannelRows> names;    // names[n - 1] is channel n's file name
    std::array<std::string, kChannelRows> paths;    // paths[n]: wavdir + name
    std::array<int, kChannelRows> active{};         // index = channel number
    std::array<int, kChannelRows> headerOk{};
    std::array<int64_t, kChannelRows> offset{};     // track offset in song frames
    std::array<WavInfo, kChannelRows> info{};
    std::array<TrackProblem, kChannelRows> problem{};
    std::array<std::string, kChannelRows> marker;   // the marker field as read ("+", "++", ...)
    std::array<std::string, kChannelRows> notHeard; // why a channel will not be heard; empty when it plays
    double sampleRate = 44100.0;
    int64_t songLength = 0;
};

struct ControlFile;
struct Prefs;

// Counts the channels of the list and prints the count message.
void CountTracks(const ControlFile& trackFile, const Prefs& prefs, Tracks& tracks);

// Decodes names, paths and active flags, then reads every active header.
void DecodeTrackList(const ControlFile& trackFile, const Prefs& prefs, Tracks& tracks);

// The common sample rate. Returns 0, or 1 after the mismatch messages.
int CheckSampleRates(Tracks& tracks);

// Applies tstamp then sstamp lines of the cue-sheet body and computes the song length.
void PlaceTracks(const char* cueBody, Tracks& tracks);
