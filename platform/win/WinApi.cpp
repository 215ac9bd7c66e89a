#include "platform/win/WinApi.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#define WINAPI_EXPORT __attribute__((visibility("default")))

namespace {

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<MSG> messages;
};

// Queues by thread id. Leaked on purpose: threads may still end (and so
// unregister) while the process runs its static destructors.
struct Registry {
    std::mutex mutex;
    std::map<DWORD, std::shared_ptr<MessageQueue>> queues;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

std::atomic<DWORD> nextThreadId{0x1000};

// The calling thread's own queue; it is unregistered when the thread ends, so
// later posts to that id fail as they do on Windows.
struct ThreadQueue {
    DWORD id = 0;
    std::shared_ptr<MessageQueue> queue;

    ~ThreadQueue() {
        if (!queue) return;
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queues.erase(id);
    }
};

thread_local DWORD t_threadId = 0;
thread_local ThreadQueue t_queue;

MessageQueue& ownQueue() {
    if (!t_queue.queue) {
        t_queue.id = GetCurrentThreadId();
        t_queue.queue = std::make_shared<MessageQueue>();
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queues[t_queue.id] = t_queue.queue;
    }
    return *t_queue.queue;
}

bool inRange(UINT message, UINT filterMin, UINT filterMax) {
    if (filterMin == 0 && filterMax == 0) return true;
    return message >= filterMin && message <= filterMax;
}

// Caller holds queue.mutex.
bool takeFirst(MessageQueue& queue, MSG* msg, UINT filterMin, UINT filterMax, bool remove) {
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (!inRange(it->message, filterMin, filterMax)) continue;
        if (msg) *msg = *it;
        if (remove) queue.messages.erase(it);
        return true;
    }
    return false;
}

std::mutex sleepHookMutex;
std::function<void(DWORD)> sleepHook;

}  // namespace

extern "C" {

WINAPI_EXPORT DWORD GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = nextThreadId.fetch_add(1);
    return t_threadId;
}

WINAPI_EXPORT BOOL PostThreadMessageW(DWORD idThread, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> queue;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.queues.find(idThread);
        if (it == r.queues.end()) return FALSE;
        queue = it->second;
    }
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        if (queue->messages.size() >= WinApi::kPostedMessageLimit) return FALSE;
        queue->messages.push_back(MSG{nullptr, msg, wParam, lParam});
    }
    queue->arrived.notify_all();
    return TRUE;
}

WINAPI_EXPORT BOOL PeekMessageW(MSG* msg, HWND, UINT filterMin, UINT filterMax, UINT removeMsg) {
    MessageQueue& queue = ownQueue();
    std::lock_guard<std::mutex> lock(queue.mutex);
    return takeFirst(queue, msg, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

WINAPI_EXPORT BOOL GetMessageW(MSG* msg, HWND, UINT filterMin, UINT filterMax) {
    MessageQueue& queue = ownQueue();
    MSG taken{};
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.arrived.wait(lock, [&] { return takeFirst(queue, &taken, filterMin, filterMax, true); });
    if (msg) *msg = taken;
    return taken.message == WM_QUIT ? FALSE : TRUE;
}

WINAPI_EXPORT void Sleep(DWORD milliseconds) {
    std::function<void(DWORD)> hook;
    {
        std::lock_guard<std::mutex> lock(sleepHookMutex);
        hook = sleepHook;
    }
    if (hook) {
        hook(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
}

namespace WinApi {

WINAPI_EXPORT void SetSleepHook(std::function<void(DWORD)> hook) {
    std::lock_guard<std::mutex> lock(sleepHookMutex);
    sleepHook = std::move(hook);
}

}  // namespace WinApi
