// Control of the simulated amplifier library, for tests and the example host.
//
// The library plays the amplifiers that are scripted here. Everything lives in
// one process-wide state: set it up before the code under test calls the fm
// functions, and call Reset() between tests. Every operation here may be called
// from any thread, also while a caller of an fm function is held (HoldCall).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#define USBAMPSIM_API __attribute__((visibility("default")))

namespace UsbAmpSim {

// One amplifier and the platform wired to it, as the identity getters answer
// for it. A text of the caller's buffer size or longer (1024 bytes for the
// identity texts, 32 for length and width) fills that buffer whole, without a
// terminating NUL; a shorter one is written with its NUL.
struct Amplifier {
    int32_t productType = 0;
    std::string amplifierModel;
    std::string amplifierSerial;
    std::string amplifierFirmware;
    std::string platformModel;
    std::string platformSerial;
    std::array<float, 3> xyzOffsets{0.0f, 0.0f, 0.0f};  // inches
    std::string length;                                 // inches, as text
    std::string width;
};

// One call of an fm function, as the library saw it.
struct Call {
    std::string function;            // e.g. "fmDLLSelectDeviceIndex"
    std::vector<int64_t> arguments;  // the integer arguments in order; pointers are not kept
    int32_t selectedDevice;          // selection as the call came in (before a select); -1: none
    uint32_t threadId;               // GetCurrentThreadId() of the caller
};

enum class BlockSource {
    Manual,    // blocks come only from HandOverBlock
    Producer,  // a thread makes rate / 16 blocks a second while acquisition runs
};

// Time as the producer thread sees it: a monotonic count from any epoch, and
// a way to wait for it.
class USBAMPSIM_API Clock {
public:
    virtual ~Clock();
    virtual std::chrono::nanoseconds Now() = 0;
    // Returns once Now() has reached the deadline or Wake() was called; may
    // also return early for no reason (the producer checks again).
    virtual void WaitUntil(std::chrono::nanoseconds deadline) = 0;
    // Ends the current WaitUntil, or the next one when nobody waits yet, so
    // that the library can stop its producer without a lost wake-up.
    virtual void Wake() = 0;
};

// A clock that moves only when told to, so that the producer's schedule can be
// checked without the wall clock. Starts at 0.
class USBAMPSIM_API ManualClock : public Clock {
public:
    std::chrono::nanoseconds Now() override;
    void WaitUntil(std::chrono::nanoseconds deadline) override;
    void Wake() override;

    void Advance(std::chrono::nanoseconds step);
    // Waits until a thread sleeps in WaitUntil for a deadline still ahead (so
    // it has done everything that was due) and answers that deadline; nothing
    // when the timeout, a safety net on the wall clock, runs out first.
    std::optional<std::chrono::nanoseconds> WaitForSleeper(std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::chrono::nanoseconds now_{0};
    bool wakePending_ = false;
    std::optional<std::chrono::nanoseconds> sleeperDeadline_;
};

// The trigger value of every sample that SetTrigger does not name. It equals
// no trigger level (1 for types 100 and 300, 0 for type 400), so a hardware
// trigger happens only where a test puts one.
constexpr float kTriggerIdle = -1.0f;

// Back to the defaults listed with each setter; stops the producer, releases
// a held caller, drops every block (also the one the last transfer lent) and
// clears the call record, the transfer count and the count of dropped blocks.
// Not for use while the code under test may still be reading a block.
USBAMPSIM_API void Reset();

// --- Amplifiers (default: none) ---
// The attached amplifiers, in device-index order.
USBAMPSIM_API void SetAmplifiers(std::vector<Amplifier> amplifiers);
// What fmDLLGetDeviceCount answers instead of the number of amplifiers listed
// (also 0, negative, or more than listed); std::nullopt answers that number
// again. Generated blocks carry one group per amplifier answered at the last
// fmDLLInit, as a library fixes its set of amplifiers when it is initialised
// (before any fmDLLInit: one per amplifier answered now). fmDLLInit leaves the
// blocks already made queued as they are.
USBAMPSIM_API void SetDeviceCountAnswer(std::optional<int32_t> count);
// The identity text getters named here (e.g. "fmGetAmplifierSerialNumber")
// record their call but leave the caller's buffer untouched, as a library that
// fails without a word would (default: none).
USBAMPSIM_API void SetUnwrittenTexts(std::vector<std::string> functions);

// --- Initialisation (default: ready at the first poll, set-up check 1) ---
constexpr int32_t kNeverReady = 0;
// fmDLLIsDeviceInitComplete answers 1 from the polls-th poll after the last
// fmDLLInit on, 0 before; kNeverReady (or any value below 1): 0 for ever.
USBAMPSIM_API void SetReadyAfterPolls(int32_t polls);
USBAMPSIM_API void SetSetupCheckCode(int32_t code);

// --- Calibration (default: no plate listed; every plate 0, then {1}) ---
// The device indices fmBroadcastCheckPelora lists: it writes at most 16 of
// them and answers how many there are, even above 16.
USBAMPSIM_API void SetCalibrationCheck(std::vector<int32_t> deviceIndices);
// For the plate with this device index: what fmPeloraDownloadCalFile answers,
// and the answers of fmIsPeloraDownloadComplete after it, in order, the last
// one repeated for ever ({0} never completes). A download call starts the
// sequence afresh. Both act on the device selected with fmDLLSelectDeviceIndex.
USBAMPSIM_API void SetCalibrationDownload(int32_t deviceIndex, int32_t downloadAnswer,
                                          std::vector<int32_t> completeAnswers);

// --- Call record ---
// Every call of every fm function in the order they came; the data transfers
// only while RecordDataTransfers is on, so that a stream neither grows the
// record nor allocates per block.
USBAMPSIM_API std::vector<Call> Calls();
// Forgets the calls and the transfer count.
USBAMPSIM_API void ClearCalls();
// Whether fmDLLTransferFloatData calls go into the record (default: off).
USBAMPSIM_API void RecordDataTransfers(bool on);
// The fmDLLTransferFloatData calls since the last ClearCalls, recorded or not.
USBAMPSIM_API uint64_t DataTransfers();

// --- Holding a caller ---
// The next call of this fm function, from any thread, is recorded (a data
// transfer as the record's setting says) and then waits, before it has any
// effect, until ReleaseHeldCall(). Only that one call is held; it holds none
// of the library's locks while it waits.
USBAMPSIM_API void HoldCall(const std::string& function);
// True once a caller waits at the hold (at once if one does already); false
// when the timeout, a safety net, runs out first.
USBAMPSIM_API bool WaitUntilHeld(std::chrono::milliseconds timeout);
// Lets the held caller go on; disarms a hold that nobody has reached yet.
USBAMPSIM_API void ReleaseHeldCall();

// --- Data (default: manual source, wall clock, counters from 0, no load) ---
// Blocks are made only while streaming: fmDLLPostDataReadyMessages(nonzero)
// and fmDLLPostUserThreadMessages(nonzero id) have been called and
// fmBroadcastStart was the last of start, stop and shutdown. Every block made
// is queued and announced by posting message 1133 (wParam 0, lParam 0) to the
// registered thread. fmDLLTransferFloatData lends the oldest queued block
// until the next transfer call; fmDLLShutDown ends acquisition and posting,
// forgets the thread and the selection, and drops every block.
//
// The queue holds at most kBlockBufferLimit blocks, as an amplifier's own
// buffer does: a block made while it is full is lost, its counters with it
// (so the counters of the next block fetched show the gap), and counted.
constexpr size_t kBlockBufferLimit = 256;
// The blocks lost to a full queue since the last Reset.
USBAMPSIM_API uint64_t DroppedBlocks();
USBAMPSIM_API void SetBlockSource(BlockSource source);
// The producer's clock; null for the wall clock. The producer runs while the
// source is Producer, acquisition is started and the rate is above 0. Its
// block k (k = 1, 2, ...) is due k * 16 / rate seconds after the start, the
// acquisition-rate call or the change of source or clock that set it off; a
// late producer catches up at once, so the count stays on schedule. The rate
// is 1000 until fmBroadcastAcquisitionRate sets another.
USBAMPSIM_API void SetClock(std::shared_ptr<Clock> clock);
// The counter of the next sample made; taken modulo 2^24. Counters advance by
// one per sample, the same for every amplifier, and wrap to 0 after 2^24 - 1.
USBAMPSIM_API void SetCounterStart(uint32_t counter);
// A point load of `force` (newtons, pressing on the plate) at (x, y) metres in
// plate coordinates on the amplifier with this index. Raw Fz is -force, so the
// plug-in, which negates Fz, shows +force; the moments are chosen so that its
// centre of pressure comes out at (x, y) with the plate origin of that
// amplifier. Without a load every force and moment is 0.
USBAMPSIM_API void SetPointLoad(int32_t deviceIndex, float force, float x, float y);
// A load that changes while the amplifiers run: from the sample whose counter
// is `counter` (modulo 2^24) on, as if SetPointLoad were called just then.
USBAMPSIM_API void ChangePointLoadAt(int32_t deviceIndex, uint32_t counter, float force, float x, float y);
// The trigger value of the amplifier's sample whose counter is `counter`
// (modulo 2^24); every other sample carries kTriggerIdle.
USBAMPSIM_API void SetTrigger(int32_t deviceIndex, uint32_t counter, float value);
// Makes one block from the counters, loads and triggers (16 samples x the
// blocks' device count, see SetDeviceCountAnswer, x 8 floats); a count below
// 1 makes none. Answers true when a block was queued and its message posted.
// While not streaming nothing is made and the counters stay; a block made
// while the queue is full is dropped; when the post fails the block stays
// queued.
USBAMPSIM_API bool HandOverBlock();
// Queues these floats as they are, under the same rules; an empty one is refused.
USBAMPSIM_API bool HandOverBlock(std::vector<float> floats);
// True once the library is streaming (at once if it is); false when the
// timeout, a safety net, runs out first. A test waits here before it hands
// blocks over to a driver that starts acquisition on its own thread.
USBAMPSIM_API bool WaitUntilStreaming(std::chrono::milliseconds timeout);

}  // namespace UsbAmpSim
