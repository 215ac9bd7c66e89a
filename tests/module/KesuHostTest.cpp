// The program kesu-host: a capture on the shipped drive C: folder checked
// sample by sample, its help, its refusal of bad settings and of a file it
// cannot write, and the script that runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
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

// A genlock capture numbers its samples by the amplifiers' counters, which
// kesu-host starts at 4096. Each plate's load changes at a counter within the
// capture, so every sample's index tells the load it must show.
TEST_F(KesuHostTest, TheTableAndTheCsvFollowALoadThatChangesDuringTheCapture) {
    struct Load {
        float force, x, y;
    };
    const Load given{250.0f, 0.125f, -0.0625f};
    const Load after[] = {{900.0f, -0.2f, 0.25f}, {300.0f, 0.05f, -0.3f}};
    const double change[] = {4096 + 53, 4096 + 80};
    // kesu-host scripts the amplifiers afresh before its module's first
    // pause; every pause puts the changes in again.
    sleeps_.SetPauseCallback([&](DWORD) {
        for (int d = 0; d < 2; ++d)
            UsbAmpSim::ChangePointLoadAt(d, uint32_t(change[d]), after[d].force, after[d].x, after[d].y);
    });
    const std::string csv = (drive_.Path() / "samples.csv").string();
    std::string out, err;
    // The simulated library makes blocks on the wall clock: a tenth of a
    // second of real time. The hardware pauses are recorded, not waited out.
    const int status =
        RunInProcess({"--seconds", "0.1", "--sync-mode", "Genlock", "--drive-c", KESU_EXAMPLE_DRIVE_C,
                      "--csv", csv.c_str(), "--load", "250,0.125,-0.0625"},
                     out, err);
    sleeps_.SetPauseCallback(nullptr);
    ASSERT_EQ(0, status) << out << err;

    EXPECT_NE(std::string::npos, out.find("Definitions announced: 24")) << out;
    for (const char* custom : {"TANDEM_TM", "WALKWAY_2X", "BELT_UNIT"})
        EXPECT_NE(std::string::npos, out.find(custom)) << custom;
    EXPECT_NE(std::string::npos, out.find("Detected 2 plate devices")) << out;

    // Each plate's samples in the file: index, Fz, Cx, Cy.
    std::vector<std::array<double, 4>> samples[2];
    std::istringstream lines(Slurp(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ("plate,index,Fx,Fy,Fz,Mx,My,Mz,Cx,Cy,Cz", line);
    while (std::getline(lines, line)) {
        unsigned plate = 0;
        double v[10];
        ASSERT_EQ(11, std::sscanf(line.c_str(), "%u,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &plate, &v[0],
                                  &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]));
        ASSERT_TRUE(plate == 1 || plate == 2) << line;
        samples[plate - 1].push_back({v[0], v[3], v[7], v[8]});
    }

    // plate, definition, instance, packets, samples, first, last, gaps,
    // repeats, mean Fz, peak Fz, mean CoP, load position.
    const std::regex row(
        R"(^(\d) +(\S+) +\S+ +(\d+) +(\d+) +(-?\d+) +(-?\d+) +0 +0 +(\S+) +(\S+) +(\S+), (\S+) +0\.1250, -0\.0625$)");
    std::istringstream table(out);
    std::vector<std::string> definitions;
    for (std::smatch m; std::getline(table, line);) {
        if (!std::regex_match(line, m, row)) continue;
        SCOPED_TRACE(line);
        const size_t p = definitions.size();
        ASSERT_EQ(std::to_string(p + 1), m.str(1));
        definitions.push_back(m[2]);
        // 0.1 s at 1000 Hz in packets of 16.
        EXPECT_EQ("7", m.str(3));
        EXPECT_EQ("112", m.str(4));
        // Every plate's window starts at the amplifiers' first block.
        const double first = std::stod(m[5]);
        EXPECT_EQ(4096.0, first);
        EXPECT_EQ(first + 111, std::stod(m[6]));
        ASSERT_TRUE(first < change[p] && change[p] <= first + 111) << "the change fell outside the capture";
        ASSERT_EQ(112u, samples[p].size());
        double sumFz = 0.0, peakFz = 0.0, sumCx = 0.0, sumCy = 0.0;
        for (size_t k = 0; k < 112; ++k) {
            const std::array<double, 4>& sample = samples[p][k];
            ASSERT_EQ(first + double(k), sample[0]);
            const Load& load = sample[0] < change[p] ? given : after[p];
            EXPECT_EQ(load.force, sample[1]) << sample[0];
            EXPECT_NEAR(load.x, sample[2], 1e-6) << sample[0];
            EXPECT_NEAR(load.y, sample[3], 1e-6) << sample[0];
            sumFz += load.force;
            peakFz = std::max<double>(peakFz, load.force);
            sumCx += load.x;
            sumCy += load.y;
        }
        EXPECT_NEAR(sumFz / 112, std::stod(m[7]), 5e-4);
        EXPECT_NEAR(peakFz, std::stod(m[8]), 5e-4);
        EXPECT_NEAR(sumCx / 112, std::stod(m[9]), 5e-5);
        EXPECT_NEAR(sumCy / 112, std::stod(m[10]), 5e-5);
    }
    EXPECT_EQ((std::vector<std::string>{"Sorvik", "TANDEM_TM"}), definitions) << out;
}

// What the module offers and what the detected plates measure, checked before
// the capture starts (the load's point only after detection).
TEST_F(KesuHostTest, ASettingOffTheModulesOfferOrAPointOffAPlateIsRefusedInOneLine) {
    const std::string kept = drive_.Write("kept.csv", "kept\n").string();
    const std::string fresh = (drive_.Path() / "fresh.csv").string();
    const std::string unreachable = (drive_.Path() / "none" / "x.csv").string();
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"--rate", "-1"}, "--rate -1 is not on offer: 2000, 1800, 1500, 1200, 1000, 900,"},
        {{"--sync-mode", "genlock"},
         "unknown --sync-mode genlock: \"Software trigger\", \"Hardware trigger\" or \"Genlock\""},
        {{"--threshold", "nan"}, "--threshold must be a number from 0 to 50 N"},
        {{"--threshold", "1e308"}, "--threshold must be a number from 0 to 50 N"},
        {{"--threshold", "-0.5"}, "--threshold must be a number from 0 to 50 N"},
        {{"--seconds", "3600.5"}, "--seconds must be above 0 and at most 3600"},
        {{"--load", "600,nan,0"}, "--load is FORCE,X,Y: three finite numbers"},
        {{"--csv", ""}, "--csv needs a file name"},
        {{"--csv", unreachable.c_str()}, "cannot write --csv " + unreachable + ": No such file"},
        // A refused run leaves the file as it was.
        {{"--csv", fresh.c_str(), "--rate", "7"}, "--rate 7 is not on offer"},
        {{"--csv", kept.c_str(), "--threshold", "50.5"}, "--threshold must be"},
        {{"--load", "600,0.31,0"},
         "--load point 0.31, 0 m lies off plate 1, Sorvik: x runs from -0.3000 to 0.3000 m"},
        {{"--plate", "Halvost", "--plate", "Sorvik", "--load", "600,0,0.5"}, "lies off plate 2, Sorvik"},
    };
    for (const auto& [arguments, says] : cases) {
        SCOPED_TRACE(says);
        std::string out, err;
        EXPECT_EQ(2, RunInProcess(arguments, out, err));
        // The refusal comes last, after what the module logged, and the capture never started.
        const size_t ours = err.rfind("kesu-host: ");
        ASSERT_NE(std::string::npos, ours) << err;
        EXPECT_EQ(ours, err.find("kesu-host: "));
        EXPECT_NE(std::string::npos, err.find(says, ours)) << err.substr(ours);
        EXPECT_EQ(1u, LineCount(err.substr(ours)));
        EXPECT_EQ(std::string::npos, err.find("fmBroadcastStart"));
        EXPECT_EQ(says.find("lies off") == std::string::npos, out.empty()) << out;
        EXPECT_EQ(std::string::npos, out.find("peak Fz"));
    }
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ("kept\n", Slurp(kept));
}

// A file that fails when it is closed, or already while the capture runs.
TEST_F(KesuHostTest, ACsvFileThatCannotBeWrittenEndsTheRunWithStatusOne) {
    for (const char* seconds : {"0.001", "0.2"}) {
        SCOPED_TRACE(seconds);
        std::string out, err;
        EXPECT_EQ(1, RunInProcess({"--seconds", seconds, "--csv", "/dev/full"}, out, err)) << out;
        EXPECT_NE(std::string::npos, err.find("kesu-host: cannot write /dev/full: No space left on device\n"))
            << err;
    }
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
    // As read, whatever the line breaks.
    const std::string text = std::regex_replace(out, std::regex("\\s+"), " ");
    for (const char* said :
         {"1 to 16", "inches, the length along y and the width along x", "Fz threshold in N", "at most 3600",
          "force in N, the point in m", "2000, 1800, 1500, 1200, 1000,", ", 15, 10",
          "\"Genlock\" is accepted", "\"Software trigger\", \"Hardware trigger\"", "from 0 to 50 N",
          "-p BELT_UNIT alone"})
        EXPECT_NE(std::string::npos, text.find(said)) << said;

    for (const char* arguments : {"--bogus", "--amplifiers 0", "--amplifiers 17", "--rate x", "--rate 0",
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
