#include "corvale/cuesheet/routing.h"

#include "corvale/run/console.h"
#include "corvale/run/numeric.h"
#include "corvale/run/text.h"

namespace {

constexpr size_t kListMax = 511;   // characters kept of a submix or VCA list

// Calls onItem(number) for every comma-separated item of list (empty items skipped).
template <class F>
void ForEachItem(const std::string& list, F&& onItem)
{
    Tokens items(list);
    for (const char* item = items.Next(","); item != nullptr; item = items.Next(","))
        onItem(AtoL(item));
}

}  // namespace

void RouteChannel(const std::string& list, int submix, Routing& routing)
{
    ForEachItem(list, [&](long channel) {
        if (channel < 1 || channel > kMaxChannels) {
            std::fprintf(g_console, "Channel assigned to sub %i is out of range!\n", submix);
            return;
        }
        routing.route[static_cast<size_t>(channel)][static_cast<size_t>(submix)] = 1;
    });
}

void RouteVCA(const std::string& list, int vca, Routing& routing)
{
    ForEachItem(list, [&](long slot) {
        if (slot < 0 || slot >= kSlots) {
            std::fprintf(g_console, "Channel assigned to VCA %i is out of range!\n", vca);
            return;
        }
        routing.vcaAssign[static_cast<size_t>(slot)] = vca;
    });
}

void CheckFeederMutes(const Routing& routing, int* activeFlags, int channelCount)
{
    if (channelCount > kMaxChannels) channelCount = kMaxChannels;
    for (int ch = 1; ch <= channelCount; ++ch) {
        bool feeds = false;
        for (int s = 0; s < kSubmixes; ++s)
            if (routing.subOn[s] && routing.route[ch][s]) feeds = true;
        if (!feeds) activeFlags[ch] = 0;
    }
}

void ReadRouting(const char* body, int channelCount, int* activeFlags, Routing& routing)
{
    ScanKeyword(body, "sub", [&](Tokens& tokens) {
        const long n = AtoL(tokens.Next("\t"));
        if (n < 0 || n >= kSubmixes) {
            std::fprintf(g_console, "Submix number out of range!\n");
            return true;
        }
        const char* list = tokens.Next("\n");
        const std::string text = list ? list : "";
        if (text.size() > kListMax) {
            std::fprintf(g_console,
                         "Channel list of submix %li is longer than 511 characters; line ignored.\n", n);
            return true;
        }
        routing.subOn[n] = 1;
        routing.subList[n] = text;
        return true;
    });
    for (int n = 0; n < kSubmixes; ++n)
        if (routing.subOn[n]) RouteChannel(routing.subList[n], n, routing);

    // Every row that feeds no user submix goes to the direct bus.
    for (int row = 0; row < kChannelRows; ++row) {
        bool user = false;
        for (int s = 1; s < kSubmixes; ++s)
            if (routing.route[row][s]) user = true;
        if (!user) routing.route[row][0] = 1;
    }
    routing.subOn[0] = 1;

    ScanKeyword(body, "submu", [&](Tokens& tokens) {
        const long n = AtoL(tokens.Next("\n"));
        if (n >= 1 && n < kSubmixes) routing.subOn[n] = 0;
        return true;
    });

    bool anySolo = false;
    ScanKeyword(body, "subso", [&](Tokens& tokens) {
        const long n = AtoL(tokens.Next("\n"));
        if (n >= 1 && n < kSubmixes) {
            routing.solo[n] = 1;
            anySolo = true;
        }
        return true;
    });
    if (anySolo) {
        // Submix 0 has no solo flag: any solo silences the direct bus.
        for (int s = 0; s < kSubmixes; ++s)
            if (!routing.solo[s]) routing.subOn[s] = 0;
    }

    CheckFeederMutes(routing, activeFlags, channelCount);
}

void ReadVcaAssignment(const char* body, Routing& routing)
{
    ScanKeyword(body, "VCA:", [&](Tokens& tokens) {
        const long n = AtoL(tokens.Next("\t"));
        if (n < 1 || n >= kVcas) {
            std::fprintf(g_console, "VCA fader out of range!\n");
            return true;
        }
        const char* list = tokens.Next("\n");
        const std::string text = list ? list : "";
        if (text.size() > kListMax) {
            std::fprintf(g_console,
                         "Slot list of VCA %li is longer than 511 characters; line ignored.\n", n);
            return true;
        }
        routing.vcaInUse[n] = 1;
        routing.vcaList[n] = text;
        return true;
    });
    // Ascending order: a slot under two VCAs follows the higher one.
    for (int v = 1; v < kVcas; ++v)
        if (routing.vcaInUse[v]) RouteVCA(routing.vcaList[v], v, routing);
}
