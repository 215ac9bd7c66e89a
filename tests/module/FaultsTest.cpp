// Faults of the library and the host, and hostile blocks, through the module
// and the example host's library: the plug-in logs and goes on, and nothing
// it holds is lost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/module/ModuleFixture.h"

namespace KESUTest {
namespace {

using KESUHost::DeviceHost;
using KESUHost::Packet;

const uint32_t kCounterStart = 1000;
const float kForce = 600.0f;

// A block of n amplifiers whose sample s counts first + s, every amplifier
// under kForce; At reaches float f of amplifier d in sample s.
std::vector<float> Block(uint32_t n, float first) {
    std::vector<float> block(16 * n * 8, 0.0f);
    for (uint32_t s = 0; s < 16; ++s)
        for (uint32_t d = 0; d < n; ++d) {
            float* group = &block[(s * n + d) * 8];
            group[0] = first + static_cast<float>(s);
            group[3] = -kForce;
            group[7] = UsbAmpSim::kTriggerIdle;
        }
    return block;
}
float& At(std::vector<float>& block, uint32_t n, uint32_t s, uint32_t d, uint32_t f) {
    return block[(s * n + d) * 8 + f];
}

std::vector<int64_t> FirstIndices(const DeviceHost* plate) {
    std::vector<int64_t> indices;
    for (const Packet& packet : plate->Packets()) indices.push_back(packet.firstIndex);
    return indices;
}

// A scenario on two amplifiers under kForce; what is left out takes its default.
struct Fault {
    const char* what;
    // Before the module is loaded: the library's script and the host's behaviour.
    std::function<void(HostSession&)> arrange = nullptr;
    // After the detection (also when no capture starts).
    std::function<void(HostSession&)> afterDetection = nullptr;
    // Hands blocks over during the capture and checks what came; empty:
    // eight blocks, each plate receives them numbered from 0.
    std::function<void(HostSession&)> capture = nullptr;
    // Must be in the log.
    std::vector<std::string> logged = {};
    // Plate instances the host holds after the first detections, and whether
    // the placeholder device then starts a capture.
    size_t plates = 2;
    bool starts = true;
    // Detections run before the plates are connected.
    size_t detections = 1;
};

void EightBlocks(HostSession& s) {
    for (int b = 0; b < 8; ++b) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
    ASSERT_TRUE(s.WaitForPackets(8));
    for (DeviceHost* plate : s.plates)
        EXPECT_EQ((std::vector<int64_t>{0, 16, 32, 48, 64, 80, 96, 112}), FirstIndices(plate))
            << plate->InstanceName();
}

// Two amplifiers under software trigger. A counter that is no counter drops
// that plate's packet of the block, a sample whose Fz is not above the
// threshold (NaN included) is zero, and a counter not above the last one
// counts as a wrap.
void HostileBlocks(HostSession& s) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const uint32_t n = 2;
    std::vector<std::vector<float>> blocks;
    std::vector<float> b = Block(n, kCounterStart);  // aligns: index 0
    blocks.push_back(b);
    b = Block(n, kCounterStart + 16);
    At(b, n, 0, 0, 3) = nan;  // Fz: the sample is zero
    At(b, n, 1, 0, 3) = inf;
    At(b, n, 2, 0, 3) = -inf;
    At(b, n, 3, 0, 1) = nan;  // Fx
    At(b, n, 4, 0, 4) = inf;  // Mx
    At(b, n, 5, 1, 0) = nan;  // a counter of a later sample is never read
    blocks.push_back(b);
    for (float counter : {nan, inf, -inf, -16.0f, 16777216.0f, 3e9f}) {
        b = Block(n, kCounterStart + 32);
        At(b, n, 0, 0, 0) = counter;  // amplifier 0 has no index here; amplifier 1 has
        blocks.push_back(b);
    }
    blocks.push_back(Block(n, kCounterStart + 48));  // the next one
    blocks.push_back(Block(n, kCounterStart + 48));  // repeated: taken as a wrap
    blocks.push_back(Block(n, kCounterStart));       // backwards: a wrap too
    for (std::vector<float>& block : blocks) ASSERT_TRUE(UsbAmpSim::HandOverBlock(block));

    const int64_t wrap = int64_t(1) << 24;
    ASSERT_TRUE(s.host.WaitUntil(
        [&] { return s.plates[0]->PacketCount() >= 5 && s.plates[1]->PacketCount() >= 11; }, kSafetyNet));
    EXPECT_EQ((std::vector<int64_t>{0, 16, 48, wrap + 48, 2 * wrap}), FirstIndices(s.plates[0]));
    EXPECT_EQ((std::vector<int64_t>{0, 16, 32, 32 + wrap, 32 + 2 * wrap, 32 + 3 * wrap, 32 + 4 * wrap,
                                    32 + 5 * wrap, 48 + 5 * wrap, 48 + 6 * wrap, 7 * wrap}),
              FirstIndices(s.plates[1]));
    const std::vector<Packet> packets = s.plates[0]->Packets();
    ASSERT_GE(packets.size(), 2u);
    const float* v = packets[1].values.data();
    for (int k = 0; k < 9; ++k) EXPECT_EQ(0.0f, v[k]) << "NaN Fz, value " << k;
    EXPECT_EQ(-inf, v[9 + 2]);
    EXPECT_EQ(inf, v[18 + 2]);
    EXPECT_TRUE(std::isnan(v[27 + 0]));
    EXPECT_EQ(kForce, v[36 + 2]);
    for (int k = 45; k < 144; ++k) EXPECT_EQ(packets[0].values[k], v[k]) << k;
}

// Amplifiers plugged in or unplugged while they run, then a re-scan and a new
// capture on the new set. Amplifier 0 is under kForce throughout and stays;
// amplifier 1 is under a load of its own. Blocks of the old set wait in the
// library when the re-scan's start-up begins: those of its pause before the
// stop, and with a host taking 20 ms a packet a full buffer. No plate may get
// a value of another plate, or of memory past a block.
Fault Rescan(const char* what, int before, int after, bool slowHost) {
    using namespace std::chrono_literals;
    const float otherForce = 300.0f;
    auto clock = std::make_shared<UsbAmpSim::ManualClock>();
    auto flooding = std::make_shared<std::atomic<bool>>(false);
    Fault fault{what};
    fault.plates = static_cast<size_t>(before);
    fault.logged = {slowHost ? "Dropped 256 data blocks" : "Dropped 31 data blocks"};
    fault.arrange = [=](HostSession& s) {
        UsbAmpSim::SetAmplifiers(Amplifiers(before));
        UsbAmpSim::SetPointLoad(1, otherForce, 0.0f, 0.0f);
        UsbAmpSim::SetBlockSource(UsbAmpSim::BlockSource::Producer);
        UsbAmpSim::SetClock(clock);
        s.host.SetReentry([=, &s](const std::string& operation, DeviceHost& device) {
            // Each plate connected inside its instantiation: a new one is written
            // to from the first block after the re-scan's detection.
            if (operation == "InstantiateDevice" && s.placeholder) device.Device()->Connect(&device);
            if (operation != "WriteSamples" || !*flooding) return;
            clock->Advance(20ms);
            clock->WaitForSleeper(kSafetyNet);
        });
    };
    fault.capture = [=](HostSession& s) {
        UsbAmpSim::SetAmplifiers(Amplifiers(after));  // while the amplifiers run
        if (slowHost) {
            *flooding = true;
            clock->Advance(16ms);  // the first block; the host's writes move the clock on
            ASSERT_TRUE(s.host.WaitUntil([] { return UsbAmpSim::DroppedBlocks() > 0; }, kSafetyNet));
        } else {
            clock->Advance(160ms);
            ASSERT_TRUE(s.WaitForPackets(10));
        }
        UsbAmpSim::HoldCall("fmBroadcastStop");
        ASSERT_TRUE(s.Rescan());
        ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
        *flooding = false;
        clock->Advance(500ms);  // before the start-up's stop: 31 blocks at 1000 Hz
        clock->WaitForSleeper(kSafetyNet);
        UsbAmpSim::ReleaseHeldCall();
        ASSERT_TRUE(s.WaitForDetection(2));
        s.ConnectPlates();
        s.plates.resize(static_cast<size_t>(after));
        std::vector<size_t> written;
        for (DeviceHost* plate : s.plates) written.push_back(plate->PacketCount());

        ASSERT_TRUE(s.Start());
        clock->Advance(160ms);
        for (size_t p = 0; p < s.plates.size(); ++p) {
            ASSERT_TRUE(
                s.host.WaitUntil([&] { return s.plates[p]->PacketCount() >= written[p] + 10; }, kSafetyNet));
            EXPECT_EQ(written[p] + 10, s.plates[p]->PacketCount())
                << "no block of the old set after the re-scan";
            const float force = p == 0 ? kForce : otherForce;
            for (const Packet& packet : s.plates[p]->Packets())
                for (uint32_t k = 0; k < packet.sampleCount; ++k)
                    ASSERT_EQ(force, packet.values[9 * k + 2])
                        << s.plates[p]->InstanceName() << ", index " << packet.firstIndex + k;
        }
    };
    return fault;
}

using FaultsTest = ModuleTest;

TEST_F(FaultsTest, ThePlugInLogsAndGoesOnAndLosesNothingItHolds) {
    std::atomic<int> reentries{0};
    const std::vector<Fault> faults = {
        {"a library that fails every call",
         [](HostSession&) {
             UsbAmpSim::SetDeviceCountAnswer(-1);
             UsbAmpSim::SetSetupCheckCode(0);
             UsbAmpSim::SetUnwrittenTexts({"fmGetAmplifierModelNumber", "fmGetAmplifierSerialNumber",
                                           "fmGetAmplifierFirmwareVersion", "fmGetPlatformModelNumber",
                                           "fmGetPlatformSerialNumber"});
             UsbAmpSim::SetCalibrationCheck(std::vector<int32_t>(40, 7));
             UsbAmpSim::SetCalibrationDownload(7, 5, {0});
         },
         nullptr, nullptr,
         {"No KESU devices were found", "Detected 0 KESU digital devices", "Device 7 may give bad results"},
         0, false},
        {"a library that never becomes ready",
         [](HostSession&) { UsbAmpSim::SetReadyAfterPolls(UsbAmpSim::kNeverReady); }, nullptr, nullptr,
         {"Unsuccessful KESU device detection loop: KESU device initialization timed out"}, 2, false},
        {"a library that reports no amplifier", [](HostSession&) { UsbAmpSim::SetAmplifiers({}); }, nullptr,
         nullptr, {"Detected 0 KESU digital devices"}, 0, false},
        {"a host that refuses every instantiation, and later takes them",
         [](HostSession& s) {
             // The placeholder device still gets through: it is instantiated before the refusals.
             s.host.SetReentry([&s](const std::string& operation, DeviceHost&) {
                 if (operation == "InstantiateDevice") s.host.RefuseEvery("InstantiateDevice", true);
             });
         },
         [](HostSession& s) {
             EXPECT_EQ(2u, s.LogCount("Host returned \"Instantiation is refused\" when trying"));
             s.host.SetReentry(nullptr);
             s.host.RefuseEvery("InstantiateDevice", false);
             ASSERT_TRUE(s.Rescan());
             ASSERT_TRUE(s.WaitForDetection(2));
             s.ConnectPlates();
             EXPECT_EQ(2u, s.plates.size());
         },
         nullptr, {}, 0},
        {"a host that refuses every parameter read",
         [](HostSession& s) { s.host.RefuseEvery("GetParameterValue", true); }},
        {"a host that refuses every sample write for a while", nullptr, nullptr,
         [](HostSession& s) {
             s.host.RefuseEvery("WriteSamples", true);
             for (int b = 0; b < 8; ++b) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
             ASSERT_TRUE(s.WaitForPackets(8));
             s.host.RefuseEvery("WriteSamples", false);
             for (int b = 0; b < 2; ++b) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
             ASSERT_TRUE(s.WaitForPackets(10));
             // The numbering went on through the refusals.
             for (DeviceHost* plate : s.plates)
                 EXPECT_EQ((std::vector<int64_t>{128, 144}), FirstIndices(plate));
         }},
        {"a host that asks for the status inside NotifyStatusChanged",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries](const std::string& operation, DeviceHost& device) {
                 if (operation != "NotifyStatusChanged") return;
                 uint32_t state = 0;
                 uint8_t flag = 0;
                 device.Device()->GetStatus(&state, &flag);
                 ++reentries;
             });
         },
         [&reentries](HostSession&) { EXPECT_GT(reentries.load(), 0); }},
        // The placeholder's connection inside its instantiation is a detection of its own.
        {"a host that connects each device inside InstantiateDevice",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries](const std::string& operation, DeviceHost& device) {
                 if (operation != "InstantiateDevice") return;
                 device.Device()->Connect(&device);
                 ++reentries;
             });
         },
         [&reentries](HostSession&) { EXPECT_EQ(3, reentries.load()); }, nullptr, {}, 2, true, 2},
        {"a host that changes a setting inside WriteSamples",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries, &s](const std::string& operation, DeviceHost& device) {
                 if (operation != "WriteSamples" || reentries++ > 0) return;
                 // A threshold above every load from the next block on, a
                 // zero, and a blink of the plate itself.
                 ZentuDigitalDevice::IParameterValueDouble threshold;
                 s.placeholder->ReadValue("DataThreshold", threshold);
                 threshold.SetValue(1e9);
                 s.placeholder->SetValue("DataThreshold", threshold);
                 s.placeholder->SetValue("BroadcastZero", ZentuDigitalDevice::IParameterValueAction());
                 s.placeholder->Device()->OnParametersChanged();
                 device.SetValue("BlinkAction", ZentuDigitalDevice::IParameterValueAction());
                 device.Device()->OnParametersChanged();
             });
         },
         nullptr,
         [](HostSession& s) {
             for (int b = 0; b < 3; ++b) ASSERT_TRUE(UsbAmpSim::HandOverBlock());
             ASSERT_TRUE(s.WaitForPackets(3));
             // Every command queued by then has run once the next start has.
             ASSERT_TRUE(s.Start());
             EXPECT_EQ(1u, LibraryCalls("fmBroadcastZero"));
             EXPECT_EQ(1u, LibraryCalls("fmSetBlink"));
             for (DeviceHost* plate : s.plates) {
                 const std::vector<Packet> packets = plate->Packets();
                 ASSERT_EQ(3u, packets.size());
                 EXPECT_EQ(kForce, packets[0].values[2]) << plate->InstanceName();
                 EXPECT_EQ(0.0f, packets[2].values[2]) << plate->InstanceName();
             }
         }},
        // Each returns at once; the placeholder's act once the block is written.
        {"a host that stops the capture inside WriteSamples",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries, &s](const std::string& operation, DeviceHost&) {
                 if (operation == "WriteSamples" && reentries++ == 0) s.placeholder->Device()->Stop();
             });
         },
         nullptr,
         [](HostSession& s) {
             // The amplifiers run on, as after any host stop.
             EightBlocks(s);
             uint32_t state = 0;
             uint8_t flag = 0;
             s.placeholder->Device()->GetStatus(&state, &flag);
             EXPECT_EQ(2u, state);
         }},
        {"a host that starts the capture again inside WriteSamples",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries, &s](const std::string& operation, DeviceHost&) {
                 if (operation != "WriteSamples" || reentries++ > 0) return;
                 EXPECT_TRUE(s.placeholder->Device()->Start(s.placeholder->HostDeviceId(), s.placeholder));
             });
         },
         nullptr,
         [](HostSession& s) {
             ASSERT_TRUE(UsbAmpSim::HandOverBlock());
             ASSERT_TRUE(s.host.WaitUntil([] { return LibraryCalls("fmBroadcastStart") == 2; }, kSafetyNet));
             ASSERT_TRUE(UsbAmpSim::WaitUntilStreaming(kSafetyNet));
             s.placeholder->Device()->SetStartTime(HostSession::kNow);
             ASSERT_TRUE(UsbAmpSim::HandOverBlock());
             ASSERT_TRUE(s.WaitForPackets(2));
             for (DeviceHost* plate : s.plates) EXPECT_EQ((std::vector<int64_t>{0, 0}), FirstIndices(plate));
             EXPECT_EQ(2u, LibraryCalls("fmBroadcastStart"));
         }},
        {"a host that starts a plate again inside its WriteSamples",
         [&reentries](HostSession& s) {
             s.host.SetReentry([&reentries](const std::string& operation, DeviceHost& plate) {
                 if (operation != "WriteSamples" || reentries++ > 0) return;
                 EXPECT_TRUE(plate.Device()->Start(plate.HostDeviceId(), &plate));
             });
         }},
        {"amplifiers unplugged and plugged again across hundreds of re-scans", nullptr,
         [](HostSession& s) {
             // Four identities, one of them sometimes twice: at most five devices.
             const std::vector<UsbAmpSim::Amplifier> pool = Amplifiers(4);
             std::map<std::string, size_t> most;
             uint32_t random = 12345;
             for (size_t scan = 0; scan < 300; ++scan) {
                 std::vector<UsbAmpSim::Amplifier> attached;
                 for (const UsbAmpSim::Amplifier& a : pool) {
                     random = random * 1103515245u + 12345u;
                     const size_t copies = (random >> 16) % (a.amplifierSerial == "A1" ? 3 : 2);
                     attached.insert(attached.end(), copies, a);
                     most[a.amplifierSerial] = std::max(most[a.amplifierSerial], copies);
                 }
                 UsbAmpSim::SetAmplifiers(attached);
                 ASSERT_TRUE(s.Rescan());
                 ASSERT_TRUE(s.WaitForDetection(scan + 2));
             }
             size_t bound = 0;
             for (const auto& m : most) bound += m.second;
             EXPECT_EQ(5u, bound);
             const std::vector<DeviceHost*> instances = s.host.Instances();
             EXPECT_EQ(1 + bound, instances.size());
             EXPECT_EQ(bound, s.LogCount("Instantiating device"));
             std::set<ZentuDigitalDevice::IDevice*> devices;
             for (DeviceHost* instance : instances) devices.insert(instance->Device());
             EXPECT_EQ(instances.size(), devices.size());
             // The capture runs on the first two again.
             UsbAmpSim::SetAmplifiers(Amplifiers(2));
             ASSERT_TRUE(s.Rescan());
             ASSERT_TRUE(s.WaitForDetection(302));
             s.plates.resize(2);
         }},
        {"hostile blocks", nullptr, nullptr, HostileBlocks},
        Rescan("one amplifier streaming, a second at the re-scan, a host that keeps up", 1, 2, false),
        Rescan("one amplifier streaming, a second at the re-scan, a host taking 20 ms a packet", 1, 2, true),
        Rescan("two amplifiers streaming, one left at the re-scan, a host that keeps up", 2, 1, false),
        Rescan("two amplifiers streaming, one left at the re-scan, a host taking 20 ms a packet", 2, 1, true),
        {"a hardware trigger that never comes", nullptr,
         [](HostSession& s) { ASSERT_TRUE(s.ChangeText("SyncMode", "Hardware trigger")); },
         [](HostSession& s) {
             for (int b = 0; b < 8; ++b) {
                 std::vector<float> block = Block(2, kCounterStart + 16 * b);
                 // Levels of the other types, and no trigger at all.
                 for (uint32_t i = 0; i < 16; ++i) At(block, 2, i, b % 2, 7) = b < 4 ? 0.0f : 1.5f;
                 ASSERT_TRUE(UsbAmpSim::HandOverBlock(block));
             }
             // Then one at sample 3 of the second amplifier: only that block
             // is written, and that sample is index 0.
             std::vector<float> block = Block(2, kCounterStart + 128);
             At(block, 2, 3, 1, 7) = 1.0f;
             ASSERT_TRUE(UsbAmpSim::HandOverBlock(block));
             ASSERT_TRUE(s.WaitForPackets(1));
             for (DeviceHost* plate : s.plates) EXPECT_EQ((std::vector<int64_t>{-3}), FirstIndices(plate));
         }},
    };

    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        UsbAmpSim::Reset();
        UsbAmpSim::SetAmplifiers(Amplifiers(2));
        UsbAmpSim::SetCounterStart(kCounterStart);
        for (int32_t d = 0; d < 2; ++d) UsbAmpSim::SetPointLoad(d, kForce, 0.0f, 0.0f);
        reentries = 0;
        HostSession s;
        UnloadAtEnd unload{*this};
        if (fault.arrange) fault.arrange(s);
        KESUHost::PluginModule& module = Load();
        ASSERT_TRUE(s.Boot(module));
        s.placeholder->Device()->Connect(s.placeholder);
        ASSERT_TRUE(s.WaitForDetection(fault.detections))
            << s.log.str().substr(s.log.str().size() > 3000 ? s.log.str().size() - 3000 : 0);
        s.ConnectPlates();
        EXPECT_EQ(fault.plates, s.plates.size());
        if (fault.afterDetection) fault.afterDetection(s);
        if (HasFatalFailure()) return;

        if (fault.starts) {
            ASSERT_TRUE(s.Start());
            (fault.capture ? fault.capture : EightBlocks)(s);
            if (HasFatalFailure()) return;
            s.Stop();
        } else {
            EXPECT_FALSE(s.Start(false));
        }
        module.Shutdown();
        Unload();
        for (const std::string& text : fault.logged) EXPECT_GT(s.LogCount(text), 0u) << text;
        EXPECT_EQ(0u, s.LogCount("exception")) << s.log.str().substr(0, 4000);
    }
}

}  // namespace
}  // namespace KESUTest
