// Random numbers and random primes. Every random bit comes from the CSPRNG (random_bytes).
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core.h"
#include "internal.h"
#include "small_primes.h"

namespace vn {
namespace {

// Candidates per sieve window. A window spans step * kWindow numbers, well beyond the
// average prime gap (about 0.7 * bits) at every supported size, so one window nearly always
// holds a prime.
constexpr uint32_t kWindow = 8192;

// How many sieve primes pay for themselves: one more prime costs a word division per window,
// one composite that slips through costs a modular power of bits^2 or more. Tuned by
// measurement at 512 .. 4096 bits.
size_t sieve_prime_count(size_t bits) {
    size_t n = bits * bits / 16;
    return std::clamp<size_t>(n, 64, sieve_primes().size());
}

bool meets_constraints(uint64_t p, bool three_mod_four, unsigned long avoid_factor_of) {
    if (three_mod_four && p % 4 != 3) return false;
    if (avoid_factor_of > 1 && (p - 1) % avoid_factor_of == 0) return false;
    return true;
}

// Up to 20 bits: list the qualifying primes and draw one, so that impossible constraints
// (no 3-bit prime is 3 mod 4 with p-1 prime to 3) end in a failure rather than a loop.
Status small_prime(const Context &ctx, mpz_ptr p, size_t bits, bool three_mod_four, unsigned long avoid_factor_of) {
    std::vector<uint32_t> found;
    uint32_t lo = uint32_t{1} << (bits - 1);
    for (uint32_t n : primes_below(uint32_t{1} << bits))
        if (n >= lo && meets_constraints(n, three_mod_four, avoid_factor_of)) found.push_back(n);
    if (found.empty()) return failure(VN_E_ARGUMENT);
    Num idx, lo_z, hi_z;
    mpz_set_ui(hi_z, found.size() - 1);
    random_range(ctx, idx, lo_z, hi_z);
    mpz_set_ui(p, found[mpz_get_ui(idx)]);
    return kOk;
}

// Residues of x modulo each sieve prime, three primes to a word division.
void residues(std::vector<uint32_t> &r, mpz_srcptr x, size_t count) {
    const std::vector<uint32_t> &pr = sieve_primes();
    r.resize(count);
    size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        unsigned long m = static_cast<unsigned long>(pr[i]) * pr[i + 1] * pr[i + 2];
        unsigned long v = mpz_fdiv_ui(x, m);
        r[i] = static_cast<uint32_t>(v % pr[i]);
        r[i + 1] = static_cast<uint32_t>(v % pr[i + 1]);
        r[i + 2] = static_cast<uint32_t>(v % pr[i + 2]);
    }
    for (; i < count; ++i) r[i] = static_cast<uint32_t>(mpz_fdiv_ui(x, pr[i]));
}

// Marks in `composite` the window positions i whose candidate base + step*i has a sieve
// prime factor; r holds base's residues.
void sieve_window(std::vector<uint8_t> &composite, const std::vector<uint32_t> &r, uint32_t step) {
    const std::vector<uint32_t> &pr = sieve_primes();
    std::fill(composite.begin(), composite.end(), 0);
    for (size_t j = 0; j < r.size(); ++j) {
        uint64_t p = pr[j];
        // base + step*i = 0 (mod p)  <=>  i = -r * step^-1 (mod p); step is 2 or 4.
        uint64_t inv2 = (p + 1) / 2;
        uint64_t inv_step = step == 2 ? inv2 : inv2 * inv2 % p;
        uint64_t i = (p - r[j]) % p * inv_step % p;
        for (; i < kWindow; i += p) composite[i] = 1;
    }
}

void large_prime(const Context &ctx, mpz_ptr p, size_t bits, int rounds, bool three_mod_four,
                 unsigned long avoid_factor_of) {
    const uint32_t step = three_mod_four ? 4 : 2;
    const size_t count = sieve_prime_count(bits);
    std::vector<uint32_t> r;
    std::vector<uint8_t> composite(kWindow);
    // The residues and the sieve tell the prime modulo every sieve prime: wiped however the
    // search ends, a stop included.
    struct WipeTables {
        std::vector<uint32_t> &r;
        std::vector<uint8_t> &composite;
        ~WipeTables() {
            wipe(r);
            wipe(composite);
        }
    } wipe_tables{r, composite};
    Num base, cand, two, room;
    mpz_set_ui(two, 2);
    bool found = false;
    // Progress: candidates that survived the sieve, against how many a search needs on
    // average (one prime among ln(2^bits) numbers, a sieve that leaves about 1.12 / ln(P) of
    // the odd ones): 1 - e^(-tried/expected) rises steadily and reaches 1000 only at the end.
    double sieve_limit = static_cast<double>(sieve_primes()[count - 1]);
    double expected = 0.6931 * static_cast<double>(bits) * 1.12 / (2 * std::log(sieve_limit));
    uint64_t tried = 0;
    while (!found) {
        // A fresh random start: top bit set, odd (3 mod 4 when asked).
        random_bits(ctx, base, bits);
        mpz_setbit(base, bits - 1);
        mpz_setbit(base, 0);
        if (three_mod_four) mpz_setbit(base, 1);
        residues(r, base, count);
        // Search upward window by window until a prime or the end of the bits-bit range.
        while (!found) {
            // room = how many candidates remain below 2^bits.
            mpz_set_ui(room, 0);
            mpz_setbit(room, bits);
            mpz_sub(room, room, base);
            mpz_sub_ui(room, room, 1);
            mpz_fdiv_q_ui(room, room, step);
            uint32_t limit = mpz_cmp_ui(room, kWindow) < 0
                                 ? static_cast<uint32_t>(mpz_get_ui(room)) + 1
                                 : kWindow;
            sieve_window(composite, r, step);
            unsigned long base_m1 =
                avoid_factor_of > 1 ? mpz_fdiv_ui(base, avoid_factor_of) : 0;  // residue of base
            for (uint32_t i = 0; i < limit && !found; ++i) {
                if (composite[i]) continue;
                if (avoid_factor_of > 1 &&
                    (static_cast<unsigned __int128>(base_m1) + step * i) % avoid_factor_of == 1)
                    continue;  // candidate - 1 divisible by avoid_factor_of
                ctx.check();  // between candidates
                ctx.permille(static_cast<int32_t>(1000 * (1 - std::exp(-static_cast<double>(++tried) / expected))));
                mpz_add_ui(cand, base, static_cast<unsigned long>(step) * i);
                if (!strong_probable_prime(ctx, cand, two)) continue;
                if (!random_base_rounds(ctx, cand, rounds)) break;
                found = bpsw(cand);
            }
            if (found || limit < kWindow) break;
            mpz_add_ui(base, base, static_cast<unsigned long>(step) * kWindow);
            const std::vector<uint32_t> &pr = sieve_primes();
            for (size_t j = 0; j < r.size(); ++j)
                r[j] = static_cast<uint32_t>((r[j] + uint64_t{step} * kWindow) % pr[j]);
        }
    }
    mpz_set(p, cand);
}

}  // namespace

Status generate_prime(const Context &ctx, mpz_ptr p, size_t bits, int rounds, bool three_mod_four,
                      unsigned long avoid_factor_of) {
    rounds = clamp_rounds(rounds);
    if (bits <= 20) return small_prime(ctx, p, bits, three_mod_four, avoid_factor_of);
    // p - 1 is even for every odd p: an even factor to avoid leaves no candidate.
    if (avoid_factor_of > 1 && avoid_factor_of % 2 == 0) return failure(VN_E_ARGUMENT);
    large_prime(ctx, p, bits, rounds, three_mod_four, avoid_factor_of);
    return kOk;
}

Status random_number(const Context &ctx, NumberOut &d, int32_t bits) {
    if (bits < 1 || bits > VN_MAX_RANDOM_BITS) return failure(VN_E_BITS);
    size_t nbytes = (static_cast<size_t>(bits) + 7) / 8;
    unsigned top_bits = static_cast<unsigned>(bits - 1) % 8 + 1;  // bits in the top byte
    struct Buffer {
        std::string b;
        ~Buffer() { wipe(b); }
    } buf{std::string(nbytes, '\0')};
    random_bytes(ctx, buf.b.data(), nbytes);
    auto &top = reinterpret_cast<unsigned char &>(buf.b[nbytes - 1]);
    top &= static_cast<unsigned char>((1u << top_bits) - 1);
    // The top byte must not be zero; redraw it (uniformly over its non-zero values) rather
    // than set a fixed bit, so every non-zero top byte stays possible.
    while (top == 0) {
        random_bytes(ctx, &top, 1);
        top &= static_cast<unsigned char>((1u << top_bits) - 1);
    }
    mpz_import(d.put(), nbytes, -1, 1, 0, 0, buf.b.data());
    return kOk;
}

Status random_prime(const Context &ctx, NumberOut &d, int32_t bits, int32_t rounds) {
    if (bits < VN_MIN_PRIME_BITS || bits > VN_MAX_PRIME_BITS) return failure(VN_E_BITS);
    Status s = generate_prime(ctx, d.temporary(), static_cast<size_t>(bits), clamp_rounds(rounds), false, 0);
    if (succeeded(s)) d.keep();
    return s;
}

}  // namespace vn
