// Whether a thread of this process sleeps in the kernel, as /proc shows it:
// how a suite tells a call that waits for a lock from one that runs.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace KESUTest {

// The calling thread's kernel id, for ThreadState.
inline long KernelThreadId() {
    return static_cast<long>(syscall(SYS_gettid));
}

// The state of a kernel thread of this process ('S' asleep, 'R' running); 0
// when it is gone.
inline char ThreadState(long kernelId) {
    std::ifstream stat("/proc/self/task/" + std::to_string(kernelId) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    const size_t close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? 0 : line[close + 2];
}

}  // namespace KESUTest
