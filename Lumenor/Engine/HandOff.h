#pragma once

// Qt hands queued calls from thread to thread under futex-based locks that ThreadSanitizer does
// not see into. These marks tell it where one thread hands data to another, so that the tsan
// build checks our own code instead of reporting every queued call; they vanish elsewhere.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace HandOff {

/// Everything this thread wrote so far is handed on with `token`.
inline void release(void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(token);
#else
    (void)token;
#endif
}

/// This thread now sees what was handed on with `token`.
inline void acquire(void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(token);
#else
    (void)token;
#endif
}

} // namespace HandOff
