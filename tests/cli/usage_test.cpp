// The command line itself: help and version, every kind of bad usage, and the exit codes as the
// help and docs/cli.md tell them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "tests/cli/cli_fixture.h"

namespace {

class UsageTest : public zqtest::CliTest {};

struct BadUsage {
    std::vector<std::string> args;
    const char* err;  // a fragment of standard error
};

TEST_F(UsageTest, BadUsageExitsWithTwoAndSendsNothing) {
    world.PlugCamera('E');
    // clang-format off
    const std::vector<BadUsage> cases = {
        {{}, "A subcommand is required"},
        {{"frobnicate"}, "'frobnicate' is no command (list, status, set, sync-time, release, "
                         "watch)"},
        {{"--json", "Status"}, "'Status' is no command"},
        {{"list", "--colour"}, "--colour"},
        {{"set"}, "setting is required"},
        {{"set", "overwrite"}, "'overwrite' is not NAME=VALUE"},
        {{"set", "overwrite=maybe"}, "'maybe' is no value of overwrite (off or on)"},
        {{"set", "resolution=4k"}, "'4k' is no value of resolution (1080p or 720p)"},
        {{"set", "zoom=on"}, "'zoom' is no setting (overwrite, timestamp or resolution)"},
        {{"set", "overwrite=on", "overwrite=off"}, "overwrite is given twice"},
        {{"status", "--drive", "C:"}, "'C:' is not a drive that can hold a camera (D: to Z:)"},
        {{"status", "--drive", "EE"}, "'EE' is not a drive"},
        {{"status", "--drive", "E:", "--all"}, "excludes"},
        {{"release", "--all"}, "--all"},
        {{"release", "--timeout", "-1"}, "--timeout"},
        {{"watch", "--count", "0"}, "--count"},
        {{"watch", "--set", "overwrite=sometimes"}, "'sometimes' is no value of overwrite"},
    };
    // clang-format on
    for (const BadUsage& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) {
            line += arg + " ";
        }
        SCOPED_TRACE(line);
        world.ClearTrace();
        const zqtest::ToolRun run = Run(c.args);
        EXPECT_EQ(run.exit, 2);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Run with --help for more information."), std::string::npos);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(world.OpenedLetters(), std::vector<char>{}) << "nothing is opened";
    }
    EXPECT_EQ(events.starts, 0);
}

TEST_F(UsageTest, HelpOfTheToolAndOfEachCommandListsTheExitCodes) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"list", "--help"},
                                               {"status", "-h"},
                                               {"set", "--help"},
                                               {"sync-time", "--help"},
                                               {"release", "--help"},
                                               {"watch", "--help"}}) {
        SCOPED_TRACE(args[0]);
        const zqtest::ToolRun run = Run(args);
        EXPECT_EQ(run.exit, 0);
        EXPECT_EQ(run.err, "");
        for (const cli::ExitCodeInfo& info : cli::kExitCodes) {
            const std::string line =
                "  " + std::to_string(cli::ToInt(info.code)) + "  " + info.kind;
            EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
        }
    }
    EXPECT_EQ(world.OpenedLetters(), std::vector<char>{});
}

TEST_F(UsageTest, HelpNamesEveryCommandAndEachCommandItsOptions) {
    const std::string all = Run({"--help"}).out;
    for (const char* command : {"list", "status", "set", "sync-time", "release", "watch"}) {
        EXPECT_NE(all.find(command), std::string::npos) << command;
    }
    EXPECT_NE(all.find("--pace"), std::string::npos);
    EXPECT_NE(Run({"set", "--help"})
                  .out.find("overwrite=on|off timestamp=on|off "
                            "resolution=1080p|720p"),
              std::string::npos);
    const std::string watch = Run({"watch", "--help"}).out;
    for (const char* option : {"--sync-time", "--set", "--count", "--timeout"}) {
        EXPECT_NE(watch.find(option), std::string::npos) << option;
    }
}

TEST_F(UsageTest, VersionIsTheProjectsVersion) {
    const zqtest::ToolRun run = Run({"--version"});
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(run.out, "zelquin-cli " ZQ_TEST_VERSION "\n");
}

TEST_F(UsageTest, OptionsOfTheToolAlsoFollowTheCommand) {
    world.PlugCamera('E');
    const zqtest::ToolRun before = Run({"--json", "status"});
    const zqtest::ToolRun after = Run({"status", "--json"});
    EXPECT_EQ(before.out, after.out);
    EXPECT_EQ(before.out.substr(0, 1), "{");
}

// The documented table of exit codes is the one the tool uses.
TEST_F(UsageTest, DocumentationListsEveryExitCode) {
    std::ifstream file(ZQ_TEST_SOURCE_DIR "/docs/cli.md");
    ASSERT_TRUE(file) << "docs/cli.md not found";
    std::stringstream page;
    page << file.rdbuf();
    const std::string text = page.str();
    std::vector<int> listed;
    const std::regex row(R"(\n\| (\d+) \| `([a-z-]+)` \|)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), row);
         it != std::sregex_iterator(); ++it) {
        const int code = std::stoi((*it)[1]);
        listed.push_back(code);
        EXPECT_EQ((*it)[2].str(), cli::KindOf(static_cast<cli::Exit>(code))) << code;
    }
    std::vector<int> codes;
    for (const cli::ExitCodeInfo& info : cli::kExitCodes) {
        codes.push_back(cli::ToInt(info.code));
    }
    EXPECT_EQ(listed, codes);
}

}  // namespace
