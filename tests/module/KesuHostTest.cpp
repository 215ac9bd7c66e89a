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
#include <thread>
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
// kesu-host starts at 4096. Each plate's load changes at counters within the
// capture, so every sample's index tells the load it must show. The test hands
// the blocks over itself and skips the counters of one, as when a block is lost
// on the way.
TEST_F(KesuHostTest, TheTableAndTheCsvFollowALoadThatChangesDuringTheCapture) {
    struct Load {
        float force, x, y;
    };
    // Plate 1 starts with --load and is unloaded at the end; plate 2 is pulled
    // throughout. Lost block: 4160 to 4175, which no change falls in.
    const std::vector<std::pair<uint32_t, Load>> script[] = {
        {{4096, {250.0f, 0.125f, -0.0625f}}, {4149, {900.0f, -0.2f, 0.25f}}, {4176, {0.0f, 0.0f, 0.0f}}},
        {{4096, {-400.0f, 0.05f, -0.3f}}, {4180, {-150.0f, -0.15f, 0.2f}}}};
    // kesu-host scripts the amplifiers afresh before its module's first
    // pause; every pause puts the manual source and the changes in again.
    sleeps_.SetPauseCallback([&](DWORD) {
        UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Manual);
        for (int d = 0; d < 2; ++d)
            for (const auto& [counter, load] : script[d])
                if (d == 1 || counter > 4096)
                    UsbAmpSim::ChangePointLoadAt(d, counter, load.force, load.x, load.y);
    });
    // 0.1 s at 1000 Hz is 7 blocks of 16: the fifth is never made.
    std::thread feeder([] {
        if (!UsbAmpSim::WaitUntilStreaming(kSafetyNet)) return;
        for (int b = 0; b < 6; ++b) {
            if (b == 4) UsbAmpSim::SetCounterStart(4096 + 16 * 5);
            EXPECT_TRUE(UsbAmpSim::HandOverBlock()) << b;
        }
    });
    // A file longer than the capture's is emptied first.
    std::string stale;
    for (int i = 0; i < 5000; ++i) stale += "stale\n";
    const std::string csv = drive_.Write("samples.csv", stale).string();
    std::string out, err;
    const int status =
        RunInProcess({"--seconds", "0.1", "--sync-mode", "Genlock", "--drive-c", KESU_EXAMPLE_DRIVE_C,
                      "--csv", csv.c_str(), "--load", "250,0.125,-0.0625"},
                     out, err);
    feeder.join();
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
                                  &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]))
            << line;
        ASSERT_TRUE(plate == 1 || plate == 2) << line;
        samples[plate - 1].push_back({v[0], v[3], v[7], v[8]});
    }
    for (int p = 0; p < 2; ++p) {
        ASSERT_EQ(96u, samples[p].size());
        for (size_t k = 0; k < 96; ++k) {
            const std::array<double, 4>& sample = samples[p][k];
            // The lost block's 16 indices are missing.
            ASSERT_EQ(4096.0 + double(k < 64 ? k : k + 16), sample[0]);
            Load load{};
            for (const auto& [counter, scripted] : script[p])
                if (counter <= sample[0]) load = scripted;
            EXPECT_EQ(load.force, sample[1]) << sample[0];
            EXPECT_NEAR(load.x, sample[2], 1e-6) << sample[0];
            EXPECT_NEAR(load.y, sample[3], 1e-6) << sample[0];
        }
    }

    // Counted by hand from the script: plate 1 has 53 samples of 250 N, 11 of
    // 900 N and 32 unloaded; plate 2 has 68 of -400 N and 28 of -150 N. The
    // centre of pressure is a mean over the loaded samples only.
    struct Row {
        std::string definition;
        double meanFz, peakFz, cx, cy;
    };
    const Row expected[] = {{"Sorvik", (53 * 250.0 + 11 * 900.0) / 96, 900.0, (53 * 0.125 - 11 * 0.2) / 64,
                             (53 * -0.0625 + 11 * 0.25) / 64},
                            {"TANDEM_TM", (68 * -400.0 + 28 * -150.0) / 96, -150.0,
                             (68 * 0.05 - 28 * 0.15) / 96, (68 * -0.3 + 28 * 0.2) / 96}};
    // plate, definition, instance, packets, samples, first, last, gaps,
    // repeats, mean Fz, peak Fz, mean CoP, load position.
    const std::regex row(
        R"(^(\d) +(\S+) +\S+ +6 +96 +4096 +4207 +1 +0 +(\S+) +(\S+) +(\S+), (\S+) +0\.1250, -0\.0625$)");
    std::istringstream table(out);
    size_t rows = 0;
    for (std::smatch m; std::getline(table, line);) {
        if (!std::regex_match(line, m, row)) continue;
        SCOPED_TRACE(line);
        ASSERT_LT(rows, 2u);
        const Row& e = expected[rows++];
        EXPECT_EQ(std::to_string(rows), m.str(1));
        EXPECT_EQ(e.definition, m.str(2));
        EXPECT_NEAR(e.meanFz, std::stod(m[3]), 5e-4);
        EXPECT_NEAR(e.peakFz, std::stod(m[4]), 5e-4);
        EXPECT_NEAR(e.cx, std::stod(m[5]), 5e-5);
        EXPECT_NEAR(e.cy, std::stod(m[6]), 5e-5);
    }
    EXPECT_EQ(2u, rows) << out;
    for (const char* plate : {"1", "2"})
        EXPECT_NE(
            std::string::npos,
            out.find(std::string("note: plate ") + plate +
                     " does not cover the window 4096 to 4207: 1 gaps, where blocks were lost on the way\n"))
            << out;
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
        {{"--load", "1,2,3,4"}, "--load is FORCE,X,Y: three finite numbers"},
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

    // The limits themselves are on offer.
    for (const char* threshold : {"0", "50"}) {
        std::string out, err;
        EXPECT_EQ(0, RunInProcess({"--threshold", threshold, "--seconds", "0.01"}, out, err))
            << threshold << err;
    }
}

// A file that fails when it is closed, or already while the capture runs:
// then the capture ends there, far short of its window, and each plate's note
// says so.
TEST_F(KesuHostTest, ACsvFileThatCannotBeWrittenEndsTheRunWithStatusOne) {
    for (const auto& [seconds, endedEarly] : {std::pair{"0.001", 0}, std::pair{"10", 2}}) {
        SCOPED_TRACE(seconds);
        std::string out, err;
        EXPECT_EQ(1, RunInProcess({"--seconds", seconds, "--csv", "/dev/full"}, out, err)) << out;
        EXPECT_NE(std::string::npos, err.find("kesu-host: cannot write /dev/full: No space left on device\n"))
            << err;
        const std::regex ended(
            R"(note: plate \d does not cover the window \d+ to \d+: the capture ended at )");
        EXPECT_EQ(endedEarly,
                  std::distance(std::sregex_iterator(out.begin(), out.end(), ended), std::sregex_iterator()))
            << out;
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
