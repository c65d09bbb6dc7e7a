// A host that runs PARI itself, with its own stack and thread count, sets it up before and
// after the library's first proof and closes it again: the library's proofs stay right and
// the host's PARI keeps working.
#include <pari/pari.h>

#include "host.h"

namespace {

// The host's own PARI at work: the 20th Mersenne prime's exponent and a small factoring.
void host_pari_works() {
    pari_sp top = avma;
    GEN m = gp_read_str("2^4423 - 1");
    host::check(isprime(gp_read_str("2^127 - 1")) == 1, "host PARI: isprime");
    host::check(gequal(gp_read_str("factor(2^64 + 1)[2, 1]"), gp_read_str("67280421310721")),
                "host PARI: factor");
    host::check(expi(m) == 4422, "host PARI: power");
    set_avma(top);
}

void start_host_pari() {
    // A small stack of its own and one thread: the host's choices, not the library's.
    pari_init_opts(size_t{1} << 20, 0, INIT_DFTm | INIT_noINTGMPm);
    sd_nbthreads("1", d_SILENT);
}

}  // namespace

int main(int argc, char **argv) {
    host::Library lib = host::load(argc > 1 ? argv[1] : VORN_LIBRARY_FILE);
    // The library first, then the host's PARI.
    host::prove_both(lib, 200, 21);
    start_host_pari();
    host_pari_works();
    host::prove_both(lib, 200, 22);
    host_pari_works();
    pari_close();
    host::prove_both(lib, 200, 23);
    // The host's PARI again, closed while the library keeps proving.
    start_host_pari();
    host::prove_both(lib, 200, 24);
    host_pari_works();
    pari_close();
    host::prove_both(lib, 200, 25);
    std::puts("host PARI beside the library: both kept working");
    return 0;
}
