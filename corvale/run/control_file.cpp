#include "corvale/run/control_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "corvale/run/console.h"
#include "corvale/run/limits.h"
#include "corvale/run/output_file.h"
#include "corvale/run/text.h"

const char kDefaultPrefsText[] = "begin\npre\toff\nstart\t0\t0\t0\nlength\t0\noutbits\t24\n\nend\n";

size_t FindBody(const std::string& text)
{
    const size_t begin = text.find("begin");
    if (begin == std::string::npos) return 0;
    const size_t lf = text.find('\n', begin);
    return lf == std::string::npos ? text.size() : lf;
}

namespace {
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
}  // namespace

void NormaliseLineEnds(std::string& text)
{
    if (text.compare(0, 3, kUtf8Bom) == 0) text.erase(0, 3);
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        text[out++] = text[i];
    }
    text.resize(out);
}

bool LoadControlStream(std::FILE* f, ControlFile& file, const char* name)
{
    file.text.clear();
    file.bodyStart = 0;
    file.loaded = false;
    file.prefsNotes.Clear();
    if (f == nullptr) return false;
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(f);
    // The size is a signed 32-bit count; anything else (a directory, a huge file)
    // cannot be a control file.
    if (size < 0 || size >= INT32_MAX) return false;
    std::rewind(f);
    std::string buf(static_cast<size_t>(size), '\0');
    const size_t got = size > 0 ? std::fread(buf.data(), 1, buf.size(), f) : 0;
    if (std::ferror(f)) return false;
    buf.resize(got);
    const size_t nul = buf.find('\0');
    if (nul != std::string::npos) buf.resize(nul);
    NormaliseLineEnds(buf);
    file.text = std::move(buf);
    file.bodyStart = FindBody(file.text);
    if (file.bodyStart == file.text.size() && file.text.find("begin") != std::string::npos) {
        std::fprintf(g_console,
                     ">> Warning: \"begin\" in %s is not followed by a line break; the file is taken as empty.\n",
                     name ? name : "a control file");
    }
    file.loaded = true;
    return true;
}

int ControlFile::LinesBeforeBody() const
{
    int before = 0;
    for (size_t k = 0; k < bodyStart && k < text.size(); ++k)
        if (text[k] == '\n') ++before;
    return before;
}

std::vector<LayoutProblem> FindLayoutProblems(const char* body, LineCheck kind)
{
    std::vector<LayoutProblem> found;
    std::string copy(body ? body : "");
    std::vector<char*> lines;
    const int count = pointToLines(copy.data(), lines);
    for (int i = 0; i < count; ++i) {
        const char* line = lines[static_cast<size_t>(i)];
        const size_t len = std::strlen(line);
        switch (kind) {
        case LineCheck::kPreferences:
        case LineCheck::kFader:
            if (std::strstr(line, "\t\t") != nullptr) found.push_back({i, LayoutProblem::kDoubleTab});
            if (len > 0 && line[len - 1] == '\t') found.push_back({i, LayoutProblem::kTrailingTab});
            if (std::strstr(line, "\t ") != nullptr) found.push_back({i, LayoutProblem::kTabSpace});
            break;
        case LineCheck::kTracksSpace:
            if (std::strchr(line, '\t') != nullptr) found.push_back({i, LayoutProblem::kTrackTab});
            break;
        case LineCheck::kTracksTab:
            if (std::strstr(line, "  ") != nullptr) found.push_back({i, LayoutProblem::kTrackDoubleSpace});
            break;
        }
    }
    return found;
}

void CheckLines(const char* body, LineCheck kind)
{
    const char* file = kind == LineCheck::kPreferences ? "preferences" : "fader";
    for (const LayoutProblem& p : FindLayoutProblems(body, kind)) {
        const int number = p.line + 1;
        switch (p.kind) {
        case LayoutProblem::kDoubleTab:
        case LayoutProblem::kTrailingTab:
            std::fprintf(g_console, "\n>>>  Warning: extra tab on line %i of %s file.\n", number, file);
            break;
        case LayoutProblem::kTabSpace:
            std::fprintf(g_console, "\n>>>  Warning: extra space on line %i of %s file.\n", number, file);
            break;
        case LayoutProblem::kTrackTab:
            std::fprintf(g_console, "\n>>>  Warning: Tab found on line %i of tracks file:\n", number);
            break;
        case LayoutProblem::kTrackDoubleSpace:
            std::fprintf(g_console, "\n>>>  Warning: Extra space found on line %i of tracks file.\n", number);
            break;
        }
    }
}

int LoadControlFile(const char* path, ControlFile& file)
{
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return 1;
    file.path = path;
    if (!LoadControlStream(f, file, path)) {
        std::fprintf(g_console, ">> Warning: the file %s could not be read; it is taken as empty.\n", path);
        file.text.clear();
        file.bodyStart = 0;
        file.loaded = true;
    }
    std::fclose(f);
    return 0;
}

namespace {
// Writes a default control file under name in the working directory (through a
// temporary file renamed at once) and takes its text as the file read.
// Returns false after a message when that fails.
bool WriteDefault(const char* name, const std::string& text, ControlFile& file)
{
    if (!WriteWholeFile(ResolveTarget(name), text)) {
        const int err = errno;
        std::fprintf(g_console, "Error: %s could not be created in the working directory.\n", name);
        PrintFileReason(name, err);
        return false;
    }
    file.text = text;
    file.bodyStart = FindBody(file.text);
    file.loaded = true;
    file.path = name;
    return true;
}

// The default text taken in place of a file a dry run did not find.
void StandIn(const char* name, const std::string& text, ControlFile& file)
{
    file.text = text;
    file.bodyStart = FindBody(file.text);
    file.loaded = true;
    file.path.clear();
    file.standsInFor = name;
}

bool PathExists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

// A named control file that cannot be opened is replaced by the default file,
// which is always written under its default name; an existing default file is
// never replaced that way (it would lose the user's settings for a typo).
bool KeepsExistingDefault(const char* path, const char* defaultName)
{
    if (!PathExists(defaultName)) return false;
    if (SameFile(IdentityOf(path), IdentityOf(defaultName)))
        std::fprintf(g_console, "Error: %s exists but cannot be opened; it is kept as it is.\n", path);
    else
        std::fprintf(g_console, "Error: %s was not found; the existing %s is kept.\n", path, defaultName);
    return true;
}
}  // namespace

bool LoadPreferences(const char* path, ControlFile& file, bool dryRun)
{
    if (LoadControlFile(path, file) != 0) {
        if (KeepsExistingDefault(path, "prefs.txt")) return false;
        std::fprintf(g_console, "\nWarning: prefs.txt file was not found...\n");
        if (dryRun) {
            StandIn(path, kDefaultPrefsText, file);
            CheckLines(file.body(), LineCheck::kPreferences);
            return true;
        }
        if (!WriteDefault("prefs.txt", kDefaultPrefsText, file)) return false;
        std::fprintf(g_console, "...created one for you.\n");
    }
    CheckLines(file.body(), LineCheck::kPreferences);
    return true;
}

std::string DefaultFaderText(int channelCount, float level)
{
    std::string text = "begin\ntest_mix\n\nt\t0\t0\t0\n";
    const int lines = channelCount < kMaxChannels ? channelCount : kMaxChannels;
    char line[96];
    for (int ch = 1; ch <= lines; ++ch) {
        std::snprintf(line, sizeof line, "v\t%i\t%.1f\n", ch, static_cast<double>(level));
        text += line;
    }
    text += "end\n";
    return text;
}

int LoadFaderFile(const char* path, int channelCount, ControlFile& file, std::FILE* in, bool dryRun)
{
    if (LoadControlFile(path, file) == 0) return 0;
    if (KeepsExistingDefault(path, "faders.txt")) return 2;
    if (dryRun) {
        std::fprintf(g_console, "faders.txt file was not found\n");
        StandIn(path, DefaultFaderText(channelCount, 0.0f), file);
        return 0;
    }
    std::fprintf(g_console, "faders.txt file was not found\n");
    std::fprintf(g_console, "Enter the default fader value or -999 to exit.\n");
    std::fflush(g_console);
    std::fflush(stdout);
    float level = 0.0f;
    if (in == nullptr || std::fscanf(in, "%f", &level) != 1) level = 0.0f;
    // "nan" and "inf" are not levels: they count as nothing numeric.
    if (!std::isfinite(level)) level = 0.0f;
    if (level == -999.0f) return 1;
    return WriteDefault("faders.txt", DefaultFaderText(channelCount, level), file) ? 0 : 2;
}
