#include "host/KesuHostProgram.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
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

const int kMaxAmplifiers = 8;
// The amplifier type scripted; its hardware-trigger level is 1.
const int32_t kProductType = 300;
const float kTriggerLevel = 1.0f;
// Away from 0: the plug-in counts a capture's first block at counter 0 as a
// wrap of the 24-bit counter.
const uint32_t kCounterStart = 4096;
const char* const kDefaultPlates[] = {"Sorvik", "TANDEM_TM:70x30"};
// Detection and start-up pause for seconds on the hardware's account.
const std::chrono::seconds kDetectionTimeout{60};

struct Options {
    int amplifiers = 2;
    std::vector<std::string> plates;
    unsigned rate = 1000;
    std::string syncMode = "Software trigger";
    double threshold = 20.0;
    double seconds = 2.0;
    std::string load = "600,0.1,-0.05";
    std::string driveC;
    std::string csv;
    float force = 0.0f, loadX = 0.0f, loadY = 0.0f;
    std::vector<UsbAmpSim::Amplifier> scripted;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "NAME" or "NAME:LENGTHxWIDTH" (inches, as the amplifier reports them).
UsbAmpSim::Amplifier ScriptedAmplifier(const std::string& plate, int index) {
    UsbAmpSim::Amplifier amplifier;
    amplifier.productType = kProductType;
    amplifier.amplifierModel = "MIRT-300";
    amplifier.amplifierSerial = (boost::format("A%04d") % (index + 1)).str();
    amplifier.amplifierFirmware = "3.02";
    amplifier.platformSerial = (boost::format("P%04d") % (index + 1)).str();
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

// Parses and checks; throws UsageError or a program-options error. False when
// only the help was asked for.
bool Parse(int argc, const char* const argv[], Options& options, std::ostream& out) {
    po::options_description described("kesu-host options");
    // clang-format off
    described.add_options()
        ("help,h", "list the options and exit")
        ("amplifiers,n", po::value<int>(&options.amplifiers)->default_value(options.amplifiers),
         "number of simulated amplifiers, 1 to 8")
        ("plate,p", po::value<std::vector<std::string>>(&options.plates),
         "plate of the next amplifier: a model text such as Sorvik, or NAME:LENGTHxWIDTH with the sizes "
         "in inches; once per amplifier (default: Sorvik, TANDEM_TM:70x30, then Sorvik)")
        ("rate,r", po::value<unsigned>(&options.rate)->default_value(options.rate),
         "sample rate asked for, samples per second")
        ("sync-mode", po::value<std::string>(&options.syncMode)->default_value(options.syncMode),
         "\"Software trigger\", \"Hardware trigger\" or \"Genlock\"")
        ("threshold", po::value<double>(&options.threshold)->default_value(options.threshold),
         "Fz threshold; samples not above it are zero")
        ("seconds,s", po::value<double>(&options.seconds)->default_value(options.seconds),
         "length of the capture")
        ("load", po::value<std::string>(&options.load)->default_value(options.load),
         "point load on every plate: FORCE,X,Y in newtons and metres")
        ("drive-c", po::value<std::string>(&options.driveC),
         "folder that stands for drive C: (sets KESU_DRIVE_C)")
        ("csv", po::value<std::string>(&options.csv),
         "write every sample to this file: plate, index and the nine values");
    // clang-format on

    po::variables_map values;
    // No positional arguments: a stray word is an error, not ignored.
    po::store(po::command_line_parser(argc, argv).options(described).positional({}).run(), values);
    if (values.count("help")) {
        out << "Usage: kesu-host [options]\n"
            << "Loads KESUplugin.kzm with simulated amplifiers, captures and prints what each plate "
               "measured.\n\n"
            << described;
        return false;
    }
    po::notify(values);

    if (options.amplifiers < 1 || options.amplifiers > kMaxAmplifiers)
        throw UsageError("--amplifiers must be 1 to 8");
    if (static_cast<int>(options.plates.size()) > options.amplifiers)
        throw UsageError("more plates than amplifiers");
    if (options.rate == 0) throw UsageError("--rate must be above 0");
    if (!(options.seconds > 0.0 && options.seconds <= 3600.0)) throw UsageError("--seconds must be above 0");
    if (options.syncMode != "Software trigger" && options.syncMode != "Hardware trigger" &&
        options.syncMode != "Genlock")
        throw UsageError("unknown --sync-mode " + options.syncMode);
    char extra = 0;
    if (std::sscanf(options.load.c_str(), "%f,%f,%f%c", &options.force, &options.loadX, &options.loadY,
                    &extra) != 3)
        throw UsageError("--load is FORCE,X,Y");
    for (int i = static_cast<int>(options.plates.size()); i < options.amplifiers; ++i)
        options.plates.push_back(i < 2 ? kDefaultPlates[i] : kDefaultPlates[0]);
    for (int i = 0; i < options.amplifiers; ++i)
        options.scripted.push_back(ScriptedAmplifier(options.plates[i], i));
    return true;
}

void ScriptAmplifiers(const Options& options) {
    UsbAmpSim::Reset();
    UsbAmpSim::SetAmplifiers(options.scripted);
    UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Producer);
    UsbAmpSim::SetCounterStart(kCounterStart);
    for (int i = 0; i < options.amplifiers; ++i)
        UsbAmpSim::SetPointLoad(i, options.force, options.loadX, options.loadY);
    // A tenth of a second into the stream, on the first amplifier.
    if (options.syncMode == "Hardware trigger")
        UsbAmpSim::SetTrigger(0, kCounterStart + options.rate / 10, kTriggerLevel);
}

double ReadDouble(const Parameter* parameter) {
    ZentuDigitalDevice::IParameterValueDouble value;
    if (parameter == nullptr ||
        !value.LoadFromBytes(parameter->image.data(), static_cast<uint32_t>(parameter->image.size())))
        return NAN;
    return value.GetValue();
}

const Parameter* Find(const Definition& definition, const std::string& name) {
    for (const Parameter& parameter : definition.parameters)
        if (parameter.name == name) return &parameter;
    return nullptr;
}

std::string Sizes(const Definition& definition) {
    const Parameter* x = Find(definition, "StandardDimension_X");
    const Parameter* y = Find(definition, "StandardDimension_Y");
    if (x == nullptr || y == nullptr) return "";
    return (boost::format("%.4f x %.4f m") % ReadDouble(x) % ReadDouble(y)).str();
}

void PrintDefinitions(const std::vector<Definition>& definitions, std::ostream& out) {
    out << "Definitions announced: " << definitions.size() << "\n";
    for (size_t i = 0; i < definitions.size(); ++i) {
        const Definition& d = definitions[i];
        out << boost::format("  %2d  %-32s %-22s %s\n") % (i + 1) % d.name % d.type % Sizes(d);
    }
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
    rate.SetValue(std::to_string(options.rate));
    syncMode.SetValue(options.syncMode);
    threshold.SetValue(options.threshold);
    if (!placeholder.SetValue("SampleRate", rate) || !placeholder.SetValue("SyncMode", syncMode) ||
        !placeholder.SetValue("DataThreshold", threshold))
        return false;
    placeholder.Device()->OnParametersChanged();
    return true;
}

struct PlateSummary {
    size_t packets = 0;
    size_t samples = 0;
    int64_t firstIndex = 0;
    int64_t lastIndex = 0;
    int gaps = 0;
    int repeats = 0;
    double meanFz = 0.0;
    double peakFz = 0.0;
    double meanCx = NAN;
    double meanCy = NAN;
};

PlateSummary Summarise(const std::vector<Packet>& packets) {
    PlateSummary summary;
    summary.packets = packets.size();
    double sumFz = 0.0, sumCx = 0.0, sumCy = 0.0;
    size_t loaded = 0;
    for (size_t p = 0; p < packets.size(); ++p) {
        const Packet& packet = packets[p];
        if (p == 0) summary.firstIndex = packet.firstIndex;
        if (p > 0) {
            const int64_t expected = packets[p - 1].firstIndex + packets[p - 1].sampleCount;
            if (packet.firstIndex > expected) ++summary.gaps;
            if (packet.firstIndex < expected) ++summary.repeats;
        }
        summary.lastIndex = packet.firstIndex + packet.sampleCount - 1;
        for (uint32_t s = 0; s < packet.sampleCount; ++s) {
            const float* v = &packet.values[9 * s];
            sumFz += v[2];
            summary.peakFz = summary.samples == 0 ? v[2] : std::max<double>(summary.peakFz, v[2]);
            ++summary.samples;
            if (v[2] != 0.0f) {
                sumCx += v[6];
                sumCy += v[7];
                ++loaded;
            }
        }
    }
    if (summary.samples > 0) summary.meanFz = sumFz / summary.samples;
    if (loaded > 0) {
        summary.meanCx = sumCx / loaded;
        summary.meanCy = sumCy / loaded;
    }
    return summary;
}

void PrintTable(const std::vector<DeviceHost*>& plates, const std::vector<std::vector<Packet>>& packets,
                const Options& options, std::ostream& out) {
    out << boost::format("%-5s %-16s %-34s %7s %8s %11s %11s %4s %7s %9s %9s %-19s %s\n") % "plate" %
               "definition" % "instance" % "packets" % "samples" % "first index" % "last index" % "gaps" %
               "repeats" % "mean Fz" % "peak Fz" % "mean CoP x, y" % "load at x, y";
    for (size_t i = 0; i < plates.size(); ++i) {
        const PlateSummary s = Summarise(packets[i]);
        out << boost::format("%-5d %-16s %-34s %7d %8d %11d %11d %4d %7d %9.3f %9.3f %-19s %.4f, %.4f\n") %
                   (i + 1) % plates[i]->Of().name % plates[i]->InstanceName() % s.packets % s.samples %
                   s.firstIndex % s.lastIndex % s.gaps % s.repeats % s.meanFz % s.peakFz %
                   (boost::format("%.4f, %.4f") % s.meanCx % s.meanCy).str() % options.loadX % options.loadY;
    }
}

bool WriteCsv(const std::string& file, const std::vector<std::vector<Packet>>& packets) {
    std::ofstream csv(file, std::ios::trunc);
    csv << "plate,index,Fx,Fy,Fz,Mx,My,Mz,Cx,Cy,Cz\n";
    for (size_t plate = 0; plate < packets.size(); ++plate)
        for (const Packet& packet : packets[plate])
            for (uint32_t s = 0; s < packet.sampleCount; ++s) {
                csv << (plate + 1) << ',' << packet.firstIndex + s;
                for (int k = 0; k < 9; ++k) csv << ',' << boost::format("%.9g") % packet.values[9 * s + k];
                csv << '\n';
            }
    return static_cast<bool>(csv);
}

// Everything after the options: answers the exit status.
int Capture(const Options& options, std::ostream& out, std::ostream& err) {
    if (!options.driveC.empty()) setenv("KESU_DRIVE_C", options.driveC.c_str(), 1);
    ScriptAmplifiers(options);

    ExampleHost host(err);
    PluginModule module(KESU_MODULE_FILE);
    if (!module.IsLoaded()) {
        err << "kesu-host: " << module.Error() << "\n";
        return 1;
    }
    out << "Plug-in API version " << module.PluginAPIVersion() << "\n";
    module.Initialise(&host);
    module.ProvideDeviceDefinitions(&host);
    PrintDefinitions(host.Definitions(), out);
    // The log goes to another stream: keep the two in the order they happened.
    out << std::flush;
    module.BeginDeviceInstantiation(&host);

    int status = 0;
    const std::vector<DeviceHost*> first = host.Instances();
    if (first.size() != 1) {
        err << "kesu-host: the placeholder device was not instantiated\n";
        status = 1;
    }
    DeviceHost* placeholder = status == 0 ? first[0] : nullptr;
    if (placeholder != nullptr) {
        placeholder->Device()->Connect(placeholder);
        // Every detection ends with a status report of the placeholder device.
        if (!host.WaitUntil([&] { return placeholder->StatusNotifications() > 0; }, kDetectionTimeout)) {
            err << "kesu-host: detection did not end\n";
            status = 1;
        }
    }

    std::vector<DeviceHost*> plates = host.Instances();
    if (!plates.empty()) plates.erase(plates.begin());
    if (status == 0) {
        out << "Detected " << plates.size() << " plate devices\n";
        for (DeviceHost* plate : plates) {
            out << boost::format("  %-34s as %-16s %s\n") % plate->InstanceName() % plate->Of().name %
                       Sizes(plate->Of());
            plate->Device()->Connect(plate);
        }
        out << std::flush;
        if (!ApplySettings(*placeholder, options)) {
            err << "kesu-host: the placeholder device lacks a common setting\n";
            status = 1;
        }
    }

    if (status == 0) {
        // As the host does: the plates first, so that the driver's report of
        // running, which follows the placeholder's start, comes last.
        for (DeviceHost* plate : plates) plate->Device()->Start(plate->HostDeviceId(), plate);
        if (!placeholder->Device()->Start(placeholder->HostDeviceId(), placeholder)) {
            err << "kesu-host: the capture could not start\n";
            status = 1;
        }
    }
    if (status == 0) {
        const double startTime = host.GetTime();
        placeholder->Device()->SetStartTime(startTime);
        for (DeviceHost* plate : plates) plate->Device()->SetStartTime(startTime);

        const uint32_t divisor = plates.empty() ? 0 : plates[0]->Stream().rateDivisor;
        const double rate = divisor == 0 ? options.rate : double(ExampleHost::kBaseRate) / divisor;
        const size_t wanted = static_cast<size_t>(std::ceil(options.seconds * rate / 16.0));
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(options.seconds * 2.0 + 30.0));
        const bool complete = host.WaitUntil(
            [&] {
                return std::all_of(plates.begin(), plates.end(),
                                   [&](DeviceHost* plate) { return plate->PacketCount() >= wanted; });
            },
            timeout);
        placeholder->Device()->Stop();
        for (DeviceHost* plate : plates) plate->Device()->Stop();
        if (!complete) {
            err << "kesu-host: the capture ended before every plate had " << wanted << " packets\n";
            status = 1;
        }
    }

    std::vector<std::vector<Packet>> packets;
    for (DeviceHost* plate : plates) packets.push_back(plate->Packets());
    module.Shutdown();
    module.Unload();
    UsbAmpSim::Reset();

    if (!plates.empty()) PrintTable(plates, packets, options, out);
    if (!options.csv.empty() && !WriteCsv(options.csv, packets)) {
        err << "kesu-host: cannot write " << options.csv << "\n";
        status = 1;
    }
    return status;
}

}  // namespace

int RunKesuHost(int argc, const char* const argv[], std::ostream& out, std::ostream& err) {
    Options options;
    try {
        if (!Parse(argc, argv, options, out)) return 0;
    } catch (const std::exception& e) {
        err << "kesu-host: " << e.what() << " (--help lists the options)\n";
        return 2;
    }
    return Capture(options, out, err);
}

}  // namespace KESUHost
