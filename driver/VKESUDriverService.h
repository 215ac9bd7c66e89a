// The one component that talks to the amplifier library. Every library call
// runs on the service's worker thread, except zeroing (on the caller's thread)
// and the final stop and shutdown (in the destructor, after the worker ended).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/barrier.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "driver/DriverValues.h"
#include "platform/win/WinApi.h"
#include "sdk/IHost.h"

namespace KESU {

class VKESUDriverService {
public:
    // One detected amplifier and the platform wired to it.
    struct VDeviceInfo {
        int32_t productType = 0;
        std::string amplifierModelNumber;
        std::string amplifierSerialNumber;
        std::string amplifierFirmwareVersion;
        std::string platformModelNumber;
        std::string platformSerialNumber;
        std::vector<float> platformXYZOffsets;  // x, y, z in inches
        std::string platformLength;             // inches, as text
        std::string platformWidth;              // inches, as text
        uint32_t deviceIndex = 0;
    };

    // Outcome of the library start-up that opens a detection.
    struct VDllInitInfo {
        int32_t status = DllInitStatus::kSetupAsSaved;
        int32_t setupCheckCode = 0;
        std::string message;
    };

    typedef boost::function<void(bool running)> StateCallback;
    typedef boost::function<void(float* block)> DataCallback;
    typedef boost::function<void(VDllInitInfo info, std::vector<VDeviceInfo> devices)> DetectionCallback;

    static constexpr UINT WM_DATA_READY = WM_USER + 109;
    static constexpr UINT WM_DRIVER_COMMAND = WM_USER + 110;
    static constexpr UINT WM_DRIVER_QUIT = WM_USER + 111;

    // The most blocks the worker passes to the data callback in a row while a
    // command or the quit waits: a library that always has a block ready must
    // not keep either waiting longer the longer it floods.
    static constexpr int kBlocksPerTurn = 4;

    // Host thread. Returns once the worker is ready to take commands.
    VKESUDriverService();
    // Host thread; takes queueMutex to ask for the quit. Ends the worker: the
    // commands queued by then still run, in order, but no more blocks are
    // drained and no command those queue runs. Then stops and shuts down the
    // library if a start-up succeeded. Lets no exception out.
    virtual ~VKESUDriverService();

    VKESUDriverService(const VKESUDriverService&) = delete;
    VKESUDriverService& operator=(const VKESUDriverService&) = delete;

    // Any thread; takes queueMutex only. The command runs later on the worker.
    void Enqueue(boost::function<void()> command);

    // Any thread; take stateMutex while assigning. Callers may hold their own
    // mutex (lock order: the caller's, then stateMutex).
    void SetStateCallback(StateCallback callback);
    void SetDataCallback(DataCallback callback);  // the first one set stays

    // Any thread: queue one complete detection; the callback runs on the worker
    // without any service lock held.
    void DetectDevices(DetectionCallback callback);

    // Any thread: queue hardware commands; each body takes stateMutex on the
    // worker. Start and Stop change stopPending and queue their body in one
    // step under queueMutex.
    void SetAcquisitionRate(uint32_t rate);
    void SetGenlockMode(bool on);
    void Start();
    void Stop();
    void Blink(uint32_t deviceIndex);
    // Runs on the calling thread under stateMutex, only while acquisition runs.
    void Zero();

    // Observers for tests and diagnostics, any thread. IsRunning and
    // IsDllInitialised take stateMutex, so they wait for a running body.
    bool IsRunning() const;
    bool IsDllInitialised() const;
    bool IsStopPending() const;
    DWORD WorkerThreadId() const { return workerThreadId; }

private:
    // One library call of a command and the trace line written once it returned.
    struct TracedCall {
        boost::function<void()> call;
        std::string trace;
    };

    // Worker thread: the message loop and its two kinds of work. A drain
    // gives a waiting command its turn after every kBlocksPerTurn blocks and
    // once it ends, and stops once the quit is asked.
    void ThreadProc();
    void DrainDataBlocks();
    // Worker thread; takes queueMutex while it takes the command. False when
    // nothing ran: the queue was empty, or the quit was asked and only
    // commands queued after it wait.
    bool RunNextCommand();
    // Worker thread, between blocks and after a drain: false once the quit is
    // asked, else runs the next command if one waits. Takes no lock when none
    // waits.
    bool TakeTurn();
    // Any thread, queueMutex held by the caller.
    void EnqueueLocked(const boost::function<void()>& command);
    // Worker thread, stateMutex held by the caller (detection).
    void InitDll(VDllInitInfo& info);
    // Once no block of the earlier set can still come: after the stop of a
    // repeated start-up and its pause, before the library is initialised.
    void DropEarlierBlocks();
    void DownloadCalibration();
    VDeviceInfo ReadDevice(int index);
    // Worker thread (commands and a repeated start-up), or the caller's thread
    // in Zero; stateMutex held. The pause that paces the amplifiers, then
    // each call with its trace line.
    void PauseCallTrace(std::initializer_list<TracedCall> calls);
    // Worker thread bodies; each takes stateMutex itself.
    void DoDetectDevices(DetectionCallback callback);
    void DoSetAcquisitionRate(uint32_t rate);
    void DoSetGenlockMode(bool on);
    void DoStart();
    void DoStop();
    void DoBlink(uint32_t deviceIndex);
    // Stores running and reports it. With a lock given (held on stateMutex),
    // releases it before calling the callback; with none, takes stateMutex for
    // the store and a copy of the callback, then calls the copy unlocked.
    void SetRunning(bool value, boost::unique_lock<boost::mutex>* lock);
    // Worker thread, and the host thread inside Zero and the destructor.
    void Log(const std::string& text, int level) const;
    // Worker thread and destructor, inside a catch block: logs what was
    // caught as an error. Nothing leaves it, also when the logger throws.
    void LogCaughtException(const char* catcher) const noexcept;

    mutable boost::mutex stateMutex;
    std::deque<boost::function<void()>> commandQueue;
    boost::mutex queueMutex;
    // The size of commandQueue, written under queueMutex wherever it changes,
    // so that the data path looks for a waiting command without a lock.
    std::atomic<size_t> waitingCommands;
    // Set by the destructor under queueMutex, together with commandsBeforeQuit;
    // read by the worker without a lock between messages and blocks. It does
    // not rely on the quit message, which a full queue may refuse.
    std::atomic<bool> quitAsked;
    // Once the quit is asked, the commands still owed a run: those queued
    // before it. Guarded by queueMutex.
    size_t commandsBeforeQuit;
    StateCallback stateCallback;
    // Read by the worker without a lock: it is set once, before the first
    // detection can switch data messages on, and never replaced.
    DataCallback dataCallback;
    boost::barrier startBarrier;
    boost::shared_ptr<boost::thread> workerThread;
    DWORD workerThreadId;
    bool running;
    bool dllInitialised;
    // A stop body is queued behind every start queued so far. Start and Stop
    // write it under queueMutex together with their queueing; the stop body
    // clears it under queueMutex (after stateMutex) once the library has been
    // told and no other stop waits; a repeated start-up clears it without the
    // lock (stateMutex is held there), which can only let one more stop be
    // queued.
    std::atomic<bool> stopPending;
    // Stop bodies queued and not yet finished; guarded by queueMutex.
    int queuedStops;
    ZentuDigitalDevice::IHost* logger;
};

}  // namespace KESU
