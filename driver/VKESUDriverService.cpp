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

const int kMaxReadinessPolls = 51;
const int kMaxDownloadPolls = 50;
const size_t kCalibrationSlots = 16;
const size_t kSerialShown = 16;

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

const char* SetupCheckMessage(int code) {
    switch (code) {
        case 0:
            return "No KESU devices were found";
        case 1:
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
    : startBarrier(2),
      workerThreadId(0),
      running(false),
      dllInitialised(false),
      stopPending(false),
      logger(g_host) {
    workerThread.reset(new boost::thread(boost::bind(&VKESUDriverService::ThreadProc, this)));
    startBarrier.wait();
}

VKESUDriverService::~VKESUDriverService() {
    PostThreadMessageW(workerThreadId, WM_DRIVER_QUIT, 0, 0);
    workerThread->join();
    workerThread.reset();
    // The worker has ended, so nothing else can reach the library now.
    if (dllInitialised) {
        Sleep(250);
        fmBroadcastStop();
        Sleep(250);
        fmDLLShutDown();
        Log("::fmDLLShutDown", 0);
        Sleep(500);
    }
}

void VKESUDriverService::ThreadProc() {
    MSG msg;
    // Create the queue before the constructor returns: a post to a thread
    // without one is dropped, and a command queued at once must not be lost.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    workerThreadId = GetCurrentThreadId();
    startBarrier.wait();

    while (GetMessageW(&msg, nullptr, 0, 0)) {
        if (msg.message == WM_DRIVER_QUIT) break;
        // The worker lives in the host's process: an exception from a command
        // or a callback must end neither the worker nor the process.
        try {
            if (msg.message == WM_DATA_READY)
                DrainDataBlocks();
            else if (msg.message == WM_DRIVER_COMMAND)
                RunNextCommand();
        } catch (const std::exception& e) {
            Log(boost::str(boost::format("KESU driver worker caught an exception: %s") % e.what()), 3);
        } catch (...) {
            Log("KESU driver worker caught an unknown exception", 3);
        }
    }
}

void VKESUDriverService::DrainDataBlocks() {
    float* block = nullptr;
    while (fmDLLTransferFloatData(&block)) {
        if (dataCallback) dataCallback(block);
    }
}

void VKESUDriverService::RunNextCommand() {
    boost::function<void()> command;
    {
        boost::unique_lock<boost::mutex> lock(queueMutex);
        if (commandQueue.empty()) return;
        command = commandQueue.front();
        commandQueue.pop_front();
        PostThreadMessageW(workerThreadId, WM_DRIVER_COMMAND, 0, 0);
    }
    command();
}

void VKESUDriverService::Enqueue(boost::function<void()> command) {
    boost::unique_lock<boost::mutex> lock(queueMutex);
    commandQueue.push_back(command);
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

// ---- Library start-up -------------------------------------------------------

void VKESUDriverService::InitDll(VDllInitInfo& info) {
    if (dllInitialised) {
        Sleep(250);
        fmBroadcastStop();
        Log("::fmBroadcastStop()", 0);
        stopPending = false;
        Sleep(1000);
    }

    dllInitialised = true;
    info.status = 1;
    fmDLLInit();
    Log("::fmDLLInit()", 0);
    Sleep(250);

    for (int polls = 0;;) {
        const int ready = fmDLLIsDeviceInitComplete();
        Log(boost::str(boost::format("::fmDLLIsDeviceInitComplete() -> %d") % ready), 0);
        ++polls;
        Sleep(250);
        if (ready != 0) break;
        if (polls >= kMaxReadinessPolls) {
            dllInitialised = false;
            info.status = 2;
            info.message = "KESU device initialization timed out, consider restarting the application.";
            Log("::fmDLLInit() failed", 2);
            return;
        }
    }

    info.setupCheckCode = fmDLLSetupCheck();
    Log(boost::str(boost::format("::fmDLLSetupCheck() -> %d") % info.setupCheckCode), 0);
    info.message = SetupCheckMessage(info.setupCheckCode);
    if (info.setupCheckCode == 1) info.status = 0;

    fmDLLSetUSBPacketSize(512);
    Log("::fmDLLSetUSBPacketSize(512)", 0);
    fmBroadcastRunMode(1);
    Log("::fmBroadcastRunMode(1)", 0);
    fmDLLSetDataFormat(1);
    Log("::fmDLLSetDataFormat(1)", 0);
    fmDLLPostDataReadyMessages(1);
    Log("::fmDLLPostDataReadyMessages(1)", 0);
    fmDLLPostUserThreadMessages(workerThreadId);
    Log(boost::str(boost::format("::fmDLLPostUserThreadMessages(%d)") % workerThreadId), 0);
    fmBroadcastGenlock(0);
    Log("::fmBroadcastGenlock(0)", 0);
    fmBroadcastResetSoftware();
    Log("::fmBroadcastResetSoftware()", 0);
    Sleep(1000);
}

// ---- Detection ----------------------------------------------------------------

void VKESUDriverService::DetectDevices(DetectionCallback callback) {
    Enqueue(boost::bind(&VKESUDriverService::DoDetectDevices, this, callback));
}

void VKESUDriverService::DoDetectDevices(DetectionCallback callback) {
    VDllInitInfo info;
    std::vector<VDeviceInfo> devices;
    {
        boost::unique_lock<boost::mutex> lock(stateMutex);
        InitDll(info);
        const int count = fmDLLGetDeviceCount();
        Log(boost::str(boost::format("::fmDLLGetDeviceCount() -> %d") % count), 0);
        DownloadCalibration();
        for (int i = 0; i < count; ++i) devices.push_back(ReadDevice(i));
    }

    // Let the hardware settle; more amplifiers need longer.
    Sleep(500);
    if (devices.size() > 4) Sleep(2000);

    // Every detection ends with acquisition taken as stopped, and the state
    // callback told so, also when the detection callback fails.
    try {
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
    Log(boost::str(boost::format("%d Peloras not ready - BCF download will be attempted") % listed), 2);

    // The library has room for 16 indices only; a longer list cannot be trusted past them.
    const size_t plates = std::min(static_cast<size_t>(listed), kCalibrationSlots);
    char text[1024];
    for (size_t p = 0; p < plates; ++p) {
        const int device = indices[p];
        fmDLLSelectDeviceIndex(device);
        const std::string serial = ReadText(text, fmGetPlatformSerialNumber).substr(0, kSerialShown);

        const int started = fmPeloraDownloadCalFile(1);
        bool complete = false;
        if (started == 0) {
            Log(boost::str(boost::format("fmPeloraDownloadCalFile() called for platform %s") % serial), 0);
            int answer = 0;
            for (int polls = 0; polls < kMaxDownloadPolls; ++polls) {
                answer = fmIsPeloraDownloadComplete();
                if (answer != 0) break;
                Sleep(500);
            }
            if (answer == 1) {
                Log("Pelora download is complete", 0);
                complete = true;
            } else if (answer == 3) {
                Log(boost::str(boost::format("Bad Pelora BCF version seen for %s") % serial), 2);
            } else if (answer == 4) {
                Log(boost::str(boost::format("Bad CRC check on Pelora BCF download for %s") % serial), 2);
            } else if (answer != 0) {
                Log(boost::str(boost::format("Pelora BCF download failed for %s") % serial), 2);
            } else {
                Log(boost::str(boost::format("Pelora BCF download timed out for %s") % serial), 2);
            }
        } else if (started == 1) {
            Log(boost::str(boost::format("Platform %s is not an Pelora platform") % serial), 2);
        } else if (started == 2) {
            Log(boost::str(boost::format("Signal conditioner %d thinks it's an Pelora but it isn't") %
                           device),
                2);
        } else if (started == 3) {
            Log(boost::str(boost::format("Can't find Pelora BCF on the system for %s") % serial), 2);
        } else {
            Log("Unable to download Pelora BCF for unknown reasons", 2);
        }
        if (!complete) Log(boost::str(boost::format("Device %d may give bad results") % device), 2);
    }
}

VKESUDriverService::VDeviceInfo VKESUDriverService::ReadDevice(int index) {
    using boost::format;
    using boost::str;

    VDeviceInfo device;
    device.platformXYZOffsets.assign(3, 0.0f);
    fmDLLSelectDeviceIndex(index);
    Log(str(format("::fmDLLSelectDeviceIndex(%d)") % index), 0);

    char text[1024];
    device.amplifierModelNumber = ReadText(text, fmGetAmplifierModelNumber);
    Log(str(format("::fmGetAmplifierModelNumber() -> %s") % device.amplifierModelNumber), 0);
    device.productType = fmGetProductType();
    Log(str(format("::fmGetProductType() -> %d") % device.productType), 0);
    device.amplifierFirmwareVersion = ReadText(text, fmGetAmplifierFirmwareVersion);
    Log(str(format("::fmGetAmplifierFirmwareVersion() -> %s") % device.amplifierFirmwareVersion), 0);
    device.amplifierSerialNumber = ReadText(text, fmGetAmplifierSerialNumber);
    Log(str(format("::fmGetAmplifierSerialNumber() -> %s") % device.amplifierSerialNumber), 0);
    device.platformModelNumber = ReadText(text, fmGetPlatformModelNumber);
    Log(str(format("::fmGetPlatformModelNumber() -> %s") % device.platformModelNumber), 0);
    device.platformSerialNumber = ReadText(text, fmGetPlatformSerialNumber);
    Log(str(format("::fmGetPlatformSerialNumber() -> %s") % device.platformSerialNumber), 0);

    fmGetPlatformXYZOffsets(device.platformXYZOffsets.data());
    Log(str(format("::fmGetPlatformXYZOffsets() -> (%f, %f, %f)") % device.platformXYZOffsets[0] %
            device.platformXYZOffsets[1] % device.platformXYZOffsets[2]),
        0);

    char length[32] = {};
    char width[32] = {};
    fmGetPlatformLengthAndWidth(length, width);
    device.platformLength = TextOf(length, sizeof length);
    device.platformWidth = TextOf(width, sizeof width);
    Log(str(format("::fmGetPlatformLengthAndWidth() -> %s, %s") % device.platformLength %
            device.platformWidth),
        0);

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
    // A stop queued before this start runs before it: a Stop asked for from
    // now on must queue a stop of its own, or acquisition would go on running.
    stopPending = false;
    Enqueue(boost::bind(&VKESUDriverService::DoStart, this));
}

void VKESUDriverService::Stop() {
    if (stopPending.exchange(true)) return;
    Enqueue(boost::bind(&VKESUDriverService::DoStop, this));
}

void VKESUDriverService::Blink(uint32_t deviceIndex) {
    Enqueue(boost::bind(&VKESUDriverService::DoBlink, this, deviceIndex));
}

void VKESUDriverService::Zero() {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    if (!running) return;
    Sleep(250);
    fmBroadcastZero();
    Log("::fmBroadcastZero()", 0);
}

void VKESUDriverService::DoSetAcquisitionRate(uint32_t rate) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    Sleep(250);
    fmBroadcastAcquisitionRate(rate);
    Log(boost::str(boost::format("::fmBroadcastAcquisitionRate(%d)") % rate), 0);
}

void VKESUDriverService::DoSetGenlockMode(bool on) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    Sleep(250);
    const int mode = on ? 1 : 0;
    fmBroadcastGenlock(mode);
    Log(boost::str(boost::format("::fmBroadcastGenlockMode(%d)") % mode), 0);
}

void VKESUDriverService::DoStart() {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    if (!dllInitialised) return;
    Sleep(250);
    fmBroadcastStart();
    Log("::fmBroadcastStart()", 0);
    SetRunning(true, &lock);
}

void VKESUDriverService::DoStop() {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    Sleep(250);
    fmBroadcastStop();
    Log("::fmBroadcastStop()", 0);
    stopPending = false;
    SetRunning(false, &lock);
}

void VKESUDriverService::DoBlink(uint32_t deviceIndex) {
    boost::unique_lock<boost::mutex> lock(stateMutex);
    Sleep(250);
    fmDLLSelectDeviceIndex(static_cast<int>(deviceIndex));
    Log(boost::str(boost::format("::fmDLLSelectDeviceIndex(%d)") % deviceIndex), 0);
    fmSetBlink();
    Log("::fmSetBlink()", 0);
    SetRunning(false, &lock);
}

}  // namespace KESU
