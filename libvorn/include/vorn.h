/*
 * VORN library: big-integer arithmetic over numbered registers, primality, prime, random and
 * RSA key generation, Blum-Blum-Shub and RSA bit generators, RSA, AES and SHA-256.
 *
 * Calling convention
 *   Every argument is passed by reference: the address of a 32-bit signed integer (a register
 *   number, length, count or flag) or of a VN_STRING. The library never keeps a pointer it
 *   was given. A null pointer where an argument is expected is a failure (VN_E_ARGUMENT).
 *
 * Registers
 *   Registers 0 to VN_REGISTERS-1 exist; any other number is a failure (VN_E_REGISTER). Each
 *   holds a byte string and remembers the form it was last written in:
 *     - byte form: written by VN_PUTREG, the text conversions, cipher and hash outputs and
 *       generator chunks; kept byte for byte, zero bytes at either end included;
 *     - number form: written by arithmetic and the number generators; its bytes are the
 *       number least significant byte first, without high zero bytes (zero has no bytes).
 *   Numeric operations read either form as the non-negative integer whose bytes are least
 *   significant first. Comparisons are by value, except VN_ISEQUAL and VN_ISNOTEQUAL on two
 *   byte-form registers, which compare the bytes (length included). All registers start as
 *   empty byte strings (the number 0). Any register argument may be a destination, and the
 *   same register may be passed more than once; where two destinations of one call coincide,
 *   the one written last (the later parameter) wins.
 *
 * Results and errors
 *   Truth functions return exactly 1 or 0 on success and VN_FAIL (-1) on a failure, so a
 *   failure never reads as either answer: test them with == 1 and == 0, not as booleans.
 *   Other functions return VN_OK (0) on success, VN_FAIL (-1) on a failure, or a small
 *   positive status where this header lists one. Every failure and every positive status
 *   sets the global error to one of the VN_E_ codes and leaves every register except the
 *   named destinations as it was; a destination is changed only where a function says so.
 *   Besides the failures each function lists, any function may fail with VN_E_ARGUMENT (a
 *   null pointer), VN_E_REGISTER (a bad register number), VN_E_NOMEMORY (memory could not
 *   be had; every register is then as it was) and VN_E_INTERNAL (an unexpected error); no
 *   exception ever leaves the library. No input makes the library crash, abort or allocate
 *   without the limits below.
 *
 *   The global error keeps the code of the most recent failure; successful calls do not
 *   change it and reading it does not clear it. VN_CLEARGLOBALERROR sets it back to 0.
 *
 * Limits
 *   No register ever holds more than VN_MAX_BYTES bytes: every write, text conversions and
 *   cipher outputs included, is checked before it is made (VN_E_TOOBIG). Numbers are at most
 *   VN_MAX_BITS bits: a byte-form register whose number exceeds that is refused at once
 *   (VN_E_TOOBIG) by every function that reads it as a number, and results beyond it are
 *   refused before they are computed. The numbers the library hands to GMP are therefore
 *   bounded, and so is every allocation. One thing remains: GMP ends the process when the
 *   system refuses it memory, and the library does not replace GMP's allocator (the host
 *   program may use GMP itself), so a system that cannot give a few times 32 MiB can still
 *   see an abort inside an arithmetic call. The library's own allocations (byte strings)
 *   fail with VN_E_NOMEMORY instead.
 *
 * Threads
 *   Any function may be called from any thread at any time. Every function that touches
 *   library state (registers, the prime table, cached cipher objects) holds one library lock
 *   for the whole call: calls from several threads are serialised, each one atomic, so no
 *   register is ever seen half written. A long call (a large power, conversion, prime or
 *   key) makes the others wait; the exact proof of VN_ISPRIME_SLOW is the exception: it
 *   reads its number under the lock and proves it without the lock, so other calls never
 *   wait behind a proof and proofs from several threads run side by side. VN_VERSION,
 *   VN_GETGLOBALERROR, VN_CLEARGLOBALERROR, VN_FREESTRING, VN_WORKTOKEN, VN_STOPWORK and
 *   VN_WORKPROGRESS take no lock and never wait. Registers are shared by all threads:
 *   threads that must not see each other's values use different registers.
 *   The global error is per thread: VN_GETGLOBALERROR returns the code of the most recent
 *   failure of a call made by the calling thread (0 in a thread that has had none), and
 *   VN_CLEARGLOBALERROR clears the calling thread's code only.
 *   The library starts no thread in the host's process. It starts one helper process
 *   (vorn-prover, installed beside the library) for each call that needs one, and that
 *   process has ended and been reaped before the call returns, answered or stopped: the
 *   exact proof of numbers above 2^64, modular powers of more than about 0.5 s of GMP's time
 *   (VN_POWMOD, VN_ENCRYPT_RSA, VN_DECRYPT_RSA and the Fermat and Rabin-Miller tests of such
 *   numbers) and decimal conversions of more than 12,000,000 digits.
 *
 * The library in its host process
 *   fork: the library holds its lock across fork (pthread_atfork), so a child may call every
 *   function whatever the parent's other threads were doing. exit and return from main: at
 *   exit the library asks every call in progress to stop, waits for the lock (at most 2 s,
 *   the longest single step of a call), then wipes and frees the registers; calls made after
 *   that fail at once (VN_E_CANCELLED) and touch nothing. dlclose does the same, so nothing
 *   stays behind an unloaded library. The library keeps no PARI state in the host's process,
 *   and its OpenSSL objects are fetched on first need (a failed fetch is tried again on the
 *   next call; a provider failure is VN_FAIL with VN_E_CRYPTO in every function).
 *   GMP: the library uses GMP's memory functions as the host set them. A host that replaces
 *   them (mp_set_memory_functions) must do so before the library's first call and never
 *   after: GMP frees memory with the functions current at the time. vorn/vorn.hpp, the C++
 *   binding, needs C++17.
 *
 * Memory and secrets
 *   The library wipes (with OPENSSL_cleanse) what it no longer needs: a register's bytes
 *   and number when they are overwritten, when one form replaces the other, and when the
 *   process ends; its temporaries holding primes, lambda, private exponents, random
 *   numbers, prime-search sieves, decrypted plaintexts and digests; strings released with
 *   VN_FREESTRING. AES and SHA-256 run in a context made and freed (cleansed) by each call,
 *   so no key schedule or digest state outlives the call.
 *   What it cannot wipe: copies GMP makes inside an operation (a destination reallocated
 *   to a larger size is freed by GMP unwiped, and so are GMP's scratch buffers, for example
 *   those of the modular powers of RSA decryption); copies PARI and FLINT make while
 *   proving; data in the caller's own memory (the VN_STRING given to VN_PUTREG, strings
 *   from VN_GETREG before VN_FREESTRING), and copies the system makes (swap, core dumps).
 */
#ifndef VORN_H
#define VORN_H

#include <stdint.h>

#if defined(_WIN32)
#define VN_API __declspec(dllexport)
#else
#define VN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes with their own length. Strings returned by the library are owned by the caller and
 * released with VN_FREESTRING; data then also has a zero byte after its len bytes. */
typedef struct VN_STRING {
    char *data;
    int32_t len;
} VN_STRING;

/* ---- Limits ------------------------------------------------------------------------- */
#define VN_REGISTERS 256              /* registers 0 .. 255 */
#define VN_MAX_BITS (1L << 28)        /* largest number any operation computes: 2^28 bits */
#define VN_MAX_BYTES (1L << 28)       /* largest byte string any register holds: 256 MiB */
#define VN_MAX_RANDOM_BITS (1L << 24) /* VN_GENERATERANDOM: 1 .. 2^24 bits */
#define VN_MIN_PRIME_BITS 2           /* VN_GENERATEPRIME: 2 .. 4096 bits (seconds at the top) */
#define VN_MAX_PRIME_BITS 4096
#define VN_MIN_RSA_BITS 32            /* VN_GENERATERSAKEYS: 32 .. 8192 bits */
#define VN_MAX_RSA_BITS 8192
#define VN_MIN_BBS_BITS 16            /* VN_INITBBS: 16 .. 8192 bits */
#define VN_MAX_BBS_BITS 8192
#define VN_MAX_GENERATE_BYTES (1L << 24) /* bit generators: 1 .. 16 MiB a call */
#define VN_MAX_ROUNDS 1000            /* test rounds are clamped to 1 .. 1000 */

/* ---- Results ------------------------------------------------------------------------ */
#define VN_OK 0
#define VN_FAIL (-1)

/* Positive statuses: a call that was refused for a reason its caller can act on. Each
 * function below says which of these it returns. */
#define VN_STATUS_NOINVERSE 1  /* VN_MODINV: gcd(a, m) != 1 */
#define VN_STATUS_LENGTH4 1    /* RSA: byte-form input whose length is not a multiple of 4 */
#define VN_STATUS_RANGE 2      /* RSA: input not below the modulus */
#define VN_STATUS_KEYSIZE 1    /* AES: key not 16, 24 or 32 bytes */
#define VN_STATUS_IVSIZE 2     /* AES-CBC encryption: IV neither empty nor 16 bytes */
#define VN_STATUS_BLOCKS 2     /* AES decryption: input not whole blocks; one block: not 16 bytes */
#define VN_STATUS_CIPHERTEXT 3 /* AES decryption: ciphertext too short or its padding bad */

/* ---- Global error codes ------------------------------------------------------------- */
#define VN_E_NONE 0
#define VN_E_REGISTER 1    /* register number out of range */
#define VN_E_DIVZERO 2     /* division by zero or a zero modulus */
#define VN_E_NOINVERSE 3   /* no modular inverse: gcd(a, m) != 1 */
#define VN_E_DECIMAL 4     /* text that is no decimal number */
#define VN_E_BITS 5        /* bit length or byte count out of its range */
#define VN_E_TOOBIG 6      /* number operand or result beyond VN_MAX_BITS, bytes beyond VN_MAX_BYTES */
#define VN_E_ARGUMENT 7    /* null pointer, or a state or modulus that cannot work */
#define VN_E_KEYSIZE 8     /* AES key not 16, 24 or 32 bytes */
#define VN_E_IVSIZE 9      /* AES IV neither empty nor 16 bytes */
#define VN_E_CIPHERTEXT 10 /* AES ciphertext of a bad length */
#define VN_E_PADDING 11    /* AES ciphertext with bad padding (wrong key or damaged) */
#define VN_E_LENGTH4 12    /* RSA byte-form input whose length is not a multiple of 4 */
#define VN_E_RANGE 13      /* RSA input not below the modulus */
#define VN_E_NOMEMORY 14   /* memory could not be had */
#define VN_E_CRYPTO 15     /* the crypto or random-number provider failed */
#define VN_E_INTERNAL 16   /* an unexpected internal failure (none is known) */
#define VN_E_CANCELLED 17  /* the call was stopped through VN_STOPWORK */

/* ---- Stopping long work and reading its progress --------------------------------------
 * Each thread that calls the library has a work token. Another thread may stop the call in
 * progress in that thread (VN_STOPWORK) and read how far it is (VN_WORKPROGRESS); neither
 * takes the library lock or waits. A stopped call returns VN_FAIL (truth functions too)
 * with VN_E_CANCELLED, leaves every register as it was and frees what it allocated. A stop
 * takes effect within 0.5 s for operands up to 10^7 decimal digits and within 2 s at
 * VN_MAX_BITS. The long calls check for a stop between steps of a fraction of a second:
 * powers between squarings, decimal conversions of 2^20 to 12,000,000 digits between the
 * pieces of their divide and conquer (the longest piece, the top division, takes about
 * 0.2 s at 10^7 digits on the 2-core machine we measure on), prime searches and key generation
 * between candidates, the bit generators between chunks of output. The work whose single
 * GMP step would take longer runs whole in a helper process that a stop kills at once: the
 * exact proof, modular powers that GMP would take more than about 0.5 s for, and decimal
 * conversions of more than 12,000,000 digits (see Threads). A modular power below that runs
 * as one GMP call, and a stop during it takes effect when it ends. Where no helper process
 * can be started, the same work runs in the calling thread, in pieces with checks between
 * them (the exact proof cannot be stopped there, and a conversion at VN_MAX_BITS waits for
 * its top-level division, several seconds). Calls that return quickly (small arithmetic,
 * register transfers, comparisons) do not check. */

/* Stages reported by VN_WORKPROGRESS */
#define VN_STAGE_IDLE 0       /* no call in progress */
#define VN_STAGE_WORKING 1    /* a call without a finer report */
#define VN_STAGE_POWER 2      /* a power: permille of the exponent's bits done */
#define VN_STAGE_CONVERT 3    /* a text conversion */
#define VN_STAGE_SEARCH 4     /* a prime search (random primes, keys, BBS set-up) */
#define VN_STAGE_PROOF 5      /* an exact primality proof */
#define VN_STAGE_GENERATE 6   /* a bit generator: permille of the bytes */
#define VN_STAGE_CIPHER 7     /* AES, SHA-256, RSA */

/* ---- Registers and value transfer ----------------------------------------------------- */

/* Stores the len bytes of value into reg (byte form). len 0 stores the empty string.
 * Fails (VN_E_TOOBIG) for len beyond VN_MAX_BYTES, (VN_E_ARGUMENT) for len < 0 or a null
 * data pointer with len > 0, (VN_E_NOMEMORY) when the copy cannot be allocated. Returns
 * VN_OK or VN_FAIL. */
VN_API int32_t VN_PUTREG(const VN_STRING *value, int32_t *reg);

/* Returns a new copy of reg's bytes (for text conversions: the text itself); len is never
 * negative and never cut (a register holds at most VN_MAX_BYTES). On a failure (a bad
 * register, VN_E_NOMEMORY) returns {NULL, 0}. Release the result with VN_FREESTRING. */
VN_API VN_STRING VN_GETREG(int32_t *reg);

/* Wipes (len bytes and the zero after them) and releases a string returned by VN_GETREG,
 * and sets it to {NULL, 0}. Null data is allowed. */
VN_API void VN_FREESTRING(VN_STRING *s);

/* dst = the number whose decimal text is in src's bytes. Accepted: optional ASCII white
 * space (space, tab, CR, LF, VT, FF), then one or more digits 0-9, then optional white
 * space. Anything else (empty text, signs, points, other characters) is a failure
 * (VN_E_DECIMAL) that stores 0 into dst. A value beyond VN_MAX_BITS fails (VN_E_TOOBIG) and
 * keeps dst. src may equal dst. Returns VN_OK or VN_FAIL. */
VN_API int32_t VN_DEC2HUGE(int32_t *src, int32_t *dst);

/* dst = the decimal text of src's number (byte form, digits only, "0" for zero, no sign).
 * src may equal dst, else src is kept. Returns VN_OK or VN_FAIL (VN_E_TOOBIG for a byte-form
 * src beyond VN_MAX_BITS, which also ends repeated self-conversions: from "0", the 27th
 * VN_HUGE2HEX(r, r) is refused, its text would be 2^27 digits). */
VN_API int32_t VN_HUGE2DEC(int32_t *src, int32_t *dst);

/* dst = the hexadecimal text of src's number: upper-case digits, most significant first,
 * no leading zeros ("0" for zero). Returns VN_OK or VN_FAIL, as VN_HUGE2DEC. */
VN_API int32_t VN_HUGE2HEX(int32_t *src, int32_t *dst);

/* dst = a copy of src, form included. Returns VN_OK or VN_FAIL (VN_E_NOMEMORY). */
VN_API int32_t VN_COPYREG(int32_t *src, int32_t *dst);

/* Exchanges the contents of a and b. Returns VN_OK or VN_FAIL. */
VN_API int32_t VN_SWAPREG(int32_t *a, int32_t *b);

/* Prepares the table of small primes used by VN_ISPRIME_DIV: the first n primes, n clamped
 * to 1 .. 1,000,000. Before the first call the table holds the first 1000 primes. Returns
 * the number of primes in the table, or VN_FAIL (VN_E_ARGUMENT, VN_E_NOMEMORY; the table
 * is then as it was). */
VN_API int32_t VN_READPRIMES(int32_t *n);

/* The library version times 100. */
VN_API int32_t VN_VERSION(void);

/* The calling thread's global error code (VN_E_...): the code of the most recent failure of
 * a call made by this thread, or 0. */
VN_API int32_t VN_GETGLOBALERROR(void);

/* Sets the calling thread's global error back to VN_E_NONE. */
VN_API void VN_CLEARGLOBALERROR(void);

/* The calling thread's work token (> 0), the same for the life of the thread. Calling it
 * also clears a stop requested for this thread, so a thread calls it at the start of each
 * piece of work that may be stopped. Never fails. */
VN_API int32_t VN_WORKTOKEN(void);
/* From any thread: stops the call in progress in the thread that owns *token, and every
 * later call of that thread that checks for a stop, until that thread calls VN_WORKTOKEN
 * again. A stopped call returns VN_FAIL (truth functions too) with VN_E_CANCELLED, leaves
 * every register as it was and frees what it allocated. Returns VN_OK, or VN_FAIL
 * (VN_E_ARGUMENT) for a token of no living thread. Takes no lock, never waits. */
VN_API int32_t VN_STOPWORK(int32_t *token);
/* From any thread: the stage of the call in progress in the token's thread and how far it is
 * in thousandths (-1 where the size of the work is not known). Returns VN_OK or VN_FAIL
 * (VN_E_ARGUMENT). Takes no lock, never waits. */
VN_API int32_t VN_WORKPROGRESS(int32_t *token, int32_t *stage, int32_t *permille);

/* ---- Arithmetic -----------------------------------------------------------------------
 * Results are written in number form. Every function returns VN_OK or VN_FAIL; an operand
 * beyond VN_MAX_BITS, or a result that would exceed it, fails with VN_E_TOOBIG before
 * anything is computed. */

VN_API int32_t VN_ADD(int32_t *a, int32_t *b, int32_t *d);   /* d = a + b */
/* d = |a - b|: for a < b the result is b - a (numbers have no sign). */
VN_API int32_t VN_SUB(int32_t *a, int32_t *b, int32_t *d);
VN_API int32_t VN_MUL(int32_t *a, int32_t *b, int32_t *d);   /* d = a * b */
VN_API int32_t VN_MULBY2(int32_t *a, int32_t *d);            /* d = 2a */
VN_API int32_t VN_DIVBY2(int32_t *a, int32_t *q, int32_t *r); /* q = a div 2, r = a mod 2 */
/* q = a div b, r = a mod b. b = 0 fails (VN_E_DIVZERO). */
VN_API int32_t VN_DIV(int32_t *a, int32_t *b, int32_t *q, int32_t *r);
/* d = a mod m. m = 0 fails (VN_E_DIVZERO). */
VN_API int32_t VN_MOD(int32_t *a, int32_t *m, int32_t *d);
/* d = a^e (0^0 = 1). Fails (VN_E_TOOBIG) at once when the result would exceed VN_MAX_BITS. */
VN_API int32_t VN_POW(int32_t *a, int32_t *e, int32_t *d);
/* d = a^e mod m. m = 0 fails (VN_E_DIVZERO); m = 1 gives 0. A byte-form a, e or m beyond
 * VN_MAX_BITS fails at once (VN_E_TOOBIG). */
VN_API int32_t VN_POWMOD(int32_t *a, int32_t *e, int32_t *m, int32_t *d);
VN_API int32_t VN_GCD(int32_t *a, int32_t *b, int32_t *d);   /* d = gcd(a, b); gcd(0,0) = 0 */
/* d = the inverse of a modulo m, in 0 .. m-1. Returns 0 on success; 1 when gcd(a, m) != 1
 * (VN_E_NOINVERSE, d unchanged); VN_FAIL for m = 0 (VN_E_DIVZERO), an operand beyond
 * VN_MAX_BITS (VN_E_TOOBIG) or a bad register. m = 1 gives 0. */
VN_API int32_t VN_MODINV(int32_t *a, int32_t *m, int32_t *d);

/* ---- Tests (truth values: exactly 1 or 0; VN_FAIL on a failure) ------------------------
 * A failure (bad register, null pointer, a byte-form operand beyond VN_MAX_BITS:
 * VN_E_TOOBIG) returns VN_FAIL, never 0 or 1. VN_ISEQUAL and VN_ISNOTEQUAL on two byte-form
 * registers compare bytes and have no size limit. */

VN_API int32_t VN_ISZERO(int32_t *a);
VN_API int32_t VN_ISODD(int32_t *a);
VN_API int32_t VN_ISEQUAL(int32_t *a, int32_t *b);
VN_API int32_t VN_ISNOTEQUAL(int32_t *a, int32_t *b);
VN_API int32_t VN_ISLESS(int32_t *a, int32_t *b);       /* a < b */
VN_API int32_t VN_ISRELPRIME(int32_t *a, int32_t *b);   /* gcd(a, b) = 1 */
/* Trial division by the primes of the table (VN_READPRIMES). 0 only when a < 2 or a proper
 * factor was found; 1 ("possibly prime") otherwise, primes of the table included.
 * With a long table and a long number one gcd with the table's product replaces the
 * divisions. */
VN_API int32_t VN_ISPRIME_DIV(int32_t *a);
/* Exact at every size: 1 exactly when a is prime. Composites are rejected by a BPSW test;
 * probable primes are proved. */
VN_API int32_t VN_ISPRIME_SLOW(int32_t *a);
/* Fermat test with count random bases; Rabin-Miller test with count random bases. count is
 * clamped to 1 .. VN_MAX_ROUNDS. 0, 1 and even numbers above 2 give 0; 2 and 3 give 1.
 * Before any modular power the number is divided by the primes of the table as
 * VN_ISPRIME_DIV does: one with a proper factor there gives 0 at once. VN_FAIL also when
 * the CSPRNG fails (VN_E_CRYPTO). */
VN_API int32_t VN_ISPRIME_F(int32_t *count, int32_t *a);
VN_API int32_t VN_ISPRIME_RB(int32_t *count, int32_t *a);

/* ---- Generators ----------------------------------------------------------------------- */

/* d = a random number from the CSPRNG with ceil(bits/8) bytes, its top byte not zero, below
 * 2^bits: for bits a multiple of 8, exactly bits/8 bytes; never 0. bits outside
 * 1 .. VN_MAX_RANDOM_BITS fails (VN_E_BITS). Returns VN_OK or VN_FAIL (also VN_E_CRYPTO). */
VN_API int32_t VN_GENERATERANDOM(int32_t *bits, int32_t *d);

/* d = a random prime of exactly bits bits (top bit set) that passes rounds Rabin-Miller tests
 * with random bases (rounds clamped to 1 .. VN_MAX_ROUNDS) and a BPSW test. bits outside
 * VN_MIN_PRIME_BITS .. VN_MAX_PRIME_BITS fails (VN_E_BITS). Returns VN_OK or VN_FAIL (also
 * VN_E_CRYPTO). */
VN_API int32_t VN_GENERATEPRIME(int32_t *bits, int32_t *rounds, int32_t *d);

/* RSA key: n of exactly bits bits, the product of two distinct primes of bits/2 and
 * bits - bits/2 bits; e = 65537 (a smaller odd e only when n is too small for it, which no
 * allowed size is: the primes are chosen with p-1 and q-1 prime to 65537); dk = e^-1 mod
 * lcm(p-1, q-1), so every message below n comes back. k is the number of Rabin-Miller rounds
 * with random bases each prime passes on top of a BPSW test (clamped to 1 ..
 * VN_MAX_ROUNDS). bits outside VN_MIN_RSA_BITS .. VN_MAX_RSA_BITS fails (VN_E_BITS). Writes
 * e, then dk, then n. Returns VN_OK or VN_FAIL (also VN_E_CRYPTO). */
VN_API int32_t VN_GENERATERSAKEYS(int32_t *bits, int32_t *k, int32_t *e, int32_t *dk, int32_t *n);

/* Blum-Blum-Shub set-up: n = p*q of exactly bits bits with distinct primes p = q = 3 (mod 4)
 * of bits/2 and bits - bits/2 bits (k as for VN_GENERATERSAKEYS); s = x^2 mod n for a random
 * x coprime to n, such that the generator accepts s (see below). bits outside
 * VN_MIN_BBS_BITS .. VN_MAX_BBS_BITS fails (VN_E_BITS). Writes n, then s. Returns VN_OK or
 * VN_FAIL (also VN_E_CRYPTO). */
VN_API int32_t VN_INITBBS(int32_t *bits, int32_t *k, int32_t *n, int32_t *s);

/* Blum-Blum-Shub bits: from state x = s mod n, len bytes to out (byte form, exactly len
 * bytes). Each step x <- x^2 mod n yields the low j bits of x: j = floor(log2(log2 n)) when
 * multi is 1 (for n of b bits that is floor(log2(b - 1)), at least 1: 6 for 128 bits, 9 for
 * 1024), j = 1 otherwise. The bits are packed in the order produced into bytes, least
 * significant bit first, bytes in order; a step's bits go in from bit 0 of x upwards. Bits of
 * the last step beyond len bytes are dropped. The final x goes to s2 (which may be s), so
 * that the next call continues the sequence (two calls give the bytes of one only when j
 * divides 8 * len of the first). Deterministic for a given state and modulus. len outside
 * 1 .. VN_MAX_GENERATE_BYTES fails (VN_E_BITS); an even modulus, a modulus below 3 or of more
 * than VN_MAX_BBS_BITS bits fails (VN_E_ARGUMENT), and so does a state whose orbit is
 * constant from the first step: x mod n such that y = x^2 mod n is a fixed point (y^2 = y
 * mod n). That is 0, 1 and n - 1, the other square roots of 1, and the states that are
 * 0 or +-1 modulo each prime factor; for a Blum modulus (VN_INITBBS's) these are exactly
 * the states whose output is constant. For other moduli an orbit can fall onto a fixed
 * point later, which cannot be ruled out without factoring n. out and s2 are unchanged on a
 * failure. Returns VN_OK or VN_FAIL (VN_E_TOOBIG for a byte-form s or n beyond
 * VN_MAX_BITS). */
VN_API int32_t VN_GENERATEBBSRANDOMBITS(int32_t *len, int32_t *multi, int32_t *s, int32_t *n,
                                        int32_t *out, int32_t *s2);

/* RSA bits: the same as VN_GENERATEBBSRANDOMBITS with the step x <- x^e mod n and always
 * j = floor(log2(log2 n)) bits a step. e must be at least 2 and have no more bits than n (or
 * than 32 for smaller n), else VN_E_ARGUMENT: a longer exponent is no RSA key's and could
 * make one call run for hours. The state is refused likewise when y = x^e mod n has
 * y^e = y mod n: 0, 1 and n - 1 (for odd e) among others. */
VN_API int32_t VN_GENERATERSARANDOMBITS(int32_t *len, int32_t *s, int32_t *e, int32_t *n,
                                        int32_t *out, int32_t *s2);

/* ---- Ciphers and hash ----------------------------------------------------------------- */

/* c = m^e mod n (number form). Returns 0 on success; 1 when m is in byte form and its length
 * is not a multiple of 4 bytes (VN_E_LENGTH4); 2 when m is not below n (VN_E_RANGE); VN_FAIL
 * for n = 0 (VN_E_DIVZERO), a byte-form m, e or n beyond VN_MAX_BITS (VN_E_TOOBIG) or a bad
 * register. c is written only on success. */
VN_API int32_t VN_ENCRYPT_RSA(int32_t *m, int32_t *e, int32_t *n, int32_t *c);
/* m = c^dk mod n with a side-channel resistant power; statuses as VN_ENCRYPT_RSA, for c.
 * Inputs no real key has (dk = 0, n = 1, an even n) get the plain power instead. */
VN_API int32_t VN_DECRYPT_RSA(int32_t *c, int32_t *dk, int32_t *n, int32_t *m);

/* AES-CBC with PKCS#7 padding. c = the 16-byte IV followed by the encryption of the padded
 * plaintext p. An empty iv register means a fresh random IV. Returns 0; 1 for a key not 16,
 * 24 or 32 bytes (VN_E_KEYSIZE); 2 for an IV neither empty nor 16 bytes (VN_E_IVSIZE);
 * VN_FAIL for a ciphertext that would exceed VN_MAX_BYTES (VN_E_TOOBIG), a provider failure
 * (VN_E_CRYPTO) or the common failures. The output is written only on success. */
VN_API int32_t VN_ENCRYPT_AES_CBC(int32_t *p, int32_t *key, int32_t *iv, int32_t *c);
/* p = the decryption of c as made by VN_ENCRYPT_AES_CBC. Returns 0; 1 for a bad key size
 * (VN_E_KEYSIZE); 2 when c is no multiple of 16 bytes (VN_E_CIPHERTEXT); 3 when c is shorter
 * than 32 bytes (VN_E_CIPHERTEXT) or its padding is bad (VN_E_PADDING), and then p is set
 * to the empty string; VN_FAIL for a provider failure (VN_E_CRYPTO) or the common failures. */
VN_API int32_t VN_DECRYPT_AES_CBC(int32_t *c, int32_t *key, int32_t *p);

/* AES-ECB with PKCS#7 padding; statuses as for CBC (no IV, so no status 2 in encryption; 3
 * for a ciphertext shorter than 16 bytes or with bad padding). */
VN_API int32_t VN_ENCRYPT_AES_ECB(int32_t *p, int32_t *key, int32_t *c);
VN_API int32_t VN_DECRYPT_AES_ECB(int32_t *c, int32_t *key, int32_t *p);

/* One AES block, no padding. Returns 0; 1 for a bad key size; 2 when the input is not
 * exactly 16 bytes (VN_E_CIPHERTEXT); VN_FAIL for a provider failure (VN_E_CRYPTO) or the
 * common failures. */
VN_API int32_t VN_ENCRYPT_AES_1BLOCK(int32_t *p, int32_t *key, int32_t *c);
VN_API int32_t VN_DECRYPT_AES_1BLOCK(int32_t *c, int32_t *key, int32_t *p);

/* d = the 32-byte SHA-256 digest of src's bytes, in the standard byte order (byte form).
 * Returns VN_OK or VN_FAIL (VN_E_CRYPTO for a provider failure). */
VN_API int32_t VN_HASH_SHA_256(int32_t *src, int32_t *d);

/* Number of built-in known-answer vectors that fail; 0 when all pass (a set without any
 * vector would check nothing, and counts as 1). The vectors are NIST's:
 * FIPS 197 and SP 800-38A (ECB, CBC) for AES-128/192/256; FIPS 180 examples (one million
 * "a" included) and CAVP byte-oriented messages for SHA-256. Each AES vector is checked in
 * both directions. VN_FAIL (never 0) when the checks themselves cannot run
 * (VN_E_NOMEMORY, or VN_E_CRYPTO when the provider fails). */
VN_API int32_t VN_CHECKTESTVECTORS_AES(void);
VN_API int32_t VN_CHECKTESTVECTORS_SHA_256(void);

#ifdef __cplusplus
}
#endif

#endif /* VORN_H */
