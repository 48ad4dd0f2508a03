// The options each program lists in --help against those its manual page
// documents (the tags of its OPTIONS section), both ways, so that neither
// can change without the other.  A failure names the option and the file.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/files.h"

namespace fs = std::filesystem;

namespace {

using Options = std::set<std::string>;

// Long options as they appear in running text: "--name" after a space,
// bracket, bar, comma or parenthesis, up to the first character that cannot
// be part of a name ("--delay=500" gives "--delay").
Options longOptions(const std::string &text) {
    static const std::regex option(R"((?:^|[\s\[|,(])(--[a-z0-9][a-z0-9-]*))");
    Options found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        found.insert((*it)[1]);
    return found;
}

// Roff escapes that can sit inside an option: "\-" for a hyphen, "\f?" font
// changes, "\&" and "\%" zero-width marks.
std::string plainRoff(std::string line) {
    static const std::regex font(R"(\\f(\[[^\]]*\]|\(..|.))");
    line = std::regex_replace(line, font, "");
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '-' || line[i + 1] == '&' || line[i + 1] == '%')) {
            if (line[i + 1] == '-') out += '-';
            ++i;
        } else {
            out += line[i];
        }
    }
    return out;
}

// The options a manual page documents: the tag lines (the line after .TP)
// of its OPTIONS section.
Options manPageOptions(const fs::path &page) {
    std::ifstream in(page);
    Options found;
    bool inOptions = false, tagNext = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0) {
            inOptions = line.find("OPTIONS") != std::string::npos;
            tagNext = false;
            continue;
        }
        if (!inOptions) continue;
        if (line.rfind(".TP", 0) == 0) {
            tagNext = true;
            continue;
        }
        if (tagNext) {
            for (const std::string &o : longOptions(" " + plainRoff(line))) found.insert(o);
            tagNext = false;
        }
    }
    return found;
}

std::string helpOf(const std::string &program) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(("'" + program + "' --help 2>&1").c_str(), "r"), pclose);
    if (!pipe) return out;
    std::array<char, 4096> chunk;
    for (size_t n; (n = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0;) out.append(chunk.data(), n);
    return out;
}

struct Program {
    const char *name;
    const char *path;
};

void PrintTo(const Program &p, std::ostream *os) { *os << p.name; }

class ManPage : public ::testing::TestWithParam<Program> {};

TEST_P(ManPage, ListsEveryOptionOfHelpAndNoOther) {
    const Program program = GetParam();
    const fs::path page = fs::path(SOURCE_DIR) / "docs" / "man" / (std::string(program.name) + ".1");
    ASSERT_TRUE(fs::exists(page)) << page << " is missing";
    const std::string help = helpOf(program.path);
    const Options inHelp = longOptions(help);
    const Options inPage = manPageOptions(page);
    // Guards against a reader that finds nothing, which would pass vacuously.
    ASSERT_TRUE(inHelp.count("--help")) << program.name << " --help printed:\n" << help;
    ASSERT_TRUE(inPage.count("--help")) << "no --help tag in the OPTIONS section of " << page;

    for (const std::string &o : inHelp)
        EXPECT_TRUE(inPage.count(o)) << "option " << o << " of `" << program.name
                                     << " --help` is missing from the OPTIONS section of docs/man/"
                                     << program.name << ".1";
    for (const std::string &o : inPage)
        EXPECT_TRUE(inHelp.count(o)) << "option " << o << " of docs/man/" << program.name
                                     << ".1 is not listed by `" << program.name << " --help`";
}

INSTANTIATE_TEST_SUITE_P(Programs, ManPage,
                         ::testing::Values(Program{"valdor", VALDOR_PATH}, Program{"bdusim", BDUSIM_PATH}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ManPageReader, TakesOptionsFromOptionTagsOnly) {
    const fs::path page = fs::path(testsupport::scratch()) / "reader-test.1";
    std::ofstream(page) << ".TH X 1\n"
                           ".SH DESCRIPTION\n.TP\n.B \\-\\-not\\-an\\-option\n"
                           ".SH OPTIONS\n"
                           ".TP\n.BI \\-\\-log \" FILE\"\nWrites to \\-\\-elsewhere.\n"
                           ".TP\n\\fB\\-\\-delay\\fR=\\fIMS\\fR\ntext\n"
                           ".TP\n.BR \\-\\-help \", \" \\-h\n"
                           ".SH EXIT STATUS\n.TP\n.B \\-\\-after\n";
    EXPECT_EQ(manPageOptions(page), (Options{"--delay", "--help", "--log"}));
}

}  // namespace
