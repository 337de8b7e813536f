// Linked into GStreamer tests of ThreadSanitizer builds only.
//
// GLib and GStreamer are not instrumented and hand their objects between
// threads through atomics and futexes that ThreadSanitizer cannot see: a
// message GLib allocated on a streaming thread and freed on the test's
// thread looks like a race between the allocation and the free. Only races
// against GLib's own allocations are suppressed; our code allocates with
// new and malloc, so races on its memory are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "race:g_malloc\n"
         "race:g_malloc0\n"
         "race:g_slice_alloc\n"
         "race:g_slice_alloc0\n";
}
