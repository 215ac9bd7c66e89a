// The program kesu-host: a capture on the shipped drive C: folder checked
// sample by sample, its help, its refusal of bad settings and of a file it
// cannot write, and the script that runs it.
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

// A table row: plate, definition, instance, packets, samples, first and last
// index, gaps, repeats, mean and peak Fz, mean centre of pressure, load point.
struct Row {
    std::string definition;
    size_t packets, samples;
    int64_t first, last;
    int gaps, repeats;
    double meanFz, peakFz, meanCx, meanCy;
};

std::vector<Row> TableRows(const std::string& out) {
    const std::regex row(
        R"(^\d+ +(\S+) +\S+ +(\d+) +(\d+) +(-?\d+) +(-?\d+) +(\d+) +(\d+) +(\S+) +(\S+) +(\S+), (\S+) +\S+, \S+$)");
    std::vector<Row> rows;
    std::istringstream lines(out);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_match(line, m, row))
            rows.push_back(Row{m[1], std::stoul(m[2]), std::stoul(m[3]), std::stol(m[4]), std::stol(m[5]),
                               std::stoi(m[6]), std::stoi(m[7]), std::stod(m[8]), std::stod(m[9]),
                               std::stod(m[10]), std::stod(m[11])});
    return rows;
}

struct CsvSample {
    int64_t index;
    float fz, cx, cy;
};

// The samples of the CSV by plate, in the file's order.
std::vector<std::vector<CsvSample>> CsvSamples(const std::string& csv, size_t plates) {
    std::vector<std::vector<CsvSample>> samples(plates);
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ("plate,index,Fx,Fy,Fz,Mx,My,Mz,Cx,Cy,Cz", line);
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, ',');) cells.push_back(cell);
        const size_t plate = cells.size() == 11 ? std::stoul(cells[0]) : 0;
        if (plate < 1 || plate > plates) {
            ADD_FAILURE() << line;
            continue;
        }
        samples[plate - 1].push_back(
            {std::stol(cells[1]), std::stof(cells[4]), std::stof(cells[8]), std::stof(cells[9])});
    }
    return samples;
}

struct PointLoad {
    float force, x, y;
};

// Each plate's load changes at a counter within the capture. A genlock
// capture numbers its samples by the amplifiers' counters, which kesu-host
// starts at 4096, so the index of every sample tells its load.
struct LoadScript {
    PointLoad before;
    uint32_t change;
    PointLoad after;
    const PointLoad& At(int64_t index) const { return index < change ? before : after; }
};

TEST_F(KesuHostTest, TheTableAndTheCsvFollowALoadThatChangesDuringTheCapture) {
    const PointLoad given{250.0f, 0.125f, -0.0625f};
    const LoadScript scripts[] = {{given, 4096 + 53, {900.0f, -0.2f, 0.25f}},
                                  {given, 4096 + 80, {300.0f, 0.05f, -0.3f}}};
    // kesu-host scripts the amplifiers afresh before its module's first
    // pause; every pause puts the changes in again.
    sleeps_.SetPauseCallback([&](DWORD) {
        for (int32_t d = 0; d < 2; ++d) {
            const PointLoad& after = scripts[d].after;
            UsbAmpSim::ChangePointLoadAt(d, scripts[d].change, after.force, after.x, after.y);
        }
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

    const std::vector<Row> rows = TableRows(out);
    ASSERT_EQ(2u, rows.size()) << out;
    const std::vector<std::vector<CsvSample>> samples = CsvSamples(Slurp(csv), 2);
    const char* const definitions[] = {"Sorvik", "TANDEM_TM"};
    for (size_t p = 0; p < 2; ++p) {
        SCOPED_TRACE(p + 1);
        const Row& row = rows[p];
        EXPECT_EQ(definitions[p], row.definition);
        // 0.1 s at 1000 Hz in packets of 16, over the same window on every plate.
        EXPECT_EQ(7u, row.packets);
        EXPECT_EQ(112u, row.samples);
        EXPECT_EQ(rows[0].first, row.first);
        EXPECT_EQ(row.first + 111, row.last);
        EXPECT_EQ(0, row.gaps + row.repeats);
        ASSERT_LT(row.first, scripts[p].change) << "the change came before the capture";
        ASSERT_GE(row.last, scripts[p].change) << "the change came after the capture";

        ASSERT_EQ(row.samples, samples[p].size());
        double sumFz = 0.0, peakFz = 0.0, sumCx = 0.0, sumCy = 0.0;
        for (size_t k = 0; k < samples[p].size(); ++k) {
            const CsvSample& sample = samples[p][k];
            ASSERT_EQ(row.first + int64_t(k), sample.index);
            const PointLoad& load = scripts[p].At(sample.index);
            EXPECT_EQ(load.force, sample.fz) << sample.index;
            EXPECT_NEAR(load.x, sample.cx, 1e-6) << sample.index;
            EXPECT_NEAR(load.y, sample.cy, 1e-6) << sample.index;
            sumFz += load.force;
            peakFz = std::max<double>(peakFz, load.force);
            sumCx += load.x;
            sumCy += load.y;
        }
        const double n = static_cast<double>(samples[p].size());
        EXPECT_NEAR(sumFz / n, row.meanFz, 0.0005);
        EXPECT_NEAR(peakFz, row.peakFz, 0.0005);
        EXPECT_NEAR(sumCx / n, row.meanCx, 0.00005);
        EXPECT_NEAR(sumCy / n, row.meanCy, 0.00005);
    }
}

TEST_F(KesuHostTest, EachBadSettingIsRefusedInOneLineBeforeTheCaptureStarts) {
    const std::string kept = drive_.Write("kept.csv", "kept\n").string();
    const std::string fresh = (drive_.Path() / "fresh.csv").string();
    const std::string unreachable = (drive_.Path() / "no-folder" / "x.csv").string();
    struct Case {
        std::vector<const char*> arguments;
        std::string says;
        bool detects;  // the plates' sizes are known only once they are detected
    };
    const Case cases[] = {
        {{"--bogus"}, "unrecognised option '--bogus'", false},
        {{"stray"}, "too many positional options", false},
        {{"--amplifiers", "0"}, "--amplifiers must be 1 to 16", false},
        {{"--amplifiers", "17"}, "--amplifiers must be 1 to 16", false},
        {{"--amplifiers", "1", "--plate", "A", "--plate", "B"}, "more plates than amplifiers", false},
        {{"--plate", ":10x20"}, "has no model", false},
        {{"--plate", "A:10"}, "sizes are LENGTHxWIDTH", false},
        {{"--seconds", "0"}, "--seconds must be above 0 and at most 3600", false},
        {{"--seconds", "3600.5"}, "--seconds must be above 0 and at most 3600", false},
        {{"--seconds", "nan"}, "--seconds must be above 0 and at most 3600", false},
        {{"--load", "1,2"}, "--load is FORCE,X,Y: three finite numbers", false},
        {{"--load", "600,nan,0"}, "--load is FORCE,X,Y: three finite numbers", false},
        {{"--load", "inf,0,0"}, "--load is FORCE,X,Y: three finite numbers", false},
        {{"--load", "600,0,1e39"}, "--load is FORCE,X,Y: three finite numbers", false},
        {{"--csv", ""}, "--csv needs a file name", false},
        {{"--csv", unreachable.c_str()}, "cannot write --csv " + unreachable + ": No such file", false},
        {{"--rate", "-1"}, "--rate -1 is not on offer: 2000, 1800, 1500, 1200, 1000, 900,", false},
        {{"--rate", "99999999"}, "--rate 99999999 is not on offer: 2000, ", false},
        {{"--rate", "1000.0"}, "--rate 1000.0 is not on offer", false},
        {{"--sync-mode", "genlock"},
         "unknown --sync-mode genlock: \"Software trigger\", \"Hardware trigger\" or \"Genlock\"",
         false},
        {{"--threshold", "nan"}, "--threshold must be a number from 0 to 50 N", false},
        {{"--threshold", "inf"}, "--threshold must be a number from 0 to 50 N", false},
        {{"--threshold", "1e308"}, "--threshold must be a number from 0 to 50 N", false},
        {{"--threshold", "-0.5"}, "--threshold must be a number from 0 to 50 N", false},
        // Refused files are left as they were.
        {{"--csv", fresh.c_str(), "--rate", "7"}, "--rate 7 is not on offer", false},
        {{"--csv", kept.c_str(), "--threshold", "50.5"}, "--threshold must be", false},
        {{"--load", "600,0.31,0"},
         "--load point 0.31, 0 m lies off plate 1, Sorvik: x runs from -0.3000 to 0.3000 m and y from "
         "-0.3000 to "
         "0.3000 m",
         true},
        {{"--plate", "Halvost", "--plate", "Sorvik", "--load", "600,0,0.5"},
         "--load point 0, 0.5 m lies off plate 2, Sorvik",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::string out, err;
        EXPECT_EQ(2, RunInProcess(c.arguments, out, err));
        std::vector<std::string> ours;
        std::istringstream lines(err);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("kesu-host: ", 0) == 0) ours.push_back(line);
        ASSERT_EQ(1u, ours.size()) << err;
        EXPECT_NE(std::string::npos, ours[0].find(c.says)) << ours[0];
        // The refusal comes last, after whatever the module logged.
        EXPECT_EQ(err.size() - ours[0].size() - 1, err.rfind(ours[0])) << err;
        EXPECT_EQ(std::string::npos, err.find("fmBroadcastStart")) << "the capture started";
        if (c.detects)
            EXPECT_NE(std::string::npos, out.find("Detected 2 plate devices")) << out;
        else
            EXPECT_EQ("", out);
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

TEST_F(KesuHostTest, HelpGivesUnitsAxesTheModulesOfferAndPlateMatchingAndABadOptionEndsWithStatusTwo) {
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

    for (const char* arguments : {"--bogus", "--rate 7", "stray"}) {
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
