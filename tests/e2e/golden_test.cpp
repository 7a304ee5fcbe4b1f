// Reference-output test: renders a fixed set of sessions with the built mixer
// and compares the SHA-256 of every file it produces with recorded values. The
// recorded hashes are the mixer's behaviour as it stood before the speed work;
// any change to one output bit (mix, tap file, statistics, fader backup) fails.
//
// The sessions are written here from integer-only signal recipes, so the input
// bytes are the same on every machine; dither is 0 everywhere because its seed
// comes from the clock.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- SHA-256 (FIPS 180-4), just enough for whole files in memory ----

std::string Sha256(const std::string& data)
{
    static constexpr uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };

    std::string msg = data;
    const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    msg.push_back(static_cast<char>(0x80));
    while (msg.size() % 64 != 56) msg.push_back('\0');
    for (int i = 7; i >= 0; --i) msg.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));

    for (size_t chunk = 0; chunk < msg.size(); chunk += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(msg.data() + chunk + 4 * i);
            w[i] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        }
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
            const uint32_t ch = (e & f) ^ (~e & g);
            const uint32_t t1 = hh + s1 + ch + k[i] + w[i];
            const uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
            const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t t2 = s0 + maj;
            hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
    }
    char hex[65];
    for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return std::string(hex, 64);
}

TEST(Sha256, MatchesThePublishedTestVectors)
{
    EXPECT_EQ(Sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks of padding: 56 bytes leave no room for the length in the first.
    EXPECT_EQ(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// ---- Deterministic test tracks ----

constexpr int kRate = 48000;
constexpr int kFrames = 300000;  // three blocks: two full and one short

// One sample at 24-bit scale for a recipe, a frame and a side; integer only.
int32_t Signal(int recipe, int64_t i, int side)
{
    // A reproducible noise value in -2^22 .. 2^22 from the frame index.
    auto noise = [](uint64_t x) {
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return static_cast<int32_t>(static_cast<int64_t>(x >> 41) - (int64_t{1} << 22));
    };
    auto triangle = [](int64_t i, int64_t period, int32_t amp) {
        const int64_t ph = i % period;
        const int64_t up = ph < period / 2 ? ph : period - ph;  // 0 .. period/2
        return static_cast<int32_t>(up * 4 * amp / period - amp);
    };
    // Steps of loudness every 20000 frames: silent, half, full.
    const int32_t step = static_cast<int32_t>((i / 20000) % 3);
    switch (recipe) {
    case 0:  // low triangle with a loudness staircase
        return triangle(i, 220 + side * 3, 2500000) * step / 2;
    case 1:  // sawtooth plus soft noise
        return static_cast<int32_t>((i * 37 + side * 5000) % 60000) * 40 - 1200000 +
               noise(static_cast<uint64_t>(i * 2 + side)) / 16;
    case 2:  // square wave, quieter on the right
        return ((i / (150 + side * 40)) % 2 ? 1 : -1) * (side ? 900000 : 1500000);
    case 3:  // loud noise bursts that clip after a gain
        return (i / 7000) % 2 ? noise(static_cast<uint64_t>(i) * 3 + static_cast<uint64_t>(side)) * 2 - 1 : 0;
    default:  // short clicks, for the delay pan and the reverbs
        return i % 9000 < 40 ? triangle(i, 40, 6000000) : 0;
    }
}

void Put(std::string& s, uint64_t v, int bytes)
{
    for (int b = 0; b < bytes; ++b) s.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
}

// A canonical WAV file of kFrames frames (bits 16, 24 or 32 for float).
std::string MakeWav(int recipe, int channels, int bits)
{
    const int bytes = bits / 8;
    const uint64_t data = static_cast<uint64_t>(kFrames) * channels * bytes;
    std::string s = "RIFF";
    Put(s, data + 36, 4);
    s += "WAVEfmt ";
    Put(s, 16, 4);
    Put(s, bits == 32 ? 3 : 1, 2);
    Put(s, static_cast<uint64_t>(channels), 2);
    Put(s, kRate, 4);
    Put(s, static_cast<uint64_t>(kRate) * channels * bytes, 4);
    Put(s, static_cast<uint64_t>(channels * bytes), 2);
    Put(s, static_cast<uint64_t>(bits), 2);
    s += "data";
    Put(s, data, 4);
    for (int64_t i = 0; i < kFrames; ++i) {
        for (int side = 0; side < channels; ++side) {
            const int32_t v = Signal(recipe, i, side);
            if (bits == 16) {
                Put(s, static_cast<uint64_t>(static_cast<int64_t>(v / 256)), 2);
            } else if (bits == 24) {
                Put(s, static_cast<uint64_t>(static_cast<int64_t>(v)), 3);
            } else {
                const float f = static_cast<float>(v) / 8388608.0f;  // exact: |v| < 2^24
                uint32_t w;
                std::memcpy(&w, &f, 4);
                Put(s, w, 4);
            }
        }
    }
    return s;
}

// ---- Sessions ----

struct Session {
    const char* name;
    std::string prefs, faders;
};

const char kTracks[] =
    "1 tri.wav +\n"
    "2 saw.wav +\n"
    "3 square.wav +\n"
    "4 bursts.wav +\n"
    "5 clicks.wav +\n"
    "end\n";

// Common preference lines: quiet console, no dither.
std::string Prefs(const std::string& extra)
{
    return "begin\nverbo\t1\ndither\t0\n" + extra + "end\n";
}

std::vector<Session> Sessions()
{
    std::vector<Session> s;
    // Every strip effect on channels, a submix and the master; both reverbs fed by sends.
    s.push_back({"effects", Prefs("oname\tfx\ntap\trtn\n"),
                 "begin\nfx_mix\n"
                 "sub\t1\t2,3\n"
                 "t\t0\t0\t0\n"
                 "v\t1\t0\nv\t2\t-2\nv\t3\t-4\nv\t4\t-6\nv\t5\t0\nv\tG\t1\t-1\nv\tM\t0\n"
                 "hp\t1\t80\nband1\t1\t500\t4\t1.5\nband2\t1\t2500\t-3\t0.7\n"
                 "band3\t2\t200\t6\t2\nband4\t2\t6000\t-6\t4\nhshelf\t3\t5000\t5\t0.7\n"
                 "lshelf\t3\t150\t-4\t0.7\nrms\t1\t-24\t5\t100\t3\ncomp\t2\t-18\t1\t80\t4\n"
                 "nlc\t3\t-20\t64\t2\nlim\t4\t-3\nfxg\t4\t6\nfxg\t1\t-1.5\n"
                 "o\thp\t1\t3\no\tband1\t1\t1\no\trms\t1\t2\n"
                 "comp\tG\t1\t-12\t3\t150\t2\nband1\tG\t1\t1000\t3\t1\n"
                 "rms\tM\t-10\t20\t300\t2\nlim\tM\t-0.5\nhshelf\tM\t8000\t2\t0.7\n"
                 "rev\t1\t-12\nrev\tG\t1\t-10\nrev\t5\t-3\ntrev\t4\t-15\ntrev\t5\t-6\n"
                 "rtn\t-4\t60\ntrtn\t-6\t40\t5\npos\t30\t60\t50\nwidth\t70\n"
                 "rhp\t150\nrlp\t7000\n"
                 "end\n"});
    // Both reverbs inserted on the master; mono 16-bit output; the send tap.
    s.push_back({"inserts", Prefs("oname\tins\nmono\t-3\noutbits\t16\ntap\trev\n"),
                 "begin\nins_mix\n"
                 "t\t0\t0\t0\nv\t1\t-3\nv\t2\t-3\nv\t3\t-6\nv\t4\t-12\nv\t5\t0\n"
                 "band2\tM\t300\t3\t1\nrev\tM\t-6\ntrev\tM\t-9\nlim\tM\t-1\n"
                 "rtn\t-3\t90\ntrtn\t-8\t50\t3\nrlp\t9000\n"
                 "end\n"});
    // Automation: ramps and shapes, a VCA, submix and master faders, polarity,
    // pan, delay pan, trims; 16-bit stereo output.
    s.push_back({"automation", Prefs("oname\tauto\noutbits\t16\npan\t-4.5\n"),
                 "begin\nauto_mix\n"
                 "sub\t2\t1,4\nVCA:\t1\t2,3\nVCA:\t2\t129\n"
                 "t\t0\t0\t0\n"
                 "v\t1\t-6\nv\t2\t0\nv\t3\t-3\nv\t4\t-20\nv\t5\t-2\nv\tG\t2\t0\nv\tM\t-1\n"
                 "vca\t1\t0\nvca\t2\t0\n"
                 "p\t1\t-40\np\t2\t70\np\t3\t-100\np\tG\t2\t25\npol\t3\t-1\npol\tG\t2\t-1\n"
                 "dp\t5\t-60\ntrim\t2\t2.5\nmtrim\t-1\nscale\t0.9\n"
                 "t\t0\t1\t250\n"
                 "v\t1\t3\nrmp\t1.2\nshape\t3\n"
                 "vca\t1\t-12\nrmp\t2\nshape\t0.5\n"
                 "v\tG\t2\t-6\nrmp\t0.5\n"
                 "inc\t1.5\n"
                 "v\t4\t-4\nrmp\t0.8\nofs\t0.3\n"
                 "v\tM\t-4\nrmp\t1\nshape\t2\n"
                 "vca\t2\t-3\nrmp\t0.4\n"
                 "t\t0\t5\t0\n"
                 "v\t3\t-40\nrmp\t0.6\n"
                 "end\n"});
    // Unity gains everywhere (linear pan law): the integer samples pass the fader
    // as whole multiples of 256; one track starts inside a block, one channel
    // feeds a submix and a send.
    s.push_back({"unity", Prefs("oname\tuni\npan\t0\n"),
                 "begin\nuni_mix\nsstamp\t4\t1000\nsub\t1\t5\n"
                 "t\t0\t0\t0\nv\t1\t0\nv\t2\t0\nv\t3\t0\nv\t4\t0\nv\t5\t0\nv\tG\t1\t-2\n"
                 "rev\t5\t-6\nrtn\t-3\t50\n"
                 "end\n"});
    // Level entries that repeat the current level inside a block, then a real
    // move inside a later block; a channel with an effect and an effects gain
    // feeding one bus; a channel with inverted polarity.
    s.push_back({"repeats", Prefs("oname\trep\npan\t0\n"),
                 "begin\nrep_mix\n"
                 "t\t0\t0\t0\nv\t1\t0\nv\t2\t-1\nv\t3\t0\nv\t4\t-6\nv\t5\t0\npol\t3\t-1\n"
                 "t\t0\t1\t0\nv\t1\t0\nv\t4\t-6\n"
                 "t\t0\t2\t0\nv\t1\t0\nrmp\t0.5\n"
                 "t\t0\t3\t500\nv\t1\t-6\nrmp\t0.2\n"
                 "t\t0\t4\t0\nv\t4\t-6\n"
                 "band2\t2\t700\t-4\t1\nfxg\t2\t3\n"
                 "end\n"});
    // High-pass filters directly followed by a band or shelf, on channels and the
    // master, with the default order and with order lines.
    s.push_back({"chain", Prefs("oname\tchain\n"),
                 "begin\nchain_mix\n"
                 "t\t0\t0\t0\nv\t1\t-2\nv\t2\t-2\nv\t3\t-2\nv\t4\t-8\nv\t5\t0\n"
                 "hp\t1\t120\nband3\t1\t900\t6\t0.8\n"
                 "hp\t3\t60\nhshelf\t3\t4000\t-5\t0.7\nband1\t3\t300\t2\t2\n"
                 "o\thp\t3\t5\no\thshelf\t3\t5\no\tband1\t3\t7\n"
                 "hp\t4\t200\nrms\t4\t-20\t5\t80\t2\n"
                 "hp\tM\t30\nlshelf\tM\t100\t3\t0.7\n"
                 "end\n"});
    // Render windows: preview, export in and out, head and tail. The tracks start
    // at different song frames.
    const std::string placed =
        "begin\nwin_mix\ntstamp\t2\t0\t0\t700\nsstamp\t5\t150001\n"
        "t\t0\t0\t0\nv\t1\t-3\nv\t2\t-3\nv\t3\t-3\nv\t4\t-9\nv\t5\t0\n"
        "t\t0\t2\t0\nv\t1\t-12\nrmp\t1\n"
        "band1\t2\t900\t5\t2\nrms\t3\t-20\t10\t100\t2\n"
        "end\n";
    s.push_back({"preview", Prefs("oname\twin\npre\ton\nsfields\t2\nstart\t0\t1.4\nlength\t2.5\n"), placed});
    s.push_back({"export", Prefs("oname\texp\nxfields\t1\nxin\t1.1\nxout\t4.9\n"), placed});
    s.push_back({"headtail", Prefs("oname\tht\nhead\t0.75\ntail\t1.3\nmono\t-6\n"), placed});
    return s;
}

// The hashes recorded for every file a session produces (name -> SHA-256). The
// statistics file is hashed without its processing-time line.
const std::map<std::string, std::map<std::string, std::string>> kGolden = {
    {"effects", {
        {"faders_fx.txt", "1bc9d235372c36342eb990c50db4b0457f680d4fcd456dbe337707f47f521f25"},
        {"fx.wav", "c79ae12c1e2cd64fbb4db04edd85e9c6c87d76a79a615686cfe53dd0c8b7247d"},
        {"rtnTap.wav", "b0bd899254dd707c7c27b6b5bce69e70018ac151e280ddc559e11b7126f2dc73"},
        {"stats_fx.txt", "dde970a03bd252f3354abcf6be04129e9a70b94df1b696da15ccf87bb69b8d00"},
    }},
    {"inserts", {
        {"faders_ins.txt", "168696ebb9f6c573afa31a7e04b6f300e3d686a1963f67fb32b44c41417f5577"},
        {"ins.wav", "c8ce32e0b7cee2b3142708d6d016e7d064fbaa1d892d84fb38e034af64baee3d"},
        {"revTap.wav", "01bddafa6bcddd4c4210d4973cf3ac52cf71d681d33c90e59a6def98a8461648"},
        {"stats_ins.txt", "61be6a5557b71ab40b5a9833270685289f253ba751ee10e6d1f30a6f3463f4ae"},
    }},
    {"automation", {
        {"auto.wav", "bec69eb061eae77bc6386b98a3d1f9d65ebec87dc5551e7bfcd95e25fac7c173"},
        {"faders_auto.txt", "fb2b9745d07468e6dd9e08dedb26e30094a97b1e70176fbfcb1b235b3cd66cd5"},
        {"stats_auto.txt", "2a46a4d31c5e9934a6f85da72cb293624a869741ee91d42e9aa1dd225efc1000"},
    }},
    {"unity", {
        {"faders_uni.txt", "8178edc05a017245b2c21c68bfd1c410cf600c35ce4bb72a5ca35062f2ad6289"},
        {"stats_uni.txt", "ce03da521a3c8a22006fe41e6bd4abafa0ce079163cfafeea9d811650129724e"},
        {"uni.wav", "84a7e115a71996ea316711688b1f1a13656e1bf4d193ff509b5098c69514262d"},
    }},
    {"repeats", {
        {"faders_rep.txt", "cfcb112bdcdcbd7ae60ebb8c62aa71ee0d7ab8c3dee2c66b35d3d770a650b385"},
        {"rep.wav", "ddd64bc99f52ee355c9a8f840aa6be2a9223c541015a4def7da4f66e91182dd3"},
        {"stats_rep.txt", "aa6c18168612c7ebb1208915aeb777900ec24730e81dccfbbeaa0272a1de82c3"},
    }},
    {"chain", {
        {"chain.wav", "86087190395621a72a64432bc9fc38ccd351471b489589423cf18dd0f31a9abf"},
        {"faders_chain.txt", "fbb2faceea368479d354545d83c004ebe098c7a6c216eec7a45a9da30f5aae5e"},
        {"stats_chain.txt", "ecaaccb8eb5c934f4cd86188397b3e14af0280dd450244374e674b29064e1958"},
    }},
    {"preview", {
        {"faders_win.txt", "6fcb5c14cfb955a7e8836fcde3a3f2b181c2ee476d1f1ac6bd27635dd77e5709"},
        {"preview.wav", "1dd420d0ba70a593bc209bc691283f1b8b88727886b017fecc71fa1845738bd6"},
        {"stats_win.txt", "f1a1fd11968496011687903b9618f42adcfb59bcc4b828bd04cb8192dfb34124"},
    }},
    {"export", {
        {"exp.wav", "3486fe5d05aaa4dbef80359820e505085d2acea566c013ef78f6385128680691"},
        {"faders_exp.txt", "6fcb5c14cfb955a7e8836fcde3a3f2b181c2ee476d1f1ac6bd27635dd77e5709"},
        {"stats_exp.txt", "961cc0e84e59908f17df5e530209cbbcae23fe1642cbd1cf53f1054f33b37df6"},
    }},
    {"headtail", {
        {"faders_ht.txt", "6fcb5c14cfb955a7e8836fcde3a3f2b181c2ee476d1f1ac6bd27635dd77e5709"},
        {"ht.wav", "48499ab64efd775b517f4a9b25ad762b9df8a773999b5ac54a9e04c90450a737"},
        {"stats_ht.txt", "2378b14f0fe19f2ecdc3bffa1d939f76e482d125208bb1f1cc22bf92e8bf2df1"},
    }},
};

// The hashes of each file's blocks, recorded from the same build as kGolden (see
// Pieces below for how a file is cut): session -> file -> block hashes in order.
const std::map<std::string, std::map<std::string, std::vector<std::string>>> kGoldenBlocks = {
    {"effects", {
        {"faders_fx.txt", {"1bc9d235372c3634"}},
        {"fx.wav", {"62d1dd571235eccf", "b32805b08f66d5a2", "3f92cbba7cd77613", "d0165a81ad925218"}},
        {"rtnTap.wav", {"62d1dd571235eccf", "3f199827c6e1e0e0", "a54b71557adf91a2", "b9e7076113eb43d9"}},
        {"stats_fx.txt", {"dde970a03bd252f3"}},
    }},
    {"inserts", {
        {"faders_ins.txt", {"168696ebb9f6c573"}},
        {"ins.wav", {"be0edb0b2a2e89bc", "dcd72e9e30272b84", "6fdfba1069ec843d", "cbad69822ee61c6f"}},
        {"revTap.wav", {"62d1dd571235eccf", "7782f50ed211ad29", "3d5848c3caefa9db", "efc5e1f8141dcf83"}},
        {"stats_ins.txt", {"61be6a5557b71ab4"}},
    }},
    {"automation", {
        {"auto.wav", {"9c9cfebb8fa76702", "a1666d2970c356ee", "25ac8ea4c988c1c2", "2a3f1ca94174bd8e"}},
        {"faders_auto.txt", {"fb2b9745d07468e6"}},
        {"stats_auto.txt", {"2a46a4d31c5e9934"}},
    }},
    {"unity", {
        {"faders_uni.txt", {"8178edc05a017245"}},
        {"stats_uni.txt", {"ce03da521a3c8a22"}},
        {"uni.wav", {"6f01316a6aa26489", "24a31cb4787a5e37", "0aed767564f8f4f4", "8a5538795762eb55"}},
    }},
    {"repeats", {
        {"faders_rep.txt", {"cfcb112bdcdcbd7a"}},
        {"rep.wav", {"62d1dd571235eccf", "92692e5ebc02f16a", "14c67b6d5ed011ab", "20d9298fda6776f7"}},
        {"stats_rep.txt", {"aa6c18168612c7eb"}},
    }},
    {"chain", {
        {"chain.wav", {"62d1dd571235eccf", "6452c59430fe1304", "73bce640877b3374", "0a7adcedcfe2a166"}},
        {"faders_chain.txt", {"fbb2faceea368479"}},
        {"stats_chain.txt", {"ecaaccb8eb5c934f"}},
    }},
    {"preview", {
        {"faders_win.txt", {"6fcb5c14cfb955a7"}},
        {"preview.wav", {"22dd8b8aac7d9e8b", "8c0ab3163e1d4e7a"}},
        {"stats_win.txt", {"f1a1fd1196849601"}},
    }},
    {"export", {
        {"exp.wav", {"28260f5ad301afc9", "58463ffcca7f2784", "884a7f9be36257af"}},
        {"faders_exp.txt", {"6fcb5c14cfb955a7"}},
        {"stats_exp.txt", {"961cc0e84e59908f"}},
    }},
    {"headtail", {
        {"faders_ht.txt", {"6fcb5c14cfb955a7"}},
        {"ht.wav", {"67c5c7e7c44a8058", "e0c8a945a3ac782f", "9fd50c6c5b71c7be", "dac799f1093ea92b"}},
        {"stats_ht.txt", {"2378b14f0fe19f2e"}},
    }},
};

// ---- Where two outputs part ----
//
// Beside each whole-file hash, the hashes of the file's blocks (the first 16 hex
// digits of each block's SHA-256), recorded from the same build as kGolden. A
// WAV file is cut into its header (everything before the sample data), blocks
// of the mixer's 131072 frames, and whatever follows the data, if anything; a
// text file into 64 KiB pieces. They only say where a changed file first
// differs: the whole-file hashes decide whether the test passes.

using RecordedBlocks = std::map<std::string, std::vector<std::string>>;  // file -> block hashes

constexpr uint64_t kBlockFrames = 131072;
constexpr size_t kTextPiece = 65536;

bool IsWav(const std::string& name) { return name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0; }

uint32_t Le32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

// The byte ranges a file is cut into, with a name for each.
struct Piece {
    size_t begin, end;
    std::string label;
};

std::vector<Piece> Pieces(const std::string& name, const std::string& bytes)
{
    std::vector<Piece> out;
    size_t dataAt = 0, dataEnd = 0, frameBytes = 0;
    if (IsWav(name) && bytes.size() >= 12) {
        for (size_t at = 12; at + 8 <= bytes.size();) {  // walk the RIFF chunks
            const size_t size = Le32(bytes, at + 4);
            if (bytes.compare(at, 4, "fmt ") == 0 && at + 22 <= bytes.size())
                frameBytes = static_cast<unsigned char>(bytes[at + 20]) |
                             static_cast<size_t>(static_cast<unsigned char>(bytes[at + 21])) << 8;
            if (bytes.compare(at, 4, "data") == 0) {
                dataAt = at + 8;
                dataEnd = std::min(bytes.size(), dataAt + size);
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    if (dataAt == 0 || frameBytes == 0) {  // text, or a WAV file without the chunks it needs
        for (size_t at = 0; at < bytes.size(); at += kTextPiece)
            out.push_back({at, std::min(bytes.size(), at + kTextPiece),
                           "bytes " + std::to_string(at) + ".." + std::to_string(std::min(bytes.size(), at + kTextPiece) - 1)});
        return out;
    }
    out.push_back({0, dataAt, "header"});
    const size_t step = kBlockFrames * frameBytes;
    for (size_t at = dataAt, block = 0; at < dataEnd; at += step, ++block) {
        const size_t end = std::min(dataEnd, at + step);
        out.push_back({at, end, "block " + std::to_string(block) + " (frames " +
                                    std::to_string((at - dataAt) / frameBytes) + ".." +
                                    std::to_string((end - dataAt) / frameBytes - 1) + ")"});
    }
    if (dataEnd < bytes.size()) out.push_back({dataEnd, bytes.size(), "after the sample data"});
    return out;
}

// One piece of an output file as rendered: what it is and its hash.
struct Block {
    std::string label, hash;
};
using FileBlocks = std::map<std::string, std::vector<Block>>;  // file -> its pieces in order

std::vector<Block> BlockHashes(const std::string& name, const std::string& bytes)
{
    std::vector<Block> out;
    for (const Piece& p : Pieces(name, bytes))
        out.push_back({p.label, Sha256(bytes.substr(p.begin, p.end - p.begin)).substr(0, 16)});
    return out;
}

// The first piece of a rendered file whose hash is not the recorded one.
std::string FirstDifference(const std::vector<Block>& rendered, const std::vector<std::string>& recorded)
{
    for (size_t i = 0; i < rendered.size(); ++i) {
        if (i >= recorded.size()) return rendered[i].label + ", which the recorded file does not have";
        if (rendered[i].hash != recorded[i]) return rendered[i].label;
    }
    if (rendered.size() < recorded.size()) return "its end: the file is shorter than the recorded one";
    return "no block (the block hashes match; the recorded ones are stale)";
}

class Golden : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvale_golden_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        Write("tracks.txt", kTracks);
        Write("tri.wav", MakeWav(0, 1, 24));
        Write("saw.wav", MakeWav(1, 2, 16));
        Write("square.wav", MakeWav(2, 2, 32));
        Write("bursts.wav", MakeWav(3, 2, 24));
        Write("clicks.wav", MakeWav(4, 1, 24));
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void Write(const std::string& name, const std::string& text) const
    {
        std::FILE* f = std::fopen((dir_ / name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

    static std::string Read(const std::filesystem::path& path)
    {
        std::string out;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return out;
        std::vector<char> buf(1 << 16);
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
        std::fclose(f);
        return out;
    }

    // Runs one session in the shared directory and returns the hash of every file
    // that was not there before, its block hashes in `blocks`; the new files are
    // removed afterwards.
    std::map<std::string, std::string> Render(const Session& s, FileBlocks& blocks)
    {
        Write("prefs.txt", s.prefs);
        Write("faders.txt", s.faders);
        std::set<std::string> before;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) before.insert(e.path().filename());
        const std::string cmd = "cd '" + dir_.string() + "' && '" CORVALE_BIN "' > console.out 2>&1";
        const int rc = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0)
            << s.name << " did not end with status 0:\n" << Read(dir_ / "console.out");
        std::filesystem::remove(dir_ / "console.out");

        std::map<std::string, std::string> hashes;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            const std::string name = e.path().filename();
            if (before.count(name)) continue;
            if (name.rfind("stats_", 0) == 0 && name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) {
                // The JSON report is checked elsewhere; its seed follows the clock.
                std::filesystem::remove(e.path());
                continue;
            }
            std::string bytes = Read(e.path());
            if (name.rfind("stats_", 0) == 0) {
                const size_t at = bytes.find("Processing time = ");
                EXPECT_NE(at, std::string::npos) << name;
                if (at != std::string::npos) bytes.erase(at, bytes.find('\n', at) + 1 - at);
            }
            hashes[name] = Sha256(bytes);
            blocks[name] = BlockHashes(name, bytes);
            std::filesystem::remove(e.path());
        }
        return hashes;
    }

    std::filesystem::path dir_;
};

// Names every changed, missing or extra file of a session, and for a changed
// file the first block that differs. Returns false when any file differs.
bool Compare(const Session& s, const std::map<std::string, std::string>& hashes, const FileBlocks& blocks)
{
    const std::map<std::string, std::string> none;
    const RecordedBlocks noBlocks;
    const auto golden = kGolden.find(s.name);
    const auto& want = golden == kGolden.end() ? none : golden->second;
    const auto recorded = kGoldenBlocks.find(s.name);
    const auto& wantBlocks = recorded == kGoldenBlocks.end() ? noBlocks : recorded->second;
    bool same = true;
    for (const auto& [file, hash] : want) {
        const auto got = hashes.find(file);
        if (got == hashes.end()) {
            ADD_FAILURE() << "session " << s.name << ": " << file << " was not written";
            same = false;
        } else if (got->second != hash) {
            const auto wb = wantBlocks.find(file);
            ADD_FAILURE() << "session " << s.name << ": " << file << " differs from the recorded output; first in "
                          << (wb == wantBlocks.end() ? std::string("an unknown block (no block hashes recorded)")
                                                     : FirstDifference(blocks.at(file), wb->second));
            same = false;
        }
    }
    for (const auto& [file, hash] : hashes) {
        if (want.count(file) == 0) {
            ADD_FAILURE() << "session " << s.name << ": " << file << " is not among the recorded outputs";
            same = false;
        }
    }
    return same;
}

TEST_F(Golden, EverySessionReproducesTheRecordedFilesBitForBit)
{
    std::string record, blockRecord;  // printed on failure, in the layout of kGolden and kGoldenBlocks
    bool same = true;
    for (const Session& s : Sessions()) {
        FileBlocks blocks;
        const auto hashes = Render(s, blocks);
        record += "    {\"" + std::string(s.name) + "\", {\n";
        for (const auto& [file, hash] : hashes) record += "        {\"" + file + "\", \"" + hash + "\"},\n";
        record += "    }},\n";
        blockRecord += "    {\"" + std::string(s.name) + "\", {\n";
        for (const auto& [file, list] : blocks) {
            blockRecord += "        {\"" + file + "\", {";
            for (size_t i = 0; i < list.size(); ++i) blockRecord += (i ? ", \"" : "\"") + list[i].hash + "\"";
            blockRecord += "}},\n";
        }
        blockRecord += "    }},\n";
        if (!Compare(s, hashes, blocks)) {
            same = false;
        } else {
            // The block hashes were recorded from the same output as the whole-file
            // hashes; if a file matches, so must its blocks, or they cannot be trusted.
            for (const auto& [file, list] : blocks) {
                std::vector<std::string> got;
                for (const Block& b : list) got.push_back(b.hash);
                const auto rs = kGoldenBlocks.find(s.name);
                const bool recorded = rs != kGoldenBlocks.end() && rs->second.count(file) != 0;
                EXPECT_TRUE(recorded && rs->second.at(file) == got)
                    << "session " << s.name << ": the block hashes recorded for " << file
                    << " do not belong to the recorded file";
                if (!(recorded && rs->second.at(file) == got)) same = false;
            }
        }
        // Every session writes at least a mix, its statistics and the fader backup.
        EXPECT_GE(hashes.size(), 3u) << s.name;
    }
    if (!same) ADD_FAILURE() << "output of this build:\n" << record << "block hashes:\n" << blockRecord;
}

TEST(GoldenBlocks, AWavFileIsCutIntoItsHeaderAndBlocksOfFrames)
{
    // 16-bit stereo: 4 bytes a frame; a 44-byte header, then 131072 + 3 frames.
    std::string wav = "RIFF";
    Put(wav, 36 + (kBlockFrames + 3) * 4, 4);
    wav += "WAVEfmt ";
    Put(wav, 16, 4);
    Put(wav, 1, 2);
    Put(wav, 2, 2);
    Put(wav, kRate, 4);
    Put(wav, kRate * 4, 4);
    Put(wav, 4, 2);
    Put(wav, 16, 2);
    wav += "data";
    Put(wav, (kBlockFrames + 3) * 4, 4);
    wav.append((kBlockFrames + 3) * 4, '\0');
    const std::vector<Block> clean = BlockHashes("a.wav", wav);
    ASSERT_EQ(clean.size(), 3u);
    EXPECT_EQ(clean[0].label, "header");
    EXPECT_EQ(clean[1].label, "block 0 (frames 0..131071)");
    EXPECT_EQ(clean[2].label, "block 1 (frames 131072..131074)");

    std::vector<std::string> recorded;
    for (const Block& b : clean) recorded.push_back(b.hash);
    wav[44 + kBlockFrames * 4 + 5] = 1;  // a sample of the second block's second frame
    EXPECT_EQ(FirstDifference(BlockHashes("a.wav", wav), recorded), "block 1 (frames 131072..131074)");
    wav[44 + 7] = 1;  // and one in the first block
    EXPECT_EQ(FirstDifference(BlockHashes("a.wav", wav), recorded), "block 0 (frames 0..131071)");
    wav.resize(44 + kBlockFrames * 4);  // a file cut short after its first block
    EXPECT_EQ(FirstDifference(BlockHashes("a.wav", wav), {recorded[0], recorded[1]}), "block 0 (frames 0..131071)");
}

TEST(GoldenBlocks, ATextFileIsCutInto64KiBPieces)
{
    std::string text(kTextPiece + 10, 'x');
    const std::vector<Block> clean = BlockHashes("stats.txt", text);
    ASSERT_EQ(clean.size(), 2u);
    std::vector<std::string> recorded{clean[0].hash, clean[1].hash};
    text[kTextPiece + 2] = 'y';
    EXPECT_EQ(FirstDifference(BlockHashes("stats.txt", text), recorded), "bytes 65536..65545");
    text.push_back('z');  // longer, same first piece
    text[kTextPiece + 2] = 'x';
    EXPECT_EQ(FirstDifference(BlockHashes("stats.txt", text), recorded), "bytes 65536..65546");
    EXPECT_EQ(FirstDifference(BlockHashes("stats.txt", std::string(kTextPiece, 'x')), recorded),
              "its end: the file is shorter than the recorded one");
}

}  // namespace
