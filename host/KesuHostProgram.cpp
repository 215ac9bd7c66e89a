#include "host/KesuHostProgram.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/format.hpp>
#include <boost/program_options.hpp>

#include "host/ExampleHost.h"
#include "host/PluginModule.h"
#include "platform/usbamp/UsbAmpSim.h"
#include "sdk/ParameterValues.h"

namespace KESUHost {

namespace {

namespace po = boost::program_options;
using boost::format;
using boost::str;

const int kDone = 0;
const int kFailed = 1;
const int kRefused = 2;

const int kMaxAmplifiers = 16;
const double kMaxSeconds = 3600.0;
// The amplifier type scripted; its hardware-trigger level is 1.
const int32_t kProductType = 300;
const float kTriggerLevel = 1.0f;
// Not 0, as an amplifier's counter seldom is when a capture starts, so that
// a triggered capture's indices plainly count from its start and not from the
// counters (a genlock capture numbers by the counters and shows them).
const uint32_t kCounterStart = 4096;
const char* const kDefaultPlates[] = {"Sorvik", "TANDEM_TM:70x30"};
// Not on offer, but the plug-in still understands it as a stored value.
const char* const kGenlock = "Genlock";
// Detection and start-up pause for seconds on the hardware's account.
const std::chrono::seconds kDetectionTimeout{60};

const char* const kPlateHelp =
    "\nHow a detected plate finds its definition (NAME and LENGTHxWIDTH of --plate):\n"
    "  1. a built-in model whose name occurs in NAME;\n"
    "  2. else a built-in model whose length and width are within 1 % of LENGTHxWIDTH (no sizes\n"
    "     read as 19.7 x 19.7 inches);\n"
    "  3. else a definition configured on drive C: named NAME, or else one of sizes within 1 %;\n"
    "  4. else the generic \"Force plate\", 0.5 x 0.5 m.\n"
    "So a plate named after a configured definition needs sizes that fit no built-in model:\n"
    "-p BELT_UNIT alone reads as 19.7 x 19.7 inches and is the built-in Vell; -p BELT_UNIT:69x28\n"
    "is BELT_UNIT.\n";

struct Options {
    int amplifiers = 2;
    std::vector<std::string> plates;
    std::string rate = "1000";
    std::string syncMode = "Software trigger";
    double threshold = 20.0;
    double seconds = 2.0;
    std::string load = "600,0.1,-0.05";
    std::string driveC;
    std::string csv;
    bool csvGiven = false;
    float force = 0.0f, loadX = 0.0f, loadY = 0.0f;
    std::vector<UsbAmpSim::Amplifier> scripted;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file --csv names. It is opened with the options, so that a name that
// cannot be written is refused before anything starts, but what it holds is
// replaced only once the capture begins: a run that ends before leaves it as
// it was, and removes it when the run made it. After the first failure
// nothing more is written.
class CsvFile {
public:
    CsvFile() = default;
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;
    ~CsvFile() {
        if (file_ == nullptr) return;
        std::fclose(file_);
        if (!begun_ && created_) std::remove(name_.c_str());
    }

    // False, with the reason, when it can be neither made nor written.
    bool Open(const std::string& name, std::string& why) {
        name_ = name;
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created_ = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0) file_ = fdopen(fd, "w");
        if (file_ != nullptr) return true;
        why = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        if (created_) std::remove(name.c_str());
        return false;
    }
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Name() const { return name_; }

    // Empties the file and writes the header.
    void Begin() {
        begun_ = true;
        struct stat status;
        // A device such as /dev/null has nothing to empty.
        if (fstat(fileno(file_), &status) != 0 ||
            (S_ISREG(status.st_mode) && ftruncate(fileno(file_), 0) != 0))
            return Fail();
        Check(std::fputs("plate,index,Fx,Fy,Fz,Mx,My,Mz,Cx,Cy,Cz\n", file_));
    }
    void Write(size_t plate, int64_t index, const float* v) {
        if (failed_) return;
        Check(std::fprintf(file_, "%zu,%" PRId64 ",%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", plate,
                           index, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]));
    }
    bool Failed() const { return failed_; }
    // What is still buffered is written too; false, with the reason, when
    // anything written since Begin was lost.
    bool Close(std::string& why) {
        if (std::fclose(file_) != 0) Fail();
        file_ = nullptr;
        why = why_;
        return !failed_;
    }

private:
    void Check(int written) {
        if (written < 0) Fail();
    }
    void Fail() {
        if (!failed_) why_ = std::strerror(errno);
        failed_ = true;
    }

    std::string name_;
    FILE* file_ = nullptr;
    bool created_ = false;
    bool begun_ = false;
    bool failed_ = false;
    std::string why_;
};

// "NAME" or "NAME:LENGTHxWIDTH" (inches, as the amplifier reports them).
UsbAmpSim::Amplifier ScriptedAmplifier(const std::string& plate, int index) {
    UsbAmpSim::Amplifier amplifier;
    amplifier.productType = kProductType;
    amplifier.amplifierModel = "MIRT-300";
    amplifier.amplifierSerial = (format("A%04d") % (index + 1)).str();
    amplifier.amplifierFirmware = "3.02";
    amplifier.platformSerial = (format("P%04d") % (index + 1)).str();
    amplifier.xyzOffsets = {0.25f, -0.5f, 1.5f};
    const size_t colon = plate.find(':');
    amplifier.platformModel = plate.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string sizes = plate.substr(colon + 1);
        const size_t x = sizes.find('x');
        if (x == std::string::npos) throw UsageError("plate " + plate + ": sizes are LENGTHxWIDTH");
        amplifier.length = sizes.substr(0, x);
        amplifier.width = sizes.substr(x + 1);
    }
    if (amplifier.platformModel.empty()) throw UsageError("plate " + plate + " has no model");
    return amplifier;
}

po::options_description Described(Options& options) {
    po::options_description described("kesu-host options");
    // clang-format off
    described.add_options()
        ("help,h", "list the options, the settings on offer and how a plate finds its definition, and exit")
        ("amplifiers,n", po::value<int>(&options.amplifiers)->default_value(options.amplifiers),
         "number of simulated amplifiers, 1 to 16")
        ("plate,p", po::value<std::vector<std::string>>(&options.plates),
         "plate of the next amplifier: a model text such as Sorvik, or NAME:LENGTHxWIDTH with the sizes "
         "in inches, the length along y and the width along x; once per amplifier (default: Sorvik, "
         "TANDEM_TM:70x30, then Sorvik)")
        ("rate,r", po::value<std::string>(&options.rate)->default_value(options.rate),
         "sample rate asked for, samples per second: one of the rates on offer (below)")
        ("sync-mode", po::value<std::string>(&options.syncMode)->default_value(options.syncMode),
         "synchronisation mode: one of those on offer (below), or \"Genlock\"")
        ("threshold", po::value<double>(&options.threshold)->default_value(options.threshold),
         "Fz threshold in N, within the limits on offer (below); samples whose |Fz| is not above it are zero")
        ("seconds,s", po::value<double>(&options.seconds)->default_value(options.seconds),
         "length of the capture in seconds, above 0 and at most 3600")
        ("load", po::value<std::string>(&options.load)->default_value(options.load),
         "point load on every plate: FORCE,X,Y, the force in N, the point in m from the plate's centre "
         "(x along its width, y along its length); the point must lie on every plate")
        ("drive-c", po::value<std::string>(&options.driveC),
         "folder that stands for drive C: (sets KESU_DRIVE_C)")
        ("csv", po::value<std::string>(&options.csv),
         "write every sample to this file as it arrives: plate, index and the nine values (force in N, "
         "moment in N m, centre of pressure in m)");
    // clang-format on
    return described;
}

// Parses and checks what needs no module; throws UsageError or a
// program-options error. False when only the help was asked for.
bool Parse(int argc, const char* const argv[], const po::options_description& described, Options& options) {
    po::variables_map values;
    // No positional arguments: a stray word is an error, not ignored.
    po::store(po::command_line_parser(argc, argv).options(described).positional({}).run(), values);
    if (values.count("help")) return false;
    po::notify(values);

    if (options.amplifiers < 1 || options.amplifiers > kMaxAmplifiers)
        throw UsageError("--amplifiers must be 1 to 16");
    if (static_cast<int>(options.plates.size()) > options.amplifiers)
        throw UsageError("more plates than amplifiers");
    if (!(options.seconds > 0.0 && options.seconds <= kMaxSeconds))
        throw UsageError("--seconds must be above 0 and at most 3600");
    char extra = 0;
    if (std::sscanf(options.load.c_str(), "%f,%f,%f%c", &options.force, &options.loadX, &options.loadY,
                    &extra) != 3 ||
        !std::isfinite(options.force) || !std::isfinite(options.loadX) || !std::isfinite(options.loadY))
        throw UsageError("--load is FORCE,X,Y: three finite numbers");
    options.csvGiven = values.count("csv") > 0;
    if (options.csvGiven && options.csv.empty()) throw UsageError("--csv needs a file name");
    for (int i = static_cast<int>(options.plates.size()); i < options.amplifiers; ++i)
        options.plates.push_back(i < 2 ? kDefaultPlates[i] : kDefaultPlates[0]);
    for (int i = 0; i < options.amplifiers; ++i)
        options.scripted.push_back(ScriptedAmplifier(options.plates[i], i));
    return true;
}

const Parameter* Find(const Definition& definition, const std::string& name) {
    for (const Parameter& parameter : definition.parameters)
        if (parameter.name == name) return &parameter;
    return nullptr;
}

template <typename Value>
bool Load(const Parameter* parameter, Value& value) {
    return parameter != nullptr &&
           value.LoadFromBytes(parameter->image.data(), static_cast<uint32_t>(parameter->image.size()));
}

// What the module offers for the common settings, as the definition that
// holds them announces it.
struct Offer {
    std::vector<std::string> rates;
    std::vector<std::string> syncModes;
    ZentuDigitalDevice::IParameterValueDouble threshold;
};

bool ReadOffer(const std::vector<Definition>& definitions, Offer& offer) {
    for (const Definition& definition : definitions) {
        ZentuDigitalDevice::IParameterValueEnum rate;
        ZentuDigitalDevice::IParameterValueEnum syncMode;
        if (!Load(Find(definition, "SampleRate"), rate) || !Load(Find(definition, "SyncMode"), syncMode) ||
            !Load(Find(definition, "DataThreshold"), offer.threshold))
            continue;
        offer.rates = rate.GetEntries();
        offer.syncModes = syncMode.GetEntries();
        return true;
    }
    return false;
}

std::string Join(const std::vector<std::string>& texts, const std::string& quote) {
    std::string joined;
    for (const std::string& text : texts) joined += (joined.empty() ? "" : ", ") + quote + text + quote;
    return joined;
}

// The words in lines of at most 100 characters, each after the indent.
std::string Wrapped(const std::string& text, const std::string& indent) {
    std::string lines, line;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > 100 - indent.size()) {
            lines += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return lines + indent + line + "\n";
}

std::string ThresholdLimits(const Offer& offer) {
    const ZentuDigitalDevice::IParameterValueDouble& t = offer.threshold;
    return t.hasLimits ? str(format("a number from %g to %g N") % t.minimum % t.maximum) : "a finite number";
}

// Empty when a host may give the module these settings.
std::string Refusal(const Options& options, const Offer& offer) {
    const auto offered = [](const std::vector<std::string>& entries, const std::string& text) {
        return std::find(entries.begin(), entries.end(), text) != entries.end();
    };
    if (!offered(offer.rates, options.rate))
        return "--rate " + options.rate + " is not on offer: " + Join(offer.rates, "");
    if (!offered(offer.syncModes, options.syncMode) && options.syncMode != kGenlock)
        return "unknown --sync-mode " + options.syncMode + ": " + Join(offer.syncModes, "\"") + " or \"" +
               kGenlock + "\"";
    const ZentuDigitalDevice::IParameterValueDouble& t = offer.threshold;
    if (!std::isfinite(options.threshold) ||
        (t.hasLimits && !(options.threshold >= t.minimum && options.threshold <= t.maximum)))
        return "--threshold must be " + ThresholdLimits(offer);
    return "";
}

// The module's offer, then how plates find their definitions.
void PrintOffer(std::ostream& out, std::ostream& err) {
    ExampleHost host(err);
    PluginModule module(KESU_MODULE_FILE);
    Offer offer;
    if (module.IsLoaded()) {
        module.Initialise(&host);
        module.ProvideDeviceDefinitions(&host);
        const bool read = ReadOffer(host.Definitions(), offer);
        module.Shutdown();
        module.Unload();
        if (read) {
            out << "\nOn offer from the module:\n"
                << Wrapped("rates, samples per second: " + Join(offer.rates, "") +
                               "; the plug-in then takes the nearest rate that every detected amplifier "
                               "supports (a rate above them all goes to the amplifiers as it is)",
                           "  ")
                << Wrapped("synchronisation modes: " + Join(offer.syncModes, "\"") + "; \"" + kGenlock +
                               "\" is accepted too, as a stored value the plug-in still understands",
                           "  ")
                << "  threshold: " << ThresholdLimits(offer) << "\n";
        }
    }
    if (offer.rates.empty()) out << "\nThe module could not be asked what it offers.\n";
    out << kPlateHelp;
}

void ScriptAmplifiers(const Options& options) {
    UsbAmpSim::Reset();
    UsbAmpSim::SetAmplifiers(options.scripted);
    UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Producer);
    UsbAmpSim::SetCounterStart(kCounterStart);
    for (int i = 0; i < options.amplifiers; ++i)
        UsbAmpSim::SetPointLoad(i, options.force, options.loadX, options.loadY);
    // A tenth of a second into the stream, on the first amplifier.
    const uint32_t rate = static_cast<uint32_t>(std::strtoul(options.rate.c_str(), nullptr, 10));
    if (options.syncMode == "Hardware trigger")
        UsbAmpSim::SetTrigger(0, kCounterStart + rate / 10, kTriggerLevel);
}

// The definition's sizes along x and y, in metres.
bool PlateSize(const Definition& definition, double& x, double& y) {
    ZentuDigitalDevice::IParameterValueDouble sizeX, sizeY;
    if (!Load(Find(definition, "StandardDimension_X"), sizeX) ||
        !Load(Find(definition, "StandardDimension_Y"), sizeY))
        return false;
    x = sizeX.GetValue();
    y = sizeY.GetValue();
    return true;
}

std::string Sizes(const Definition& definition) {
    double x = 0.0, y = 0.0;
    if (!PlateSize(definition, x, y)) return "";
    return (format("%.4f x %.4f m") % x % y).str();
}

void PrintDefinitions(const std::vector<Definition>& definitions, std::ostream& out) {
    out << "Definitions announced: " << definitions.size() << "\n";
    for (size_t i = 0; i < definitions.size(); ++i) {
        const Definition& d = definitions[i];
        out << format("  %2d  %-32s %-22s %s\n") % (i + 1) % d.name % d.type % Sizes(d);
    }
}

// Empty when the load's point lies on every plate; a plate's centre is its origin.
std::string LoadOffPlates(const Options& options, const std::vector<DeviceHost*>& plates) {
    for (size_t i = 0; i < plates.size(); ++i) {
        double x = 0.0, y = 0.0;
        if (!PlateSize(plates[i]->Of(), x, y)) continue;
        if (std::fabs(options.loadX) <= x / 2 && std::fabs(options.loadY) <= y / 2) continue;
        return str(
            format("--load point %g, %g m lies off plate %d, %s: x runs from %.4f to %.4f m and y from "
                   "%.4f to %.4f m") %
            options.loadX % options.loadY % (i + 1) % plates[i]->Of().name % (-x / 2) % (x / 2) % (-y / 2) %
            (y / 2));
    }
    return "";
}

// Sets the common settings on the placeholder device as a user would in the
// host, then tells the device.
bool ApplySettings(DeviceHost& placeholder, const Options& options) {
    ZentuDigitalDevice::IParameterValueEnum rate;
    ZentuDigitalDevice::IParameterValueEnum syncMode;
    ZentuDigitalDevice::IParameterValueDouble threshold;
    if (!placeholder.ReadValue("SampleRate", rate) || !placeholder.ReadValue("SyncMode", syncMode) ||
        !placeholder.ReadValue("DataThreshold", threshold))
        return false;
    rate.SetValue(options.rate);
    syncMode.SetValue(options.syncMode);
    threshold.SetValue(options.threshold);
    if (!placeholder.SetValue("SampleRate", rate) || !placeholder.SetValue("SyncMode", syncMode) ||
        !placeholder.SetValue("DataThreshold", threshold))
        return false;
    placeholder.Device()->OnParametersChanged();
    return true;
}

// What every plate measured within the capture's window, worked out as the
// packets arrive, so that a long capture needs no more memory than a short
// one. The window starts at the first packet any plate writes and holds the
// samples the capture asks for; packets outside it are left out, so every
// plate that got every block covers the same packets and indices. Called with
// the host's mutex held (the packet sink, WaitUntil) or once the module's
// threads have ended.
class CaptureTable {
public:
    CaptureTable(std::vector<DeviceHost*> plates, int64_t windowSamples, CsvFile& csv)
        : plates_(std::move(plates)), windowSamples_(windowSamples), csv_(csv), summaries_(plates_.size()) {}

    void Add(const DeviceHost& plate, int64_t firstIndex, uint32_t sampleCount, const float* values) {
        const size_t p =
            static_cast<size_t>(std::find(plates_.begin(), plates_.end(), &plate) - plates_.begin());
        if (p == plates_.size() || sampleCount == 0) return;
        if (!started_) windowFirst_ = firstIndex;
        started_ = true;
        Summary& s = summaries_[p];
        const int64_t last = firstIndex + sampleCount - 1;
        if (last >= WindowLast()) s.reachedEnd = true;
        if (firstIndex < windowFirst_ || firstIndex > WindowLast()) return;

        if (s.packets == 0) s.firstIndex = firstIndex;
        if (s.packets > 0 && firstIndex > s.next) ++s.gaps;
        if (s.packets > 0 && firstIndex < s.next) ++s.repeats;
        s.next = firstIndex + sampleCount;
        s.lastIndex = last;
        ++s.packets;
        for (uint32_t k = 0; k < sampleCount; ++k) {
            const float* v = values + 9 * k;
            s.sumFz += v[2];
            s.peakFz = s.samples == 0 ? v[2] : std::max<double>(s.peakFz, v[2]);
            ++s.samples;
            if (v[2] != 0.0f) {
                s.sumCx += v[6];
                s.sumCy += v[7];
                ++s.loaded;
            }
            if (csv_.IsOpen()) csv_.Write(p + 1, firstIndex + k, v);
        }
    }

    // Every plate has had a packet that reaches the window's end.
    bool Complete() const {
        return std::all_of(summaries_.begin(), summaries_.end(),
                           [](const Summary& s) { return s.reachedEnd; });
    }

    void Print(const Options& options, std::ostream& out) const {
        out << format("%-5s %-16s %-34s %7s %8s %11s %11s %4s %7s %9s %9s %-19s %s\n") % "plate" %
                   "definition" % "instance" % "packets" % "samples" % "first index" % "last index" % "gaps" %
                   "repeats" % "mean Fz" % "peak Fz" % "mean CoP x, y" % "load at x, y";
        for (size_t i = 0; i < plates_.size(); ++i) {
            const Summary& s = summaries_[i];
            const double meanFz = s.samples > 0 ? s.sumFz / s.samples : 0.0;
            const double meanCx = s.loaded > 0 ? s.sumCx / s.loaded : NAN;
            const double meanCy = s.loaded > 0 ? s.sumCy / s.loaded : NAN;
            out << format("%-5d %-16s %-34s %7d %8d %11d %11d %4d %7d %9.3f %9.3f %-19s %.4f, %.4f\n") %
                       (i + 1) % plates_[i]->Of().name % plates_[i]->InstanceName() % s.packets % s.samples %
                       s.firstIndex % s.lastIndex % s.gaps % s.repeats % meanFz % s.peakFz %
                       (format("%.4f, %.4f") % meanCx % meanCy).str() % options.loadX % options.loadY;
        }
        if (!started_) {
            out << "note: no plate wrote a packet, so the capture has no window\n";
            return;
        }
        for (size_t i = 0; i < plates_.size(); ++i) {
            const std::string why = Shortfall(summaries_[i]);
            if (!why.empty())
                out << format("note: plate %d does not cover the window %d to %d: %s\n") % (i + 1) %
                           windowFirst_ % WindowLast() % why;
        }
    }

private:
    struct Summary {
        size_t packets = 0;
        size_t samples = 0;
        int64_t firstIndex = 0;
        int64_t lastIndex = 0;
        // The index the next packet should start at.
        int64_t next = 0;
        int gaps = 0;
        int repeats = 0;
        double sumFz = 0.0;
        double peakFz = 0.0;
        double sumCx = 0.0;
        double sumCy = 0.0;
        size_t loaded = 0;
        bool reachedEnd = false;
    };

    int64_t WindowLast() const { return windowFirst_ + windowSamples_ - 1; }

    // Empty when the plate covers the window whole.
    std::string Shortfall(const Summary& s) const {
        if (s.packets == 0) return "no packet within it";
        std::vector<std::string> reasons;
        if (s.firstIndex > windowFirst_)
            reasons.push_back(str(format("its first packet began at %d") % s.firstIndex));
        if (s.gaps > 0) reasons.push_back(str(format("%d gaps, where blocks were lost on the way") % s.gaps));
        if (s.repeats > 0) reasons.push_back(str(format("%d packets repeated") % s.repeats));
        if (s.lastIndex < WindowLast())
            reasons.push_back(str(format("the capture ended at %d") % s.lastIndex));
        if (reasons.empty() && s.samples != static_cast<size_t>(windowSamples_))
            reasons.push_back(str(format("its packets hold %d samples, from %d to %d") % s.samples %
                                  s.firstIndex % s.lastIndex));
        std::string joined;
        for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
        return joined;
    }

    const std::vector<DeviceHost*> plates_;
    const int64_t windowSamples_;
    CsvFile& csv_;
    std::vector<Summary> summaries_;
    bool started_ = false;
    int64_t windowFirst_ = 0;
};

// One run with the module loaded, initialised and its definitions given:
// checks the settings against its offer, detects, captures. A refusal is
// left in `refusal`, for the caller to give once the module is down.
int Run(const Options& options, ExampleHost& host, PluginModule& module, CsvFile& csv,
        std::unique_ptr<CaptureTable>& table, std::string& refusal, std::ostream& out, std::ostream& err) {
    Offer offer;
    if (!ReadOffer(host.Definitions(), offer)) {
        err << "kesu-host: the module offers no common settings\n";
        return kFailed;
    }
    refusal = Refusal(options, offer);
    if (!refusal.empty()) return kRefused;

    out << "Plug-in API version " << module.PluginAPIVersion() << "\n";
    PrintDefinitions(host.Definitions(), out);
    // The log goes to another stream: keep the two in the order they happened.
    out << std::flush;
    ScriptAmplifiers(options);
    module.BeginDeviceInstantiation(&host);

    const std::vector<DeviceHost*> first = host.Instances();
    if (first.size() != 1) {
        err << "kesu-host: the placeholder device was not instantiated\n";
        return kFailed;
    }
    DeviceHost* placeholder = first[0];
    placeholder->Device()->Connect(placeholder);
    // Every detection ends with a status report of the placeholder device.
    if (!host.WaitUntil([&] { return placeholder->StatusNotifications() > 0; }, kDetectionTimeout)) {
        err << "kesu-host: detection did not end\n";
        return kFailed;
    }

    std::vector<DeviceHost*> plates = host.Instances();
    plates.erase(plates.begin());
    out << "Detected " << plates.size() << " plate devices\n";
    for (DeviceHost* plate : plates) {
        out << format("  %-34s as %-16s %s\n") % plate->InstanceName() % plate->Of().name %
                   Sizes(plate->Of());
        plate->Device()->Connect(plate);
    }
    out << std::flush;
    refusal = LoadOffPlates(options, plates);
    if (!refusal.empty()) return kRefused;
    if (!ApplySettings(*placeholder, options)) {
        err << "kesu-host: the placeholder device lacks a common setting\n";
        return kFailed;
    }
    if (plates.empty()) {
        err << "kesu-host: no plate was detected\n";
        return kFailed;
    }

    // As the host does: the plates first, so that the driver's report of
    // running, which follows the placeholder's start, comes last. Their
    // streams are declared before the placeholder's start lets blocks flow.
    for (DeviceHost* plate : plates) plate->Device()->Start(plate->HostDeviceId(), plate);
    const uint32_t divisor = plates[0]->Stream().rateDivisor;
    const double rate =
        divisor == 0 ? std::strtod(options.rate.c_str(), nullptr) : double(ExampleHost::kBaseRate) / divisor;
    const int64_t packets = static_cast<int64_t>(std::ceil(options.seconds * rate / 16.0));
    table.reset(new CaptureTable(plates, 16 * packets, csv));
    if (csv.IsOpen()) csv.Begin();
    CaptureTable* const capture = table.get();
    host.SetPacketSink(
        [capture](const DeviceHost& plate, int64_t firstIndex, uint32_t sampleCount, const float* values) {
            capture->Add(plate, firstIndex, sampleCount, values);
        });
    if (!placeholder->Device()->Start(placeholder->HostDeviceId(), placeholder)) {
        err << "kesu-host: the capture could not start\n";
        return kFailed;
    }
    const double startTime = host.GetTime();
    placeholder->Device()->SetStartTime(startTime);
    for (DeviceHost* plate : plates) plate->Device()->SetStartTime(startTime);

    const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(options.seconds * 2.0 + 30.0));
    // A file that fails ends the capture: what it was for is lost.
    const bool complete = host.WaitUntil([&] { return capture->Complete() || csv.Failed(); }, timeout);
    placeholder->Device()->Stop();
    for (DeviceHost* plate : plates) plate->Device()->Stop();
    if (!complete) {
        err << "kesu-host: the capture ended before every plate had " << packets << " packets\n";
        return kFailed;
    }
    return kDone;
}

// Everything after the options: answers the exit status.
int Capture(const Options& options, CsvFile& csv, std::ostream& out, std::ostream& err) {
    if (!options.driveC.empty()) setenv("KESU_DRIVE_C", options.driveC.c_str(), 1);
    ExampleHost host(err);
    PluginModule module(KESU_MODULE_FILE);
    if (!module.IsLoaded()) {
        err << "kesu-host: " << module.Error() << "\n";
        return kFailed;
    }
    module.Initialise(&host);
    module.ProvideDeviceDefinitions(&host);

    std::unique_ptr<CaptureTable> table;
    std::string refusal;
    int status = Run(options, host, module, csv, table, refusal, out, err);
    module.Shutdown();
    module.Unload();
    UsbAmpSim::Reset();

    if (status == kRefused) {
        err << "kesu-host: " << refusal << " (--help lists the options)\n";
        return status;
    }
    if (table) table->Print(options, out);
    std::string why;
    if (csv.IsOpen() && table && !csv.Close(why)) {
        err << "kesu-host: cannot write " << csv.Name() << ": " << why << "\n";
        status = kFailed;
    }
    return status;
}

}  // namespace

int RunKesuHost(int argc, const char* const argv[], std::ostream& out, std::ostream& err) {
    Options options;
    const po::options_description described = Described(options);
    CsvFile csv;
    try {
        if (!Parse(argc, argv, described, options)) {
            out << "Usage: kesu-host [options]\n"
                << "Loads KESUplugin.kzm with simulated amplifiers, captures and prints what each plate "
                   "measured.\n\n"
                << described;
            PrintOffer(out, err);
            return kDone;
        }
        std::string why;
        if (options.csvGiven && !csv.Open(options.csv, why))
            throw UsageError("cannot write --csv " + options.csv + ": " + why);
    } catch (const std::exception& e) {
        err << "kesu-host: " << e.what() << " (--help lists the options)\n";
        return kRefused;
    }
    return Capture(options, csv, out, err);
}

}  // namespace KESUHost
