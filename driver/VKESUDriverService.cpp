#include "driver/VKESUDriverService.h"

#include <algorithm>
#include <boost/bind/bind.hpp>
#include <boost/format.hpp>
#include <cstring>
#include <exception>

#include "platform/usbamp/KESUUSBDevice.h"
#include "sdk/ModuleHost.h"

namespace KESU {

namespace {

using boost::format;
using boost::str;

const int kMaxReadinessPolls = 51;
const int kMaxDownloadPolls = 50;
const size_t kCalibrationSlots = 16;
const size_t kSerialShown = 16;
const DWORD kCommandPause = 250;

// fmDLLSetupCheck's answer for a set-up that is the one saved last.
const int kSetupUnchanged = 1;

// Answers of fmPeloraDownloadCalFile and fmIsPeloraDownloadComplete.
const int kDownloadStarted = 0;
const int kDownloadBusy = 0;
const int kDownloadDone = 1;

// A library that fills the whole buffer leaves no terminator: the text ends
// at the first NUL or at the end of the buffer, whichever comes first.
std::string TextOf(const char* buffer, size_t size) {
    return std::string(buffer, strnlen(buffer, size));
}

// The buffer is cleared first, so a call that writes nothing yields an empty
// text rather than the previous field's.
template <size_t N>
std::string ReadText(char (&buffer)[N], int (*read)(char*)) {
    std::memset(buffer, 0, N);
    read(buffer);
    return TextOf(buffer, N);
}

// How a calibration download's answer is logged, for one plate.
struct DownloadOutcome {
    enum Filling { kNothing, kSerial, kDevice };

    int answer;
    int level;
    const char* text;
    Filling filling;  // what takes the text's one placeholder
};

// fmPeloraDownloadCalFile's answer when it did not start the download.
const DownloadOutcome kRefusedDownloads[] = {
    {1, LogLevel::kWarning, "Platform %s is not an Pelora platform", DownloadOutcome::kSerial},
    {2, LogLevel::kWarning, "Signal conditioner %d thinks it's an Pelora but it isn't",
     DownloadOutcome::kDevice},
    {3, LogLevel::kWarning, "Can't find Pelora BCF on the system for %s", DownloadOutcome::kSerial},
};
const DownloadOutcome kUnknownRefusal{
    -1, LogLevel::kWarning, "Unable to download Pelora BCF for unknown reasons", DownloadOutcome::kNothing};

// What ended the polls of a started download: the first answer that was not
// busy, or busy still at the last poll.
const DownloadOutcome kFinishedDownloads[] = {
    {kDownloadDone, LogLevel::kTrace, "Pelora download is complete", DownloadOutcome::kNothing},
    {3, LogLevel::kWarning, "Bad Pelora BCF version seen for %s", DownloadOutcome::kSerial},
    {4, LogLevel::kWarning, "Bad CRC check on Pelora BCF download for %s", DownloadOutcome::kSerial},
    {kDownloadBusy, LogLevel::kWarning, "Pelora BCF download timed out for %s", DownloadOutcome::kSerial},
};
const DownloadOutcome kFailedDownload{-1, LogLevel::kWarning, "Pelora BCF download failed for %s",
                                      DownloadOutcome::kSerial};

template <size_t N>
const DownloadOutcome& OutcomeOf(int answer, const DownloadOutcome (&table)[N],
                                 const DownloadOutcome& otherwise) {
    for (const DownloadOutcome& outcome : table)
        if (outcome.answer == answer) return outcome;
    return otherwise;
}

std::string Describe(const DownloadOutcome& outcome, const std::string& serial, int device) {
    switch (outcome.filling) {
        case DownloadOutcome::kSerial:
            return str(format(outcome.text) % serial);
        case DownloadOutcome::kDevice:
            return str(format(outcome.text) % device);
        case DownloadOutcome::kNothing:
            break;
    }
    return outcome.text;
}

const char* SetupCheckMessage(int code) {
    switch (code) {
        case 0:
            return "No KESU devices were found";
        case kSetupUnchanged:
            return "The KESU setup is the same as the last saved configuration";
        case 211:
            return "The configuration file was not found";
        case 213:
            return "A configuration file was found but for the wrong version of the software";
        case 214:
            return "The configuration has changed. A different number of KESU devices were detected than the "
                   "previously saved setup.";
        case 215:
            return "The configuration has changed. The serial numbers don\x92t match the previously saved "
                   "setup.";
        default:
            return "fmDLLSetupCheck returned an unknown status code";
    }
}

}  // namespace

VKESUDriverService::VKESUDriverService()
    : waitingCommands(0),
      quitAsked(false),
      commandsBeforeQuit(0),
      startBarrier(2),
      workerThreadId(0),
      running(false),
      dllInitialised(false),
      stopPending(false),
      queuedStops(0),
      logger(g_host) {
    workerThread.reset(new boost::thread(boost::bind(&VKESUDriverService::ThreadProc, this)));
    startBarrier.wait();
}

VKESUDriverService::~VKESUDriverService() {
    {
        boost::unique_lock<boost::mutex> lock(queueMutex);
        commandsBeforeQuit = commandQueue.size();
        quitAsked = true;
    }
    // Only wakes an idle worker: a post refused by a full queue leaves
    // messages enough to wake it.
    PostThreadMessageW(workerThreadId, WM_DRIVER_QUIT, 0, 0);
    workerThread->join();
    workerThread.reset();
    // The worker has ended, so nothing else can reach the library now.
    if (!dllInitialised) return;
    // The host is unloading the module: a pause or a log line that fails is
    // logged, and the amplifiers are still stopped and the library shut down.
    auto guarded = [this](const boost::function<void()>& step) {
        try {
            step();
        } catch (...) {
            LogCaughtException("KESU driver shutdown");
        }
    };
    guarded([] { Sleep(250); });
    fmBroadcastStop();
    guarded([] { Sleep(250); });
    fmDLLShutDown();
    guarded([this] { Log("::fmDLLShutDown", LogLevel::kTrace); });
    guarded([] { Sleep(500); });
}

void VKESUDriverService::ThreadProc() {
    MSG msg;
    // Create the queue before the constructor returns: a post to a thread
    // without one is dropped, and a command queued at once must not be lost.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    workerThreadId = GetCurrentThreadId();
    startBarrier.wait();

    // The worker lives in the host's process: an exception from a command or
    // a callback must end neither the worker nor the process.
    while (!quitAsked && GetMessageW(&msg, nullptr, 0, 0)) {
        if (msg.message == WM_DRIVER_QUIT) break;
        try {
            if (msg.message == WM_DATA_READY)
                DrainDataBlocks();
            else if (msg.message == WM_DRIVER_COMMAND)
                RunNextCommand();
        } catch (...) {
            LogCaughtException("KESU driver worker");
        }
    }
    if (!quitAsked) return;
    // The commands queued before the quit, without draining more: their
    // messages may lie behind it, or a full queue may have refused them.
    for (bool ran = true; ran;) {
        try {
            ran = RunNextCommand();
        } catch (...) {
            LogCaughtException("KESU driver worker");
        }
    }
}

void VKESUDriverService::DrainDataBlocks() {
    // The library posts one data message per block, so in a flood the
    // messages of waiting commands sit behind thousands of data messages:
    // commands get their turn here instead, between blocks.
    float* block = nullptr;
    int untilTurn = kBlocksPerTurn;
    while (fmDLLTransferFloatData(&block)) {
        if (dataCallback) dataCallback(block);
        if (--untilTurn > 0) continue;
        untilTurn = kBlocksPerTurn;
        if (!TakeTurn()) return;
    }
    // A command whose own message a full queue refused still gets its turn.
    TakeTurn();
}

bool VKESUDriverService::TakeTurn() {
    if (quitAsked) return false;
    if (waitingCommands > 0) RunNextCommand();
    return true;
}

bool VKESUDriverService::RunNextCommand() {
    boost::function<void()> command;
    {
        boost::unique_lock<boost::mutex> lock(queueMutex);
        if (commandQueue.empty()) return false;
        if (quitAsked) {
            if (commandsBeforeQuit == 0) return false;
            --commandsBeforeQuit;
        }
        command = commandQueue.front();
        commandQueue.pop_front();
        waitingCommands = commandQueue.size();
        PostThreadMessageW(workerThreadId, WM_DRIVER_COMMAND, 0, 0);
    }
    command();
    return true;
}

void VKESUDriverService::Enqueue(boost::function<void()> command) {
    boost::unique_lock<boost::mutex> lock(queueMutex);
    EnqueueLocked(command);
}

void VKESUDriverService::EnqueueLocked(const boost::function<void()>& command) {
    commandQueue.push_back(command);
    waitingCommands = commandQueue.size();
    PostThreadMessageW(workerThreadId, WM_DRIVER_COMMAND, 0, 0);
}

void VKESUDriverService::SetStateCallback(StateCallback callback) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    stateCallback = callback;
}

void VKESUDriverService::SetDataCallback(DataCallback callback) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    if (dataCallback.empty()) dataCallback = callback;
}

void VKESUDriverService::SetRunning(bool value, boost::unique_lock<boost::mutex>* lock) {
    if (lock) {
        running = value;
        if (stateCallback) {
            StateCallback callback = stateCallback;
            lock->unlock();
            callback(value);
        }
        return;
    }
    StateCallback callback;
    {
        boost::unique_lock<boost::mutex> own(stateMutex);
        running = value;
        callback = stateCallback;
    }
    if (callback) callback(value);
}

bool VKESUDriverService::IsRunning() const {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    return running;
}

bool VKESUDriverService::IsDllInitialised() const {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    return dllInitialised;
}

bool VKESUDriverService::IsStopPending() const {
    return stopPending;
}

void VKESUDriverService::Log(const std::string& text, int level) const {
    if (logger) logger->Log(text.c_str(), level);
}

void VKESUDriverService::LogCaughtException(const char* catcher) const noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            Log(str(format("%s caught an exception: %s") % catcher % e.what()), LogLevel::kError);
        } catch (...) {
            Log(str(format("%s caught an unknown exception") % catcher), LogLevel::kError);
        }
    } catch (...) {
        // The host's log itself fails: there is nobody left to tell.
    }
}

// ---- Library start-up -------------------------------------------------------

void VKESUDriverService::InitDll(VDllInitInfo& info) {
    if (dllInitialised) {
        PauseCallTrace({{fmBroadcastStop, "::fmBroadcastStop()"}});
        stopPending = false;
        Sleep(1000);
    }
    DropEarlierBlocks();

    dllInitialised = true;
    info.status = DllInitStatus::kInitialised;
    fmDLLInit();
    Log("::fmDLLInit()", LogLevel::kTrace);
    Sleep(250);

    for (int polls = 0;;) {
        const int ready = fmDLLIsDeviceInitComplete();
        Log(str(format("::fmDLLIsDeviceInitComplete() -> %d") % ready), LogLevel::kTrace);
        ++polls;
        Sleep(250);
        if (ready != 0) break;
        if (polls >= kMaxReadinessPolls) {
            dllInitialised = false;
            info.status = DllInitStatus::kTimedOut;
            info.message = "KESU device initialization timed out, consider restarting the application.";
            Log("::fmDLLInit() failed", LogLevel::kWarning);
            return;
        }
    }

    info.setupCheckCode = fmDLLSetupCheck();
    Log(str(format("::fmDLLSetupCheck() -> %d") % info.setupCheckCode), LogLevel::kTrace);
    info.message = SetupCheckMessage(info.setupCheckCode);
    if (info.setupCheckCode == kSetupUnchanged) info.status = DllInitStatus::kSetupAsSaved;

    fmDLLSetUSBPacketSize(512);
    Log("::fmDLLSetUSBPacketSize(512)", LogLevel::kTrace);
    fmBroadcastRunMode(1);
    Log("::fmBroadcastRunMode(1)", LogLevel::kTrace);
    fmDLLSetDataFormat(1);
    Log("::fmDLLSetDataFormat(1)", LogLevel::kTrace);
    fmDLLPostDataReadyMessages(1);
    Log("::fmDLLPostDataReadyMessages(1)", LogLevel::kTrace);
    fmDLLPostUserThreadMessages(workerThreadId);
    Log(str(format("::fmDLLPostUserThreadMessages(%d)") % workerThreadId), LogLevel::kTrace);
    fmBroadcastGenlock(0);
    Log("::fmBroadcastGenlock(0)", LogLevel::kTrace);
    fmBroadcastResetSoftware();
    Log("::fmBroadcastResetSoftware()", LogLevel::kTrace);
    Sleep(1000);
}

void VKESUDriverService::DropEarlierBlocks() {
    // Blocks still held were made for the amplifier set of the last start-up;
    // once detection has counted the new set they would be read in its
    // layout. They are not handed on: the data callback takes its owner's
    // lock, which is never taken under stateMutex, and the acquisition they
    // belong to is stopped anyway.
    float* block = nullptr;
    int dropped = 0;
    while (fmDLLTransferFloatData(&block)) ++dropped;
    if (dropped > 0)
        Log(str(format("Dropped %d data blocks made before the amplifiers were initialised again") % dropped),
            LogLevel::kWarning);
}

// ---- Detection ----------------------------------------------------------------

void VKESUDriverService::DetectDevices(DetectionCallback callback) {
    Enqueue(boost::bind(&VKESUDriverService::DoDetectDevices, this, callback));
}

void VKESUDriverService::DoDetectDevices(DetectionCallback callback) {
    // The start-up stops the amplifiers, so every detection ends with
    // acquisition taken as stopped and the state callback told, whatever
    // fails on the way. A failure before the callback skips it: it never
    // sees records half read.
    try {
        VDllInitInfo info;
        std::vector<VDeviceInfo> devices;
        {
            boost::unique_lock<boost::mutex> lock(stateMutex);
            InitDll(info);
            const int count = fmDLLGetDeviceCount();
            Log(str(format("::fmDLLGetDeviceCount() -> %d") % count), LogLevel::kTrace);
            DownloadCalibration();
            for (int i = 0; i < count; ++i) devices.push_back(ReadDevice(i));
        }

        // Let the hardware settle; more amplifiers need longer.
        Sleep(500);
        if (devices.size() > 4) Sleep(2000);

        if (callback) callback(info, devices);
    } catch (...) {
        SetRunning(false, nullptr);
        throw;
    }
    SetRunning(false, nullptr);
}

void VKESUDriverService::DownloadCalibration() {
    int32_t indices[kCalibrationSlots] = {};
    const int listed = fmBroadcastCheckPelora(indices);
    if (listed <= 0) return;
    Log(str(format("%d Peloras not ready - BCF download will be attempted") % listed), LogLevel::kWarning);

    // The library has room for 16 indices only; a longer list cannot be trusted past them.
    const size_t plates = std::min(static_cast<size_t>(listed), kCalibrationSlots);
    char text[1024];
    for (size_t p = 0; p < plates; ++p) {
        const int device = indices[p];
        fmDLLSelectDeviceIndex(device);
        const std::string serial = ReadText(text, fmGetPlatformSerialNumber).substr(0, kSerialShown);

        const int started = fmPeloraDownloadCalFile(1);
        int finished = kDownloadBusy;
        if (started == kDownloadStarted) {
            Log(str(format("fmPeloraDownloadCalFile() called for platform %s") % serial), LogLevel::kTrace);
            for (int polls = 0; polls < kMaxDownloadPolls; ++polls) {
                finished = fmIsPeloraDownloadComplete();
                if (finished != kDownloadBusy) break;
                Sleep(500);
            }
        }
        const DownloadOutcome& outcome = started == kDownloadStarted
                                             ? OutcomeOf(finished, kFinishedDownloads, kFailedDownload)
                                             : OutcomeOf(started, kRefusedDownloads, kUnknownRefusal);
        Log(Describe(outcome, serial, device), outcome.level);
        if (started != kDownloadStarted || finished != kDownloadDone)
            Log(str(format("Device %d may give bad results") % device), LogLevel::kWarning);
    }
}

VKESUDriverService::VDeviceInfo VKESUDriverService::ReadDevice(int index) {
    const int trace = LogLevel::kTrace;
    VDeviceInfo device;
    device.platformXYZOffsets.assign(3, 0.0f);
    fmDLLSelectDeviceIndex(index);
    Log(str(format("::fmDLLSelectDeviceIndex(%d)") % index), trace);

    char text[1024];
    device.amplifierModelNumber = ReadText(text, fmGetAmplifierModelNumber);
    Log(str(format("::fmGetAmplifierModelNumber() -> %s") % device.amplifierModelNumber), trace);
    device.productType = fmGetProductType();
    Log(str(format("::fmGetProductType() -> %d") % device.productType), trace);
    device.amplifierFirmwareVersion = ReadText(text, fmGetAmplifierFirmwareVersion);
    Log(str(format("::fmGetAmplifierFirmwareVersion() -> %s") % device.amplifierFirmwareVersion), trace);
    device.amplifierSerialNumber = ReadText(text, fmGetAmplifierSerialNumber);
    Log(str(format("::fmGetAmplifierSerialNumber() -> %s") % device.amplifierSerialNumber), trace);
    device.platformModelNumber = ReadText(text, fmGetPlatformModelNumber);
    Log(str(format("::fmGetPlatformModelNumber() -> %s") % device.platformModelNumber), trace);
    device.platformSerialNumber = ReadText(text, fmGetPlatformSerialNumber);
    Log(str(format("::fmGetPlatformSerialNumber() -> %s") % device.platformSerialNumber), trace);

    fmGetPlatformXYZOffsets(device.platformXYZOffsets.data());
    Log(str(format("::fmGetPlatformXYZOffsets() -> (%f, %f, %f)") % device.platformXYZOffsets[0] %
            device.platformXYZOffsets[1] % device.platformXYZOffsets[2]),
        trace);

    char length[32] = {};
    char width[32] = {};
    fmGetPlatformLengthAndWidth(length, width);
    device.platformLength = TextOf(length, sizeof length);
    device.platformWidth = TextOf(width, sizeof width);
    Log(str(format("::fmGetPlatformLengthAndWidth() -> %s, %s") % device.platformLength %
            device.platformWidth),
        trace);

    device.deviceIndex = static_cast<uint32_t>(index);
    return device;
}

// ---- Hardware commands --------------------------------------------------------

void VKESUDriverService::SetAcquisitionRate(uint32_t rate) {
    Enqueue(boost::bind(&VKESUDriverService::DoSetAcquisitionRate, this, rate));
}

void VKESUDriverService::SetGenlockMode(bool on) {
    Enqueue(boost::bind(&VKESUDriverService::DoSetGenlockMode, this, on));
}

void VKESUDriverService::Start() {
    // The start goes behind any stop queued so far, so a Stop asked for from
    // now on must queue a stop of its own.
    boost::unique_lock<boost::mutex> lock(queueMutex);
    stopPending = false;
    EnqueueLocked(boost::bind(&VKESUDriverService::DoStart, this));
}

void VKESUDriverService::Stop() {
    boost::unique_lock<boost::mutex> lock(queueMutex);
    if (stopPending) return;
    stopPending = true;
    ++queuedStops;
    EnqueueLocked(boost::bind(&VKESUDriverService::DoStop, this));
}

void VKESUDriverService::Blink(uint32_t deviceIndex) {
    Enqueue(boost::bind(&VKESUDriverService::DoBlink, this, deviceIndex));
}

void VKESUDriverService::PauseCallTrace(std::initializer_list<TracedCall> calls) {
    Sleep(kCommandPause);
    for (const TracedCall& traced : calls) {
        traced.call();
        Log(traced.trace, LogLevel::kTrace);
    }
}

void VKESUDriverService::Zero() {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    if (!running) return;
    PauseCallTrace({{fmBroadcastZero, "::fmBroadcastZero()"}});
}

void VKESUDriverService::DoSetAcquisitionRate(uint32_t rate) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    PauseCallTrace({{[rate] { fmBroadcastAcquisitionRate(rate); },
                     str(format("::fmBroadcastAcquisitionRate(%d)") % rate)}});
}

void VKESUDriverService::DoSetGenlockMode(bool on) {
    const int mode = on ? 1 : 0;
    boost::unique_lock<boost::mutex> lock(stateMutex);
    PauseCallTrace(
        {{[mode] { fmBroadcastGenlock(mode); }, str(format("::fmBroadcastGenlockMode(%d)") % mode)}});
}

void VKESUDriverService::DoStart() {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    if (!dllInitialised) return;
    PauseCallTrace({{fmBroadcastStart, "::fmBroadcastStart()"}});
    SetRunning(true, &lock);
}

void VKESUDriverService::DoStop() {
    // The stop stays pending until the library has been told, so a Stop asked
    // for meanwhile is absorbed by this one; the flag stays set while a later
    // stop still waits in the queue behind every start. Also on a failure, or
    // every later Stop would be swallowed.
    struct LeaveQueue {
        VKESUDriverService* service;
        ~LeaveQueue() {
            boost::unique_lock<boost::mutex> queued(service->queueMutex);
            if (--service->queuedStops == 0) service->stopPending = false;
        }
    };
    boost::unique_lock<boost::mutex> lock(stateMutex);
    {
        LeaveQueue leave{this};
        PauseCallTrace({{fmBroadcastStop, "::fmBroadcastStop()"}});
    }
    SetRunning(false, &lock);
}

void VKESUDriverService::DoBlink(uint32_t deviceIndex) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    PauseCallTrace({{[deviceIndex] { fmDLLSelectDeviceIndex(static_cast<int>(deviceIndex)); },
                     str(format("::fmDLLSelectDeviceIndex(%d)") % deviceIndex)},
                    {fmSetBlink, "::fmSetBlink()"}});
    SetRunning(false, &lock);
}

}  // namespace KESU
