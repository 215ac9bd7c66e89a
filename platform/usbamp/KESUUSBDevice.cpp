// The simulated amplifier library: the fm functions the plug-in imports, and
// the control interface that scripts the amplifiers behind them.
#include "platform/usbamp/KESUUSBDevice.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

#include "platform/usbamp/UsbAmpSim.h"
#include "platform/win/WinApi.h"

namespace UsbAmpSim {

Clock::~Clock() = default;

std::chrono::nanoseconds ManualClock::Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void ManualClock::WaitUntil(std::chrono::nanoseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    sleeperDeadline_ = deadline;
    changed_.notify_all();
    changed_.wait(lock, [&] { return wakePending_ || now_ >= deadline; });
    wakePending_ = false;
    sleeperDeadline_.reset();
}

void ManualClock::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    wakePending_ = true;
    changed_.notify_all();
}

void ManualClock::Advance(std::chrono::nanoseconds step) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += step;
    changed_.notify_all();
}

std::optional<std::chrono::nanoseconds> ManualClock::WaitForSleeper(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return sleeperDeadline_ && *sleeperDeadline_ > now_; }))
        return std::nullopt;
    return sleeperDeadline_;
}

}  // namespace UsbAmpSim

namespace {

using namespace UsbAmpSim;

constexpr uint32_t kCounterWrap = 1u << 24;
constexpr size_t kSamplesPerBlock = 16;
constexpr size_t kFloatsPerGroup = 8;
constexpr size_t kIdentityTextSize = 1024;
constexpr size_t kSizeTextSize = 32;
constexpr size_t kCalibrationListSize = 16;
constexpr UINT kDataReadyMessage = 1133;
constexpr uint32_t kDefaultRate = 1000;
// Block buffers kept for reuse, so that a steady stream allocates nothing.
constexpr size_t kSpareBlocks = 4;

class SteadyClock : public Clock {
public:
    std::chrono::nanoseconds Now() override { return std::chrono::steady_clock::now().time_since_epoch(); }

    void WaitUntil(std::chrono::nanoseconds deadline) override {
        const std::chrono::steady_clock::time_point until(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline));
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_until(lock, until, [&] { return wakePending_; });
        wakePending_ = false;
    }

    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        wakePending_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool wakePending_ = false;
};

struct PointLoad {
    float force;
    float x;
    float y;
};

struct CalibrationScript {
    int32_t downloadAnswer = 0;
    std::vector<int32_t> completeAnswers{1};
    size_t polls = 0;
};

// Everything Reset() puts back to its default.
struct Script {
    std::vector<Amplifier> amplifiers;
    std::optional<int32_t> deviceCountAnswer;
    std::vector<std::string> unwrittenTexts;
    int32_t readyAfterPolls = 1;
    int32_t pollsSinceInit = 0;
    // The amplifiers answered at the last fmDLLInit: the groups of every block made since.
    std::optional<int32_t> initialisedCount;
    int32_t setupCheckCode = 1;
    std::vector<int32_t> calibrationList;
    std::map<int32_t, CalibrationScript> calibration;
    int32_t selected = -1;

    bool postingOn = false;
    DWORD receiver = 0;
    bool acquiring = false;
    uint32_t rate = kDefaultRate;
    BlockSource source = BlockSource::Manual;
    std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
    uint32_t nextCounter = 0;
    std::map<int32_t, PointLoad> loads;
    std::map<std::pair<int32_t, uint32_t>, PointLoad> loadChanges;
    std::map<std::pair<int32_t, uint32_t>, float> triggers;
    // Oldest first. A vector rather than a deque: taking the front moves the
    // few buffers down instead of freeing and allocating nodes.
    std::vector<std::vector<float>> ready;
    uint64_t droppedBlocks = 0;
    // The block the last transfer handed out; the caller reads it in place
    // until its next transfer call.
    std::vector<float> lent;
    // Buffers of blocks fetched, poisoned for AddressSanitizer while they
    // wait here, so that a caller reading a block after its next transfer is
    // still caught.
    std::vector<std::vector<float>> spare;
    // Each amplifier's raw load while a block is made.
    std::vector<std::array<float, 6>> rawLoads;

    std::vector<Call> calls;
    bool recordDataTransfers = false;
    uint64_t dataTransfers = 0;
    std::string holdFunction;
    bool holdArmed = false;
    bool callerHeld = false;
};

struct Producer {
    std::shared_ptr<Clock> clock;
    std::atomic<bool> stop{false};
    std::thread thread;
};

struct Library {
    // Serialises starting and stopping the producer. Taken before `mutex` and
    // never by the producer, so joining it under this lock cannot deadlock.
    std::mutex lifecycle;
    std::unique_ptr<Producer> producer;  // guarded by lifecycle

    std::mutex mutex;
    std::condition_variable changed;  // the hold or the streaming state moved
    Script script;                    // guarded by mutex
    // Kept out of Script so that a caller held across a Reset still sees its
    // release.
    uint64_t releases = 0;
};

// Never destroyed: callers on other threads may still arrive while the
// process runs its static destructors.
Library& library() {
    static Library* instance = new Library;
    return *instance;
}

bool streaming(const Script& s) {
    return s.postingOn && s.receiver != 0 && s.acquiring;
}

int32_t answeredDeviceCount(const Script& s) {
    return s.deviceCountAnswer.value_or(static_cast<int32_t>(s.amplifiers.size()));
}

const Amplifier* selectedAmplifier(const Script& s) {
    if (s.selected < 0 || static_cast<size_t>(s.selected) >= s.amplifiers.size()) return nullptr;
    return &s.amplifiers[static_cast<size_t>(s.selected)];
}

// Fills at most `size` bytes; a text that does not fit with its NUL is cut
// and left unterminated, which is what tests of the callers rely on.
void copyText(char* destination, const std::string& text, size_t size) {
    if (!destination) return;
    if (text.size() >= size)
        std::memcpy(destination, text.data(), size);
    else
        std::memcpy(destination, text.c_str(), text.size() + 1);
}

// When this is the call a test asked to hold, waits for the release with the
// library's mutex let go. Caller holds the mutex through `lock`.
void holdIfAsked(Library& l, std::unique_lock<std::mutex>& lock, const char* function) {
    Script& s = l.script;
    if (!s.holdArmed || s.holdFunction != function) return;
    s.holdArmed = false;
    s.callerHeld = true;
    const uint64_t release = l.releases;
    l.changed.notify_all();
    l.changed.wait(lock, [&] { return l.releases != release; });
}

// Records the call, then holds it if asked.
void enter(const char* function, std::vector<int64_t> arguments = {}) {
    const DWORD thread = GetCurrentThreadId();
    Library& l = library();
    std::unique_lock<std::mutex> lock(l.mutex);
    Script& s = l.script;
    s.calls.push_back(Call{function, std::move(arguments), s.selected, thread});
    holdIfAsked(l, lock, function);
}

// The same for a call of the data path, which runs once or twice per block:
// counted always, recorded only when a test asks, so that a stream neither
// grows the record nor allocates.
void enterDataPath(const char* function) {
    const DWORD thread = GetCurrentThreadId();
    Library& l = library();
    std::unique_lock<std::mutex> lock(l.mutex);
    Script& s = l.script;
    ++s.dataTransfers;
    if (s.recordDataTransfers) s.calls.push_back(Call{function, {}, s.selected, thread});
    holdIfAsked(l, lock, function);
}

// A fetched block's buffer, for makeBlock to fill again; dropped when enough wait.
void recycle(Script& s, std::vector<float>& block) {
    if (block.capacity() == 0) return;
    if (s.spare.size() < kSpareBlocks) {
        ASAN_POISON_MEMORY_REGION(block.data(), block.capacity() * sizeof(float));
        s.spare.push_back(std::move(block));
    }
    std::vector<float>().swap(block);
}

// A buffer of `floats` floats, from the spares when one waits.
std::vector<float> blockBuffer(Script& s, size_t floats) {
    if (s.spare.empty()) return std::vector<float>(floats);
    std::vector<float> block = std::move(s.spare.back());
    s.spare.pop_back();
    ASAN_UNPOISON_MEMORY_REGION(block.data(), block.capacity() * sizeof(float));
    block.resize(floats);
    return block;
}

// Fx, Fy, Fz, Mx, My, Mz of the amplifier's scripted load. The plug-in puts
// the centre of pressure at (My / Fz - a, Mx / Fz + b) when Fx = Fy = 0, with
// a and b the plate origin it derives from the offsets in single precision.
std::array<float, 6> rawLoad(const Script& s, int32_t device) {
    std::array<float, 6> raw{};
    auto load = s.loads.find(device);
    if (load == s.loads.end()) return raw;
    std::array<float, 3> offsets{};
    if (device < static_cast<int32_t>(s.amplifiers.size()))
        offsets = s.amplifiers[static_cast<size_t>(device)].xyzOffsets;
    const float a = offsets[0] * 0.0254f;
    const float b = offsets[1] * 0.0254f;
    const float fz = -load->second.force;
    raw[2] = fz;
    raw[3] = (load->second.y - b) * fz;
    raw[4] = (load->second.x + a) * fz;
    return raw;
}

bool queueBlock(Script& s, std::vector<float> block) {
    if (s.ready.size() >= kBlockBufferLimit) {
        ++s.droppedBlocks;
        recycle(s, block);
        return false;
    }
    s.ready.push_back(std::move(block));
    return PostThreadMessageW(s.receiver, kDataReadyMessage, 0, 0) != FALSE;
}

// Caller holds the library's mutex and has checked that it is streaming.
bool makeBlock(Script& s) {
    const int32_t count = s.initialisedCount.value_or(answeredDeviceCount(s));
    if (count < 1) return false;
    const size_t devices = static_cast<size_t>(count);
    std::vector<std::array<float, 6>>& loads = s.rawLoads;
    loads.clear();
    for (int32_t d = 0; d < count; ++d) loads.push_back(rawLoad(s, d));

    std::vector<float> block = blockBuffer(s, kSamplesPerBlock * devices * kFloatsPerGroup);
    for (size_t sample = 0; sample < kSamplesPerBlock; ++sample) {
        const uint32_t counter = (s.nextCounter + static_cast<uint32_t>(sample)) % kCounterWrap;
        for (size_t d = 0; d < devices; ++d) {
            const auto change = s.loadChanges.find({static_cast<int32_t>(d), counter});
            if (change != s.loadChanges.end()) {
                s.loads[change->first.first] = change->second;
                loads[d] = rawLoad(s, change->first.first);
            }
            float* group = &block[(sample * devices + d) * kFloatsPerGroup];
            group[0] = static_cast<float>(counter);
            std::copy(loads[d].begin(), loads[d].end(), group + 1);
            auto trigger = s.triggers.find({static_cast<int32_t>(d), counter});
            group[7] = trigger == s.triggers.end() ? kTriggerIdle : trigger->second;
        }
    }
    s.nextCounter = (s.nextCounter + static_cast<uint32_t>(kSamplesPerBlock)) % kCounterWrap;
    return queueBlock(s, std::move(block));
}

// When block k is due after the start: 16 k / rate seconds, split so that
// nothing overflows and nothing drifts however long the run.
std::chrono::nanoseconds blockDue(uint64_t k, uint32_t rate) {
    const uint64_t samples = k * kSamplesPerBlock;
    return std::chrono::seconds(samples / rate) +
           std::chrono::nanoseconds((samples % rate) * 1000000000ull / rate);
}

void runProducer(Producer* producer, std::chrono::nanoseconds start, uint32_t rate) {
    Library& l = library();
    uint64_t k = 1;
    while (!producer->stop.load()) {
        const std::chrono::nanoseconds due = start + blockDue(k, rate);
        if (producer->clock->Now() < due) {
            producer->clock->WaitUntil(due);
            continue;
        }
        std::lock_guard<std::mutex> lock(l.mutex);
        if (streaming(l.script)) makeBlock(l.script);
        ++k;
    }
}

// Caller holds l.lifecycle, not l.mutex.
void stopProducer(Library& l) {
    if (!l.producer) return;
    l.producer->stop = true;
    l.producer->clock->Wake();
    l.producer->thread.join();
    l.producer.reset();
}

// Caller holds l.lifecycle, not l.mutex. A running producer always starts a
// new schedule, so that a rate or clock change takes effect from now.
void restartProducer(Library& l) {
    stopProducer(l);
    std::lock_guard<std::mutex> lock(l.mutex);
    const Script& s = l.script;
    if (s.source != BlockSource::Producer || !s.acquiring || s.rate == 0) return;
    auto producer = std::make_unique<Producer>();
    producer->clock = s.clock;
    // The start is read here rather than on the new thread, so that a test
    // that moves its clock right after the start cannot shift the schedule.
    const std::chrono::nanoseconds start = producer->clock->Now();
    producer->thread = std::thread(runProducer, producer.get(), start, s.rate);
    l.producer = std::move(producer);
}

template <typename Change>
void changeAndRestartProducer(Change body) {
    Library& l = library();
    std::lock_guard<std::mutex> lifecycle(l.lifecycle);
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        body(l.script);
        l.changed.notify_all();
    }
    restartProducer(l);
}

template <typename Change>
void change(Change body) {
    Library& l = library();
    std::lock_guard<std::mutex> lock(l.mutex);
    body(l.script);
    l.changed.notify_all();
}

template <typename Answer>
auto answer(Answer body) {
    Library& l = library();
    std::lock_guard<std::mutex> lock(l.mutex);
    return body(l.script);
}

int identityText(const char* function, char* text, std::string Amplifier::*field) {
    enter(function);
    answer([&](const Script& s) {
        const auto& silent = s.unwrittenTexts;
        if (std::find(silent.begin(), silent.end(), function) != silent.end()) return 0;
        const Amplifier* amplifier = selectedAmplifier(s);
        copyText(text, amplifier ? amplifier->*field : std::string(), kIdentityTextSize);
        return 0;
    });
    return 0;
}

// Stops the producer when the library is unloaded; without it the process
// would end with a thread still inside the library.
struct StopAtUnload {
    ~StopAtUnload() {
        ReleaseHeldCall();
        Library& l = library();
        std::lock_guard<std::mutex> lifecycle(l.lifecycle);
        stopProducer(l);
    }
} g_stopAtUnload;

}  // namespace

// ---------------------------------------------------------------------------
// The library's functions. Results the plug-in does not use are 0.

extern "C" {

USBAMPSIM_API int fmDLLInit(void) {
    enter(__func__);
    change([](Script& s) {
        s.pollsSinceInit = 0;
        s.initialisedCount = answeredDeviceCount(s);
    });
    return 0;
}

USBAMPSIM_API int fmDLLIsDeviceInitComplete(void) {
    enter(__func__);
    return answer([](Script& s) {
        ++s.pollsSinceInit;
        return s.readyAfterPolls >= 1 && s.pollsSinceInit >= s.readyAfterPolls ? 1 : 0;
    });
}

USBAMPSIM_API int fmDLLSetupCheck(void) {
    enter(__func__);
    return answer([](const Script& s) { return s.setupCheckCode; });
}

USBAMPSIM_API int fmDLLSetUSBPacketSize(int size) {
    enter(__func__, {size});
    return 0;
}

USBAMPSIM_API int fmBroadcastRunMode(int mode) {
    enter(__func__, {mode});
    return 0;
}

// Only the float blocks are simulated, whatever format is asked for.
USBAMPSIM_API int fmDLLSetDataFormat(int format) {
    enter(__func__, {format});
    return 0;
}

USBAMPSIM_API int fmDLLPostDataReadyMessages(int enable) {
    enter(__func__, {enable});
    change([&](Script& s) { s.postingOn = enable != 0; });
    return 0;
}

USBAMPSIM_API int fmDLLPostUserThreadMessages(uint32_t threadId) {
    enter(__func__, {threadId});
    change([&](Script& s) { s.receiver = threadId; });
    return 0;
}

USBAMPSIM_API int fmBroadcastGenlock(int on) {
    enter(__func__, {on});
    return 0;
}

USBAMPSIM_API int fmBroadcastResetSoftware(void) {
    enter(__func__);
    return 0;
}

USBAMPSIM_API int fmDLLGetDeviceCount(void) {
    enter(__func__);
    return answer([](const Script& s) { return answeredDeviceCount(s); });
}

USBAMPSIM_API int fmBroadcastCheckPelora(int32_t* indices) {
    enter(__func__);
    return answer([&](const Script& s) {
        if (indices) {
            const size_t written = std::min(s.calibrationList.size(), kCalibrationListSize);
            std::copy_n(s.calibrationList.begin(), written, indices);
        }
        return static_cast<int>(s.calibrationList.size());
    });
}

USBAMPSIM_API int fmDLLSelectDeviceIndex(int index) {
    enter(__func__, {index});
    change([&](Script& s) { s.selected = index; });
    return 0;
}

USBAMPSIM_API int fmPeloraDownloadCalFile(int mode) {
    enter(__func__, {mode});
    return answer([](Script& s) {
        CalibrationScript& plate = s.calibration[s.selected];
        plate.polls = 0;
        return plate.downloadAnswer;
    });
}

USBAMPSIM_API int fmIsPeloraDownloadComplete(void) {
    enter(__func__);
    return answer([](Script& s) {
        CalibrationScript& plate = s.calibration[s.selected];
        if (plate.completeAnswers.empty()) return 0;
        const size_t at = std::min(plate.polls, plate.completeAnswers.size() - 1);
        ++plate.polls;
        return plate.completeAnswers[at];
    });
}

USBAMPSIM_API int fmGetAmplifierModelNumber(char* text) {
    return identityText(__func__, text, &Amplifier::amplifierModel);
}

USBAMPSIM_API int fmGetProductType(void) {
    enter(__func__);
    return answer([](const Script& s) {
        const Amplifier* amplifier = selectedAmplifier(s);
        return amplifier ? amplifier->productType : 0;
    });
}

USBAMPSIM_API int fmGetAmplifierFirmwareVersion(char* text) {
    return identityText(__func__, text, &Amplifier::amplifierFirmware);
}

USBAMPSIM_API int fmGetAmplifierSerialNumber(char* text) {
    return identityText(__func__, text, &Amplifier::amplifierSerial);
}

USBAMPSIM_API int fmGetPlatformModelNumber(char* text) {
    return identityText(__func__, text, &Amplifier::platformModel);
}

USBAMPSIM_API int fmGetPlatformSerialNumber(char* text) {
    return identityText(__func__, text, &Amplifier::platformSerial);
}

USBAMPSIM_API int fmGetPlatformXYZOffsets(float* xyz) {
    enter(__func__);
    answer([&](const Script& s) {
        const Amplifier* amplifier = selectedAmplifier(s);
        const std::array<float, 3> offsets = amplifier ? amplifier->xyzOffsets : std::array<float, 3>{};
        if (xyz) std::copy(offsets.begin(), offsets.end(), xyz);
        return 0;
    });
    return 0;
}

USBAMPSIM_API int fmGetPlatformLengthAndWidth(char* length, char* width) {
    enter(__func__);
    answer([&](const Script& s) {
        const Amplifier* amplifier = selectedAmplifier(s);
        copyText(length, amplifier ? amplifier->length : std::string(), kSizeTextSize);
        copyText(width, amplifier ? amplifier->width : std::string(), kSizeTextSize);
        return 0;
    });
    return 0;
}

USBAMPSIM_API int fmBroadcastAcquisitionRate(uint32_t rate) {
    enter(__func__, {rate});
    changeAndRestartProducer([&](Script& s) { s.rate = rate; });
    return 0;
}

USBAMPSIM_API int fmBroadcastStart(void) {
    enter(__func__);
    changeAndRestartProducer([](Script& s) { s.acquiring = true; });
    return 0;
}

USBAMPSIM_API int fmBroadcastStop(void) {
    enter(__func__);
    changeAndRestartProducer([](Script& s) { s.acquiring = false; });
    return 0;
}

USBAMPSIM_API int fmBroadcastZero(void) {
    enter(__func__);
    return 0;
}

USBAMPSIM_API int fmSetBlink(void) {
    enter(__func__);
    return 0;
}

USBAMPSIM_API int fmDLLTransferFloatData(float** data) {
    enterDataPath(__func__);
    return answer([&](Script& s) {
        recycle(s, s.lent);
        if (!data || s.ready.empty()) return 0;
        s.lent = std::move(s.ready.front());
        s.ready.erase(s.ready.begin());
        *data = s.lent.data();
        return 1;
    });
}

USBAMPSIM_API int fmDLLShutDown(void) {
    enter(__func__);
    changeAndRestartProducer([](Script& s) {
        s.acquiring = false;
        s.postingOn = false;
        s.receiver = 0;
        s.selected = -1;
        s.ready.clear();
        std::vector<float>().swap(s.lent);
    });
    return 0;
}

}  // extern "C"

// ---------------------------------------------------------------------------
// Control interface.

namespace UsbAmpSim {

USBAMPSIM_API void Reset() {
    Library& l = library();
    std::lock_guard<std::mutex> lifecycle(l.lifecycle);
    stopProducer(l);
    std::lock_guard<std::mutex> lock(l.mutex);
    l.script = Script{};
    ++l.releases;
    l.changed.notify_all();
}

USBAMPSIM_API void SetAmplifiers(std::vector<Amplifier> amplifiers) {
    change([&](Script& s) { s.amplifiers = std::move(amplifiers); });
}

USBAMPSIM_API void SetDeviceCountAnswer(std::optional<int32_t> count) {
    change([&](Script& s) { s.deviceCountAnswer = count; });
}

USBAMPSIM_API void SetUnwrittenTexts(std::vector<std::string> functions) {
    change([&](Script& s) { s.unwrittenTexts = std::move(functions); });
}

USBAMPSIM_API void SetReadyAfterPolls(int32_t polls) {
    change([&](Script& s) { s.readyAfterPolls = polls; });
}

USBAMPSIM_API void SetSetupCheckCode(int32_t code) {
    change([&](Script& s) { s.setupCheckCode = code; });
}

USBAMPSIM_API void SetCalibrationCheck(std::vector<int32_t> deviceIndices) {
    change([&](Script& s) { s.calibrationList = std::move(deviceIndices); });
}

USBAMPSIM_API void SetCalibrationDownload(int32_t deviceIndex, int32_t downloadAnswer,
                                          std::vector<int32_t> completeAnswers) {
    change([&](Script& s) {
        s.calibration[deviceIndex] = CalibrationScript{downloadAnswer, std::move(completeAnswers), 0};
    });
}

USBAMPSIM_API std::vector<Call> Calls() {
    return answer([](const Script& s) { return s.calls; });
}

USBAMPSIM_API void ClearCalls() {
    change([](Script& s) {
        s.calls.clear();
        s.dataTransfers = 0;
    });
}

USBAMPSIM_API void RecordDataTransfers(bool on) {
    change([&](Script& s) { s.recordDataTransfers = on; });
}

USBAMPSIM_API uint64_t DataTransfers() {
    return answer([](const Script& s) { return s.dataTransfers; });
}

USBAMPSIM_API void HoldCall(const std::string& function) {
    change([&](Script& s) {
        s.holdFunction = function;
        s.holdArmed = true;
    });
}

USBAMPSIM_API bool WaitUntilHeld(std::chrono::milliseconds timeout) {
    Library& l = library();
    std::unique_lock<std::mutex> lock(l.mutex);
    return l.changed.wait_for(lock, timeout, [&] { return l.script.callerHeld; });
}

USBAMPSIM_API void ReleaseHeldCall() {
    Library& l = library();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.script.holdArmed = false;
    l.script.callerHeld = false;
    ++l.releases;
    l.changed.notify_all();
}

USBAMPSIM_API uint64_t DroppedBlocks() {
    return answer([](const Script& s) { return s.droppedBlocks; });
}

USBAMPSIM_API void SetBlockSource(BlockSource source) {
    changeAndRestartProducer([&](Script& s) { s.source = source; });
}

USBAMPSIM_API void SetClock(std::shared_ptr<Clock> clock) {
    changeAndRestartProducer(
        [&](Script& s) { s.clock = clock ? std::move(clock) : std::make_shared<SteadyClock>(); });
}

USBAMPSIM_API void SetCounterStart(uint32_t counter) {
    change([&](Script& s) { s.nextCounter = counter % kCounterWrap; });
}

USBAMPSIM_API void SetPointLoad(int32_t deviceIndex, float force, float x, float y) {
    change([&](Script& s) { s.loads[deviceIndex] = PointLoad{force, x, y}; });
}

USBAMPSIM_API void ChangePointLoadAt(int32_t deviceIndex, uint32_t counter, float force, float x, float y) {
    change([&](Script& s) { s.loadChanges[{deviceIndex, counter % kCounterWrap}] = PointLoad{force, x, y}; });
}

USBAMPSIM_API void SetTrigger(int32_t deviceIndex, uint32_t counter, float value) {
    change([&](Script& s) { s.triggers[{deviceIndex, counter % kCounterWrap}] = value; });
}

USBAMPSIM_API bool HandOverBlock() {
    return answer([](Script& s) { return streaming(s) && makeBlock(s); });
}

USBAMPSIM_API bool HandOverBlock(std::vector<float> floats) {
    return answer(
        [&](Script& s) { return streaming(s) && !floats.empty() && queueBlock(s, std::move(floats)); });
}

USBAMPSIM_API bool WaitUntilStreaming(std::chrono::milliseconds timeout) {
    Library& l = library();
    std::unique_lock<std::mutex> lock(l.mutex);
    return l.changed.wait_for(lock, timeout, [&] { return streaming(l.script); });
}

}  // namespace UsbAmpSim
