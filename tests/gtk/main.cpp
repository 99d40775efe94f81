// The GTK tests' entry: GTK needs a display, which the tests get from a
// virtual X server (xvfb-run -a). Listing the tests needs none.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

namespace {

// An X server that is there can still drop a connection: unless started
// with -noreset it resets when its last client leaves, and closes a
// connection made meanwhile. Tests that start and end in parallel on one
// display meet that now and then, so a failed open is tried again for a
// moment. With no display named there is nothing to wait for.
bool OpenDisplay(int* argc, char*** argv) {
    const bool named =
        std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    for (int attempt = 1;; ++attempt) {
        if (gtk_init_check(argc, argv)) {
            return true;
        }
        if (!named || attempt == 30) {
            return false;
        }
        g_usleep(100 * 1000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // Keep GTK to itself: no accessibility bus, no settings daemon, no
    // virtual file systems. Each of these would start threads and talk to
    // services that a test machine does not have.
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GTK_A11Y", "none", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
    setenv("GIO_USE_VFS", "local", 1);
    if (!OpenDisplay(&argc, &argv)) {
        std::fprintf(stderr,
                     "gtk_tests: cannot open a display. The tests drive real GTK windows; "
                     "run them under a virtual X server: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    return RUN_ALL_TESTS();
}
