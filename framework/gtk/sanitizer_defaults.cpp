// The sanitizers' defaults for the programs on GTK (download-tool,
// download-station and the GTK tests), when they are built with -fsanitize=thread or =address. Kept
// in the programs, so that they hold however the programs are started.
//
// ThreadSanitizer. GTK, GLib, fontconfig and the C++ runtime are not built
// with TSan. The threads GLib starts for itself (GIO's worker pool behind
// the file chooser, Pango's font matching) hand blocks to the main thread
// under futex-based locks that TSan cannot see, so each block handed over
// looks like a race in malloc, strlen or memcpy called from inside GLib.
// ignore_noninstrumented_modules makes TSan disregard the memory accesses
// of such calls when they come from a library that is not instrumented; it
// still sees every lock taken anywhere, and our own code, which is
// instrumented, stays fully checked. No suppression is needed beyond it.
//
// LeakSanitizer. Two libraries keep allocations for the life of the process
// by design; nothing of ours is let through:
//   fontconfig: patterns, charsets and language sets, held by Pango's font
//               caches (each face is resolved once);
//   GIO:        one-time registrations (extension points, the local file
//               system's monitor and vfs), made on first use.

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libgio-2.0.so\n";
}
#endif
