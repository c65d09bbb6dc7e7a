// Modular powers and decimal conversions that one GMP call would take seconds for, run whole
// in the helper process (prover.cpp, prover_main.cpp), which a stop kills: they cost GMP's
// one call plus the transfer (tens of milliseconds for the largest numbers), where pieces
// computed here with checks between them cost more (a power in pieces twice as much) or
// cannot be made short enough (the top division of a decimal conversion of VN_MAX_BITS is
// one GMP call of several seconds). Each returns false when no helper ran, and the caller
// computes in its own thread.
#include <cstring>
#include <string>

#include "internal.h"
#include "job_parts.h"
#include "prover.h"

namespace vn {
namespace {

using job::number_size;
using job::put_number;

// The answer's one part, when the answer is well formed: 'R' and the part, nothing after.
bool answer_part(const std::string &answer, size_t &at, size_t &len) {
    size_t pos = 1;
    return !answer.empty() && answer[0] == 'R' && job::take_part(answer, pos, at, len) && pos == answer.size();
}

bool answer_number(const std::string &answer, mpz_ptr x) {
    size_t at, len;
    return answer_part(answer, at, len) && job::number_from_part(x, answer.data() + at, len);
}

// Runs the job; throws Cancelled when a stop ended it. The request is wiped either way.
JobResult run(const Context &ctx, std::string &head, const char *body, size_t body_len, std::string &answer,
              size_t max_answer) {
    JobResult result = run_job(head, body, body_len, answer, max_answer, ctx.slot ? &ctx.slot->stop : nullptr);
    wipe(head);
    if (result == JobResult::stopped) {
        wipe(answer);
        throw Cancelled{};
    }
    return result;
}

}  // namespace

bool offload_powm(const Context &ctx, mpz_ptr r, mpz_srcptr b, mpz_srcptr e, mpz_srcptr m, bool secure) {
    ctx.check();
    std::string head, answer;
    head.reserve(1 + number_size(b) + number_size(e) + number_size(m));
    head += secure ? 's' : 'm';
    put_number(head, b);
    put_number(head, e);
    put_number(head, m);
    bool ok = run(ctx, head, nullptr, 0, answer, 1 + number_size(m)) == JobResult::done && answer_number(answer, r);
    wipe(answer);
    return ok;
}

bool offload_decimal_text(const Context &ctx, mpz_srcptr x, std::string &out) {
    ctx.check();
    std::string head, answer;
    head.reserve(1 + number_size(x));
    head += 'd';
    put_number(head, x);
    size_t at, len;
    if (run(ctx, head, nullptr, 0, answer, 1 + sizeof(uint64_t) + mpz_sizeinbase(x, 10)) != JobResult::done ||
        !answer_part(answer, at, len) || len == 0)
        return false;
    answer.erase(0, at);
    out = std::move(answer);
    return true;
}

bool offload_decimal_value(const Context &ctx, mpz_ptr x, const char *digits, size_t len) {
    ctx.check();
    std::string head, answer;
    head += 'n';
    job::put_length(head, len);
    size_t most = 1 + sizeof(uint64_t) + decimal_limbs(len) * sizeof(mp_limb_t);
    bool ok = run(ctx, head, digits, len, answer, most) == JobResult::done && answer_number(answer, x);
    wipe(answer);
    return ok;
}

}  // namespace vn
