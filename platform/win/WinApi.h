// Stand-in for the part of the Windows API the plug-in and the amplifier
// library use: thread message queues, thread ids and Sleep.
//
// Built as a shared library so that every module of the process (the plug-in,
// the amplifier library, the host) sees one set of queues, as on Windows.
#pragma once

#include <cstdint>
#include <functional>

typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int BOOL;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef void* HWND;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_USER = 0x0400;
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

extern "C" {

// A stable, non-zero id for the calling thread; never reused within the process.
DWORD GetCurrentThreadId(void);

// Appends a message to the queue of thread idThread. Fails (FALSE) when that
// thread has no queue (it never called PeekMessageW or GetMessageW, or it
// ended) and when its queue is full: WinApi::kPostedMessageLimit messages.
BOOL PostThreadMessageW(DWORD idThread, UINT msg, WPARAM wParam, LPARAM lParam);

// Creates the calling thread's queue on first use. Looks for the first message
// whose number lies in [filterMin, filterMax] (0, 0: any), removes it when
// removeMsg is PM_REMOVE, and answers whether one was found. Never blocks.
BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);

// As PeekMessageW with PM_REMOVE, but waits until a message arrives.
// Answers 0 for WM_QUIT, nonzero for any other message.
BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);

// Pauses the calling thread, through the hook when one is installed.
void Sleep(DWORD milliseconds);
}

namespace WinApi {

// The messages a thread's queue holds at most, as on Windows by default: a
// thread that falls behind costs bounded memory, and its senders see the
// failure.
constexpr unsigned kPostedMessageLimit = 10000;

// Replaces the body of Sleep for the whole process; an empty hook restores real
// sleeping. Tests install a recorder so that fixed pauses cost no time. Install
// and remove it while no other thread can be inside Sleep.
void SetSleepHook(std::function<void(DWORD milliseconds)> hook);

}  // namespace WinApi
