// Linked into GLib programs of AddressSanitizer builds only.
//
// GLib's quark table starts with a block allocated in the library's
// constructor and, by design, leaks it when the table grows (readers may
// still hold the old block); GStreamer always grows it. GLib carries no
// symbols to match, so the suppression matches allocations made while
// shared libraries initialise, where nothing of ours allocates. GLib is
// built without frame pointers: only the slow unwinder sees past g_malloc
// to the constructor.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
// Quiet, so that a program's stderr reads the same as in a normal build.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
// GStreamer's PulseAudio device provider never frees the sound server
// connection it probes with. The client library itself drops a pending
// timing-info query when a stream is torn down while the query is on its
// way (seen now and then when a live capture stops); we never call it
// directly, so nothing of ours can hide behind this.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:_dl_init\n"
         "leak:libgstpulseaudio.so\n"
         "leak:libpulse.so\n";
}
