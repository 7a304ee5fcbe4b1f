// The manual pages: each renders without a single groff warning, carries the
// project's version and documents every option the program's help lists.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/testutil.h"

using testutil::ReadBytes;
using testutil::RunIn;
using testutil::TempDir;

namespace {

const char* const kPages[] = {"corvale.1", "palisar.1", "quenby.1", "corvale.5"};

std::string Page(const std::string& name) { return ReadBytes(std::string(SOURCE_DIR) + "/docs/man/" + name); }

// The page's text as a reader sees it: roff escapes for hyphens undone.
std::string Plain(std::string roff) { return std::regex_replace(roff, std::regex(R"(\\-)"), "-"); }

}  // namespace

TEST(ManualPages, RenderWithoutWarnings)
{
    TempDir dir;
    for (const char* page : kPages) {
        const std::string path = std::string(SOURCE_DIR) + "/docs/man/" + page;
        std::string err;
        const auto r = RunIn(dir.path(), "groff -man -ww -z '" + path + "'", "", &err);
        EXPECT_EQ(r.status, 0) << page << ": groff is needed (apt-get install groff)\n" << err;
        EXPECT_EQ(err, "") << page;
        EXPECT_EQ(r.out, "") << page;
    }
}

TEST(ManualPages, CarryTheProjectVersionAndTheirSection)
{
    for (const char* page : kPages) {
        const std::string text = Page(page);
        ASSERT_FALSE(text.empty()) << page;
        const std::string name = std::string(page).substr(0, std::string(page).find('.'));
        const std::string section = std::string(page).substr(std::string(page).find('.') + 1);
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(text.rfind(".TH " + upper + " " + section + " ", 0), 0u) << page;
        const size_t eol = text.find('\n');
        EXPECT_NE(text.substr(0, eol).find(std::string("\"corvale ") + PROJECT_VERSION_TEXT + "\""), std::string::npos)
            << page;
    }
}

TEST(ManualPages, TheMixerPageDocumentsEveryOptionOfItsHelp)
{
    TempDir dir;
    const auto help = RunIn(dir.path(), std::string(CORVALE_BIN) + " --help");
    ASSERT_EQ(help.status, 0);
    const std::string page = Plain(Page("corvale.1"));
    const std::regex option(R"((^|[ ,])(--?[a-z][a-z-]*))");
    int seen = 0;
    for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it) {
        const std::string opt = (*it)[2];
        EXPECT_NE(page.find(opt), std::string::npos) << opt << " is missing from corvale.1";
        ++seen;
    }
    EXPECT_GE(seen, 3);
    for (const char* status : {".B 0", ".B 1", ".B 2", ".B 128+N"}) EXPECT_NE(page.find(status), std::string::npos) << status;
}
