// Linked into GLib and GStreamer programs of ThreadSanitizer builds only.
//
// GLib and GStreamer are not instrumented. Their own memory accesses go
// through intercepted functions (memcpy, malloc, ...) that ThreadSanitizer
// would check against each other, while the atomics and futexes that order
// them are invisible to it: every pipeline would report hundreds of races
// and lock-order inversions inside GStreamer. ignore_noninstrumented_modules
// skips the checks of accesses made by uninstrumented code, as on systems
// whose libraries are never instrumented; the locks they take still order
// our code, and every access our code makes is still checked.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }

// A block GLib allocated on a streaming thread and our code read or freed on
// another looks like a race between the allocation and the access, since
// GLib hands it over through primitives the checker cannot see. Only races
// against GLib's own allocations are suppressed; our code allocates with
// new and malloc, so races on its memory are still reported.
//
// Qt, not instrumented either, hands a queued call to the thread of its
// receiver through its own futex-based lock: the call object built on the
// streaming thread and run on the user-interface thread looks raced. Only
// the call objects themselves are exempt; what the calls touch is ours and
// still checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:g_malloc\n"
         "race:g_malloc0\n"
         "race:g_slice_alloc\n"
         "race:g_slice_alloc0\n"
         "race:QFunctorSlotObject\n";
}
