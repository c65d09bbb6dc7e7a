// Runs the fuzz target's checks on given input files without libFuzzer, so that any build
// (GCC, ThreadSanitizer) can replay the seeds and the findings against the shared library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    for (int i = 1; i < argc; ++i) {
        std::ifstream f(argv[i], std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
        std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::printf("%s\n", argv[i]);
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    return 0;
}
