// The register store, the global error and the value-transfer functions.
#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "internal.h"
#include "vorn_version.h"

namespace vn {
namespace {

int32_t g_error = VN_E_NONE;

// Registers live for the life of the process; their mpz are initialised on first use so
// that loading the library costs nothing.
struct Store {
    Register r[VN_REGISTERS];
    Store() {
        for (auto &x : r) mpz_init(x.num);
    }
    ~Store() {
        for (auto &x : r) mpz_clear(x.num);
    }
};

Store &store() {
    static Store s;
    return s;
}

}  // namespace

int32_t fail(int32_t code) {
    g_error = code;
    return VN_FAIL;
}

void set_error(int32_t code) { g_error = code; }

Register *reg(const int32_t *number) {
    if (number == nullptr) {
        fail(VN_E_ARGUMENT);
        return nullptr;
    }
    if (*number < 0 || *number >= VN_REGISTERS) {
        fail(VN_E_REGISTER);
        return nullptr;
    }
    return &store().r[*number];
}

mpz_srcptr value(Register &r) {
    if (!r.num_valid) {
        // Bytes are least significant first: import whole words at a time.
        mpz_import(r.num, r.bytes.size(), -1, 1, 0, 0, r.bytes.data());
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

mpz_ptr set_number(Register &r) {
    r.byte_form = false;
    r.num_valid = true;
    r.bytes_valid = false;
    return r.num;
}

void set_bytes(Register &r, std::string &&b) {
    r.bytes = std::move(b);
    r.byte_form = true;
    r.bytes_valid = true;
    r.num_valid = false;
}

bool random_bytes(void *buf, size_t len) {
    // RAND_bytes takes an int length: draw large buffers in pieces.
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        int piece = len > (1u << 30) ? (1 << 30) : static_cast<int>(len);
        if (RAND_bytes(p, piece) != 1) {
            set_error(VN_E_CRYPTO);
            return false;
        }
        p += piece;
        len -= static_cast<size_t>(piece);
    }
    return true;
}

bool random_bits(mpz_ptr x, size_t bits) {
    size_t nbytes = (bits + 7) / 8;
    std::string buf(nbytes, '\0');
    if (!random_bytes(buf.data(), nbytes)) return false;
    if (bits % 8) buf[nbytes - 1] = static_cast<char>(buf[nbytes - 1] & ((1u << (bits % 8)) - 1));
    mpz_import(x, nbytes, -1, 1, 0, 0, buf.data());
    return true;
}

bool random_range(mpz_ptr x, mpz_srcptr lo, mpz_srcptr hi) {
    // Rejection sampling of hi - lo + 1 values: uniform, at most two draws expected.
    mpz_t span;
    mpz_init(span);
    mpz_sub(span, hi, lo);
    mpz_add_ui(span, span, 1);
    size_t bits = mpz_sizeinbase(span, 2);
    bool ok = true;
    do {
        ok = random_bits(x, bits);
    } while (ok && mpz_cmp(x, span) >= 0);
    mpz_add(x, x, lo);
    mpz_clear(span);
    return ok;
}

}  // namespace vn

using namespace vn;

extern "C" {

VN_API int32_t VN_PUTREG(const VN_STRING *value, int32_t *regno) {
    if (value == nullptr || value->len < 0 || (value->len > 0 && value->data == nullptr))
        return fail(VN_E_ARGUMENT);
    if (value->len > VN_MAX_BYTES) return fail(VN_E_TOOBIG);
    Register *r = reg(regno);
    if (!r) return VN_FAIL;
    try {
        set_bytes(*r, std::string(value->data, static_cast<size_t>(value->len)));
    } catch (const std::bad_alloc &) {
        return fail(VN_E_NOMEMORY);
    }
    return VN_OK;
}

VN_API VN_STRING VN_GETREG(int32_t *regno) {
    VN_STRING out{nullptr, 0};
    Register *r = reg(regno);
    if (!r) return out;
    const std::string &b = bytes_of(*r);
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
}

VN_API void VN_FREESTRING(VN_STRING *s) {
    if (s == nullptr) return;
    std::free(s->data);
    s->data = nullptr;
    s->len = 0;
}

VN_API int32_t VN_COPYREG(int32_t *src, int32_t *dst) {
    Register *s, *d;
    if (!regs(&s, src, &d, dst)) return VN_FAIL;
    if (s == d) return VN_OK;
    try {
        if (s->bytes_valid) d->bytes = s->bytes;
    } catch (const std::bad_alloc &) {
        return fail(VN_E_NOMEMORY);
    }
    if (s->num_valid) mpz_set(d->num, s->num);
    d->byte_form = s->byte_form;
    d->bytes_valid = s->bytes_valid;
    d->num_valid = s->num_valid;
    return VN_OK;
}

VN_API int32_t VN_SWAPREG(int32_t *a, int32_t *b) {
    Register *x, *y;
    if (!regs(&x, a, &y, b)) return VN_FAIL;
    if (x == y) return VN_OK;
    x->bytes.swap(y->bytes);
    mpz_swap(x->num, y->num);
    std::swap(x->byte_form, y->byte_form);
    std::swap(x->bytes_valid, y->bytes_valid);
    std::swap(x->num_valid, y->num_valid);
    return VN_OK;
}

// The version times 100 (1.0 gives 100), from the project's one version number.
VN_API int32_t VN_VERSION(void) { return VORN_VERSION_MAJOR * 100 + VORN_VERSION_MINOR; }

VN_API int32_t VN_GETGLOBALERROR(void) { return g_error; }

VN_API void VN_CLEARGLOBALERROR(void) { g_error = VN_E_NONE; }

}  // extern "C"
