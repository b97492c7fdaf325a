// The thread primitives the driver uses. A MinGW toolchain of the win32
// thread model has no std::thread (the Windows build uses the posix one);
// with it the pass runs on the calling thread alone, and the primitives are
// stand-ins that never wait, which one thread never needs to.
#pragma once

#include <version>  // defines _GLIBCXX_HAS_GTHREADS where std::thread exists

#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define KURVANE_ENGINE_THREADS 0
#else
#define KURVANE_ENGINE_THREADS 1
#endif

#include <mutex>  // the lock guards, which take any lockable type
#if KURVANE_ENGINE_THREADS
#include <condition_variable>
#include <thread>
#endif

namespace kurvane::detail {

#if KURVANE_ENGINE_THREADS
using Mutex = std::mutex;
using Condition = std::condition_variable;
using Thread = std::thread;
inline unsigned core_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}
#else
struct Mutex {
    void lock() {}
    void unlock() {}
};
struct Condition {
    template <class Lock, class Ready>
    void wait(Lock&, Ready) {}
    void notify_all() {}
};
struct Thread {  // never started
    bool joinable() const { return false; }
    void join() {}
};
inline unsigned core_count() { return 1; }
#endif

}  // namespace kurvane::detail
