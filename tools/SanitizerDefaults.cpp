// Linked into every executable of a sanitizer build. LeakSanitizer misreads the dynamic
// thread-local blocks of the engine's threads and its scan then crashes, now and then, at
// exit or even when tests are only listed. It is told not to track those blocks: the
// program's own thread-locals are static, so no leak of ours goes unseen for it.
extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}

// ThreadSanitizer reads its suppressions from the list in the source tree, and a report fails
// the program that made it. Its lock-order checker is off: the embedded engine takes its
// own mutexes in ways that make the checker itself fail ("CHECK failed" in its deadlock
// detector) and end the program; the races are what it is run for.
extern "C" const char* __tsan_default_options() {
    return "suppressions=" KESTRIX_TSAN_SUPPRESSIONS " detect_deadlocks=0";
}
