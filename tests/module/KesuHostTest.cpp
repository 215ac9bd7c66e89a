// The program kesu-host: a short capture on the shipped drive C: folder, its
// help and its refusal of bad options.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/KesuHostProgram.h"
#include "tests/module/ModuleFixture.h"

namespace KESUTest {
namespace {

using KesuHostTest = ModuleTest;

std::string Slurp(const std::string& file) {
    std::ifstream in(file);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

int RunInProcess(std::vector<const char*> arguments, std::string& out, std::string& err) {
    arguments.insert(arguments.begin(), "kesu-host");
    std::ostringstream outStream, errStream;
    const int status =
        KESUHost::RunKesuHost(static_cast<int>(arguments.size()), arguments.data(), outStream, errStream);
    out = outStream.str();
    err = errStream.str();
    return status;
}

size_t LineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n');
}

TEST_F(KesuHostTest, AShortCaptureShowsTheDefinitionsTheDetectionAndOneRowPerPlate) {
    const std::string csv = (drive_.Path() / "samples.csv").string();
    std::string out, err;
    // The simulated library makes blocks on the wall clock: a tenth of a
    // second of real time. The hardware pauses are recorded, not waited out.
    ASSERT_EQ(0, RunInProcess({"--seconds", "0.1", "--drive-c", KESU_EXAMPLE_DRIVE_C, "--csv", csv.c_str(),
                               "--load", "250,0.125,-0.0625"},
                              out, err))
        << out << err;

    EXPECT_NE(std::string::npos, out.find("Definitions announced: 24")) << out;
    for (const char* custom : {"TANDEM_TM", "WALKWAY_2X", "BELT_UNIT"})
        EXPECT_NE(std::string::npos, out.find(custom)) << custom;
    EXPECT_NE(std::string::npos, out.find("Detected 2 plate devices")) << out;

    // plate, definition, instance, packets, samples, first, last, gaps, repeats,
    // mean Fz, peak Fz, mean CoP, load position.
    const std::regex row(
        R"(^(\d) +(\S+) +.* +(\d+) +(\d+) +(-?\d+) +(-?\d+) +0 +0 +250\.000 +250\.000 +0\.1250, -0\.0625 +0\.1250, -0\.0625$)");
    std::istringstream lines(out);
    std::string line;
    std::vector<std::string> definitions;
    size_t samples = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        if (!std::regex_match(line, match, row)) continue;
        definitions.push_back(match[2]);
        const size_t packets = std::stoul(match[3]);
        EXPECT_GE(packets, 7u) << line;
        EXPECT_EQ(16 * packets, std::stoul(match[4])) << line;
        EXPECT_EQ(std::stol(match[5]) + 16 * long(packets) - 1, std::stol(match[6])) << line;
        samples += std::stoul(match[4]);
    }
    EXPECT_EQ((std::vector<std::string>{"Sorvik", "TANDEM_TM"}), definitions) << out;

    const std::string written = Slurp(csv);
    EXPECT_EQ(1 + samples, LineCount(written));
    EXPECT_EQ(0u, written.find("plate,index,Fx,Fy,Fz,Mx,My,Mz,Cx,Cy,Cz\n"));
}

// The program itself, as a shell runs it: its exit status and its one line.
int RunProgram(const std::string& arguments, std::string& out, std::string& err, const TempFolder& folder) {
    const std::string outFile = (folder.Path() / "out.txt").string();
    const std::string errFile = (folder.Path() / "err.txt").string();
    const int status = std::system(
        (std::string("'") + KESU_HOST_PROGRAM + "' " + arguments + " >'" + outFile + "' 2>'" + errFile + "'")
            .c_str());
    out = Slurp(outFile);
    err = Slurp(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(KesuHostTest, HelpListsTheOptionsAndABadOptionEndsWithOneLineAndStatusTwo) {
    std::string out, err;
    ASSERT_EQ(0, RunProgram("--help", out, err, drive_));
    for (const char* option : {"--amplifiers", "--plate", "--rate", "--sync-mode", "--threshold", "--seconds",
                               "--load", "--drive-c", "--csv"})
        EXPECT_NE(std::string::npos, out.find(option)) << option;

    for (const char* arguments : {"--bogus", "--amplifiers 0", "--amplifiers 9", "--rate x", "--rate 0",
                                  "--load 1,2", "--seconds -1", "--sync-mode Sometimes", "--plate :10x20",
                                  "--plate A:10", "--amplifiers 1 --plate A --plate B", "stray"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(2, RunProgram(arguments, out, err, drive_));
        EXPECT_EQ(1u, LineCount(err)) << err;
        EXPECT_EQ(0u, err.find("kesu-host: ")) << err;
        EXPECT_EQ("", out);
    }
}

// run.sh builds in its tree but runs kesu-host in the caller's folder. Its
// copy runs here in a tree of stand-ins: a package step and a cmake that do
// nothing, and a kesu-host that writes where it runs and its drive C: into
// the file its --csv names.
TEST(RunScriptTest, KesuHostRunsInTheCallersFolderWithTheTreesDriveC) {
    TempFolder tree, caller;
    std::filesystem::copy_file(KESU_RUN_SCRIPT, tree.Path() / "run.sh");
    tree.Write("scripts/packages.sh", "kesu_install_packages() { :; }\n");
    const auto executable = [&](const std::string& file, const std::string& script) {
        std::filesystem::permissions(tree.Write(file, "#!/bin/sh\n" + script + "\n"),
                                     std::filesystem::perms::owner_all);
    };
    executable("bin/cmake", "exit 0");
    executable("build/release/host/kesu-host", R"(printf '%s\n' "$PWD" "$KESU_DRIVE_C" >"$2")");

    const std::string command = "cd '" + caller.Path().string() + "' && PATH='" +
                                (tree.Path() / "bin").string() + ":'\"$PATH\" bash '" +
                                (tree.Path() / "run.sh").string() + "' --csv out.csv";
    ASSERT_EQ(0, std::system(command.c_str()));
    EXPECT_EQ(caller.Path().string() + "\n" + (tree.Path() / "host/drive_c").string() + "\n",
              Slurp((caller.Path() / "out.csv").string()));
}

}  // namespace
}  // namespace KESUTest
