// Buffers and console capture shared by the reverb tests.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/console_capture.h"

namespace reverb_test {

constexpr int64_t kCap = 131072;

using Console = ::ConsoleCapture;

// Send, return and carry buffers of one block, as the bus stage holds them.
struct Buffers {
    std::vector<double> sendL = std::vector<double>(kCap, 0.0), sendR = std::vector<double>(kCap, 0.0);
    std::vector<int64_t> carryL = std::vector<int64_t>(kCap, 0), carryR = std::vector<int64_t>(kCap, 0);
    std::vector<int64_t> retL = std::vector<int64_t>(kCap, 0), retR = std::vector<int64_t>(kCap, 0);

    // Start of a block: the carry becomes the return, the sends are refilled from
    // `inL`/`inR` at frame `from`.
    void NextBlock(const std::vector<double>& inL, const std::vector<double>& inR, int64_t from, int64_t n)
    {
        retL = carryL;
        retR = carryR;
        std::fill(carryL.begin(), carryL.end(), 0);
        std::fill(carryR.begin(), carryR.end(), 0);
        std::copy(inL.begin() + from, inL.begin() + from + n, sendL.begin());
        std::copy(inR.begin() + from, inR.begin() + from + n, sendR.begin());
    }
    bool Silent() const
    {
        auto zero = [](int64_t v) { return v == 0; };
        return std::all_of(retL.begin(), retL.end(), zero) && std::all_of(retR.begin(), retR.end(), zero) &&
               std::all_of(carryL.begin(), carryL.end(), zero) && std::all_of(carryR.begin(), carryR.end(), zero);
    }
};

}  // namespace reverb_test
