// The register store, the global error and the value-transfer functions.
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <new>

#include "internal.h"
#include "vorn_version.h"

namespace vn {
namespace {

// Each thread sees the failures of its own calls.
thread_local int32_t g_error = VN_E_NONE;

// Registers live until the process ends or the library is unloaded. The store is made on
// the first call that names a register, under the library lock, and wiped and freed under
// it by release_registers.
struct Store {
    Register r[VN_REGISTERS];
    Store() {
        for (auto &x : r) mpz_init(x.num);
    }
    ~Store() {
        for (auto &x : r) {
            wipe(x.bytes);
            wipe_number(x.num);  // the whole allocation: once, at the end
            mpz_clear(x.num);
        }
    }
};

Store *g_store = nullptr;

// Registers given a number during the current call (at most four destinations a call).
Register *g_written[8];
size_t g_written_count = 0;

// Wipes the string's whole buffer and lets it go, so that no later call wipes it again.
void discard(std::string &s) {
    wipe(s);
    std::string().swap(s);
}

// Wipes what the register's number may hold and sets it to 0, keeping the allocation.
void clear_number(Register &r) {
    mpz_ptr x = r.num;
    size_t dirty = std::max(r.dirty, static_cast<size_t>(mpz_size(x)));
    size_t limit = std::min(dirty, static_cast<size_t>(x->_mp_alloc));
    if (limit) OPENSSL_cleanse(x->_mp_d, limit * sizeof(mp_limb_t));
    x->_mp_size = 0;
    r.dirty = 0;
}

}  // namespace

void release_registers() noexcept {
    delete g_store;
    g_store = nullptr;
    g_written_count = 0;
}

void Num::release(size_t dirty_limbs) {
    size_t limit = std::min(dirty_limbs, static_cast<size_t>(v->_mp_alloc));
    if (limit) OPENSSL_cleanse(v->_mp_d, limit * sizeof(mp_limb_t));
    mpz_clear(v);
    mpz_init(v);
}

void wipe_bytes(void *p, size_t n) {
    if (n) OPENSSL_cleanse(p, n);
}

void wipe_number(mpz_ptr x) {
    if (x->_mp_alloc > 0) OPENSSL_cleanse(x->_mp_d, static_cast<size_t>(x->_mp_alloc) * sizeof(mp_limb_t));
    x->_mp_size = 0;
}

void wipe(std::string &s) {
    s.resize(s.capacity());  // no reallocation: the whole buffer becomes visible
    OPENSSL_cleanse(s.data(), s.size());
    s.clear();
}

void settle_written() noexcept {
    // GMP writes a result in place within its size plus a limb or two, beyond which it
    // leaves zero limbs; what may hold an older value is the register's dirty prefix.
    for (size_t i = 0; i < g_written_count; ++i) {
        Register &r = *g_written[i];
        mpz_ptr x = r.num;
        auto used = static_cast<size_t>(mpz_size(x)), alloc = static_cast<size_t>(x->_mp_alloc);
        size_t limit = std::min(alloc, std::max(r.dirty, used + 2));
        if (limit > used) OPENSSL_cleanse(x->_mp_d + used, (limit - used) * sizeof(mp_limb_t));
        r.dirty = used;
    }
    g_written_count = 0;
}

int32_t fail(int32_t code) noexcept {
    g_error = code;
    return VN_FAIL;
}

void set_error(int32_t code) noexcept { g_error = code; }

Register *find_register(const int32_t *number, int32_t &error) {
    if (number == nullptr) {
        error = VN_E_ARGUMENT;
        return nullptr;
    }
    if (*number < 0 || *number >= VN_REGISTERS) {
        error = VN_E_REGISTER;
        return nullptr;
    }
    if (g_store == nullptr) g_store = new Store;
    return &g_store->r[*number];
}

Register *reg(const int32_t *number) {
    int32_t error = VN_E_NONE;
    Register *r = find_register(number, error);
    if (r == nullptr) set_error(error);
    return r;
}

void number_from_bytes(mpz_ptr x, const std::string &bytes) {
    // Bytes are least significant first: the high zero bytes end the string.
    size_t n = bytes.size();
    while (n > 0 && bytes[n - 1] == 0) --n;
    if (n > 0) {
        auto top = static_cast<unsigned char>(bytes[n - 1]);
        size_t bits = 8 * (n - 1);
        while (top) ++bits, top >>= 1;
        if (bits > static_cast<size_t>(VN_MAX_BITS)) throw TooBig{};
    }
    mpz_import(x, n, -1, 1, 0, 0, bytes.data());
}

mpz_srcptr value(Register &r) {
    if (!r.num_valid) {
        number_from_bytes(r.num, r.bytes);
        r.dirty = std::max(r.dirty, static_cast<size_t>(mpz_size(r.num)));
        r.num_valid = true;
    }
    return r.num;
}

const std::string &bytes_of(Register &r) {
    if (!r.bytes_valid) {
        size_t n = (bit_size(r.num) + 7) / 8;
        r.bytes.resize(n);
        if (n) mpz_export(r.bytes.data(), nullptr, -1, 1, 0, 0, r.num);
        r.bytes_valid = true;
    }
    return r.bytes;
}

mpz_ptr number_target(Register &r) {
    r.dirty = std::max(r.dirty, static_cast<size_t>(mpz_size(r.num)));
    return r.num;
}

void number_written(Register &r) {
    // Invalid bytes were wiped when they became invalid.
    if (r.bytes_valid) discard(r.bytes);
    bool listed = false;
    for (size_t i = 0; i < g_written_count; ++i) listed |= g_written[i] == &r;
    if (!listed && g_written_count < std::size(g_written)) g_written[g_written_count++] = &r;
    r.byte_form = false;
    r.num_valid = true;
    r.bytes_valid = false;
}

mpz_ptr set_number(Register &r) {
    mpz_ptr x = number_target(r);
    number_written(r);
    return x;
}

void adopt_number(Register &r, Num &t) {
    mpz_ptr x = set_number(r);
    size_t old_dirty = r.dirty;
    mpz_swap(x, t.v);
    // The temporary's buffer may hold GMP's scratch anywhere in it; the old buffer holds the
    // old value in its dirty prefix only.
    r.dirty = static_cast<size_t>(x->_mp_alloc);
    t.release(old_dirty);
}

void set_bytes(Register &r, std::string &&b) {
    if (b.size() > static_cast<size_t>(VN_MAX_BYTES)) throw TooBig{};
    discard(r.bytes);
    clear_number(r);
    r.bytes = std::move(b);
    r.byte_form = true;
    r.bytes_valid = true;
    r.num_valid = false;
}

std::atomic<RandomSource> g_random_source{nullptr};
Seams g_seams;

void random_bytes(const Context &ctx, void *buf, size_t len) {
    // RAND_bytes takes an int length: draw large buffers in pieces.
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        int piece = len > (1u << 30) ? (1 << 30) : static_cast<int>(len);
        if ((ctx.random ? ctx.random(p, piece) : RAND_bytes(p, piece)) != 1) throw ProviderFailed{};
        p += piece;
        len -= static_cast<size_t>(piece);
    }
}

void random_bits(const Context &ctx, mpz_ptr x, size_t bits) {
    size_t nbytes = (bits + 7) / 8;
    // The start of a prime search: wiped however the draw ends.
    struct Buffer {
        std::string b;
        ~Buffer() { wipe(b); }
    } buf{std::string(nbytes, '\0')};
    random_bytes(ctx, buf.b.data(), nbytes);
    if (bits % 8)
        buf.b[nbytes - 1] = static_cast<char>(static_cast<unsigned char>(buf.b[nbytes - 1]) & ((1u << (bits % 8)) - 1));
    mpz_import(x, nbytes, -1, 1, 0, 0, buf.b.data());
}

void random_range(const Context &ctx, mpz_ptr x, mpz_srcptr lo, mpz_srcptr hi) {
    // Rejection sampling of hi - lo + 1 values: uniform, at most two draws expected.
    Num span;
    mpz_sub(span, hi, lo);
    mpz_add_ui(span, span, 1);
    size_t bits = mpz_sizeinbase(span, 2);
    do random_bits(ctx, x, bits);
    while (mpz_cmp(x, span) >= 0);
    mpz_add(x, x, lo);
}

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_PUTREG(const VN_STRING *value, int32_t *regno) {
    return guarded(VN_FAIL, [&] {
        if (value == nullptr || value->len < 0 || (value->len > 0 && value->data == nullptr))
            return fail(VN_E_ARGUMENT);
        if (value->len > VN_MAX_BYTES) return fail(VN_E_TOOBIG);
        Register *r = reg(regno);
        if (!r) return VN_FAIL;
        set_bytes(*r, std::string(value->data, static_cast<size_t>(value->len)));
        return VN_OK;
    });
}

VN_API VN_STRING VN_GETREG(int32_t *regno) {
    return guarded(VN_STRING{nullptr, 0}, [&] {
        VN_STRING out{nullptr, 0};
        Register *r = reg(regno);
        if (!r) return out;
        const std::string &b = bytes_of(*r);
        if (b.size() > static_cast<size_t>(INT32_MAX) - 1) {  // cannot happen within the limits
            fail(VN_E_TOOBIG);
            return out;
        }
        char *data = static_cast<char *>(std::malloc(b.size() + 1));
        if (data == nullptr) {
            fail(VN_E_NOMEMORY);
            return out;
        }
        std::memcpy(data, b.data(), b.size());
        data[b.size()] = '\0';
        out.data = data;
        out.len = static_cast<int32_t>(b.size());
        return out;
    });
}

VN_API void VN_FREESTRING(VN_STRING *s) {
    // Touches no library state: no lock, and nothing here can throw.
    if (s == nullptr) return;
    if (s->data != nullptr && s->len >= 0) OPENSSL_cleanse(s->data, static_cast<size_t>(s->len) + 1);
    std::free(s->data);
    s->data = nullptr;
    s->len = 0;
}

VN_API int32_t VN_COPYREG(int32_t *src, int32_t *dst) {
    return guarded(VN_FAIL, [&] {
        Register *s, *d;
        if (!regs(&s, src, &d, dst)) return VN_FAIL;
        if (s == d) return VN_OK;
        // Copy first: an allocation failure then leaves dst as it was.
        std::string bytes = s->bytes_valid ? s->bytes : std::string();
        discard(d->bytes);
        clear_number(*d);
        d->bytes = std::move(bytes);
        if (s->num_valid) mpz_set(d->num, s->num);
        d->dirty = static_cast<size_t>(mpz_size(d->num));
        d->byte_form = s->byte_form;
        d->bytes_valid = s->bytes_valid;
        d->num_valid = s->num_valid;
        return VN_OK;
    });
}

VN_API int32_t VN_SWAPREG(int32_t *a, int32_t *b) {
    return guarded(VN_FAIL, [&] {
        Register *x, *y;
        if (!regs(&x, a, &y, b)) return VN_FAIL;
        if (x == y) return VN_OK;
        x->bytes.swap(y->bytes);
        mpz_swap(x->num, y->num);
        std::swap(x->dirty, y->dirty);
        std::swap(x->byte_form, y->byte_form);
        std::swap(x->bytes_valid, y->bytes_valid);
        std::swap(x->num_valid, y->num_valid);
        return VN_OK;
    });
}

// These three read a constant or the calling thread's own error: no lock, nothing to throw.
// The version times 100 (1.0 gives 100), from the project's one version number.
VN_API int32_t VN_VERSION(void) { return VORN_VERSION_MAJOR * 100 + VORN_VERSION_MINOR; }

VN_API int32_t VN_GETGLOBALERROR(void) { return g_error; }

VN_API void VN_CLEARGLOBALERROR(void) { g_error = VN_E_NONE; }

}  // extern "C"
