// The module ended, by Shutdown or by unloading it without one, while it is
// busy: blocks streaming, a detection held inside a library call, a host
// thread in the placeholder's start pause. Nothing may crash, wait for ever,
// leak, or call back into an object that is gone (the sanitizer builds catch
// the last two).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "tests/module/ModuleFixture.h"

namespace KESUTest {
namespace {

using LifetimeScenariosTest = ModuleTest;

TEST_F(LifetimeScenariosTest, EndingTheModuleWhileItIsBusyEndsCleanly) {
    struct Busy {
        const char* what;
        // Brings the module into the state, from a detected and connected session.
        std::function<void(HostSession&)> enter;
        // Runs on the test thread right after the end began on another thread.
        std::function<void()> release;
        // What must hold once the module is gone.
        std::function<void(HostSession&)> after;
    };

    std::unique_ptr<std::thread> feeder, starter;
    std::atomic<bool> feeding{false};
    std::unique_ptr<Signal> paused, resume;
    std::atomic<DWORD> starterId{0};

    const std::vector<Busy> states = {
        {"blocks streaming",
         [&](HostSession& s) {
             ASSERT_TRUE(s.Start());
             feeding = true;
             // Until the library is shut down under it, or a bound.
             feeder.reset(new std::thread([&] {
                 for (int b = 0; b < 5000 && feeding; ++b)
                     if (!UsbAmpSim::HandOverBlock()) break;
             }));
             ASSERT_TRUE(s.WaitForPackets(20));
         },
         [&] {}, [&](HostSession&) { feeding = false; feeder->join(); }},
        {"a detection held inside a library call",
         [&](HostSession& s) {
             UsbAmpSim::HoldCall("fmDLLGetDeviceCount");
             ASSERT_TRUE(s.Rescan());
             ASSERT_TRUE(UsbAmpSim::WaitUntilHeld(kSafetyNet));
         },
         [&] { UsbAmpSim::ReleaseHeldCall(); },
         [&](HostSession& s) {
             // The held detection ended and reached the placeholder device, which still stood.
             EXPECT_EQ(2u, s.LogCount("Detected 2 KESU digital devices"));
         }},
        {"a host thread in the start pause",
         [&](HostSession& s) {
             sleeps_.SetPauseCallback([&](DWORD milliseconds) {
                 if (milliseconds == 500 && GetCurrentThreadId() == starterId) {
                     paused->Raise();
                     resume->Wait();
                 }
             });
             for (KESUHost::DeviceHost* plate : s.plates)
                 ASSERT_TRUE(plate->Device()->Start(plate->HostDeviceId(), plate));
             // That thread calls nothing after the placeholder's Start. Like any
             // host, it keeps the module loaded while it is inside: no module
             // can keep its code mapped under a thread returning into it.
             starter.reset(new std::thread([&] {
                 void* pin = dlopen(KESU_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD);
                 starterId = GetCurrentThreadId();
                 EXPECT_TRUE(s.placeholder->Device()->Start(s.placeholder->HostDeviceId(), s.placeholder));
                 if (pin) dlclose(pin);
             }));
             ASSERT_TRUE(paused->Wait());
         },
         // Either order of the end and the pause's end must do.
         [&] { resume->Raise(); }, [&](HostSession&) { starter->join(); }},
    };

    // A second Initialise must release the busy service before the busy placeholder device.
    enum Ending { kShutdown, kUnload, kInitialise };
    const char* const endings[] = {", Shutdown", ", unloaded without Shutdown", ", Initialise again"};
    for (const Busy& busy : states)
        for (const Ending ending : {kShutdown, kUnload, kInitialise}) {
            SCOPED_TRACE(std::string(busy.what) + endings[ending]);
            UsbAmpSim::Reset();
            UsbAmpSim::SetAmplifiers(Amplifiers(2));
            sleeps_.SetPauseCallback(nullptr);
            paused.reset(new Signal);
            resume.reset(new Signal);
            starterId = 0;
            {
                HostSession s;
                UnloadAtEnd unload{*this};
                KESUHost::PluginModule& module = Load();
                ASSERT_TRUE(s.Boot(module));
                ASSERT_TRUE(s.Detect());
                ASSERT_EQ(2u, s.plates.size());
                busy.enter(s);
                if (HasFatalFailure()) return;

                std::thread ender([&] {
                    if (ending == kInitialise) module.Initialise(&s.host);
                    if (ending != kUnload) module.Shutdown();
                    Unload();
                });
                busy.release();
                ender.join();
                busy.after(s);
                EXPECT_EQ(nullptr, dlopen(KESU_MODULE_FILE, RTLD_NOW | RTLD_NOLOAD));
                EXPECT_EQ(1u, LibraryCalls("fmDLLShutDown"));
                const size_t written = s.plates[0]->PacketCount();
                // Nothing is left to write: a block handed over now reaches nobody.
                EXPECT_FALSE(UsbAmpSim::HandOverBlock());
                EXPECT_EQ(written, s.plates[0]->PacketCount());
            }
        }
}

}  // namespace
}  // namespace KESUTest
