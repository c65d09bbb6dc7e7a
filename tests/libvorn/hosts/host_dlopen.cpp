// A host that loads the library, proves and unloads it, again and again: nothing may stay
// behind, neither a thread nor memory or address space per cycle.
#include <cstdio>

#include "host.h"

int main(int argc, char **argv) {
    const char *file = argc > 1 ? argv[1] : VORN_LIBRARY_FILE;
    constexpr int kCycles = 6;
    int threads_before = host::thread_count();
    long size_after_first = 0, rss_after_first = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        host::Library lib = host::load(file);
        host::prove_both(lib, 200, 100 + static_cast<unsigned long>(cycle));
        host::check(dlclose(lib.handle) == 0, "dlclose");
        int threads = host::thread_count();
        long size = host::status_kb("VmSize"), rss = host::status_kb("VmRSS");
        std::printf("cycle %d: %d threads, VmSize %ld kB, VmRSS %ld kB\n", cycle + 1, threads, size, rss);
        host::check(threads == threads_before, "a thread stayed behind after dlclose");
        if (cycle == 0) {
            size_after_first = size;
            rss_after_first = rss;
        }
    }
    // The first cycle may keep what the libraries below (GMP, OpenSSL, FLINT) set up once;
    // the five after it may not add to it beyond noise.
    long size_growth = host::status_kb("VmSize") - size_after_first;
    long rss_growth = host::status_kb("VmRSS") - rss_after_first;
    std::printf("growth over %d cycles: VmSize %ld kB, VmRSS %ld kB\n", kCycles - 1, size_growth, rss_growth);
    host::check(size_growth < 16 * 1024, "address space grew with each cycle");
    host::check(rss_growth < 8 * 1024, "resident memory grew with each cycle");
    return 0;
}
