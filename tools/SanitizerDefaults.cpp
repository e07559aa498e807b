// Linked into every executable of a sanitizer build. LeakSanitizer misreads the dynamic
// thread-local blocks of the engine's threads and its scan then crashes, now and then, at
// exit or even when tests are only listed. It is told not to track those blocks: the
// program's own thread-locals are static, so no leak of ours goes unseen for it.
extern "C" const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
