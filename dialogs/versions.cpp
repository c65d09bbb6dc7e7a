// The versions of the libraries under the VORN library, for the programs' help box. GMP and
// OpenSSL say which version is loaded; FLINT and PARI are named as the headers built against.
#include "dialogs.h"

#include <flint/flint.h>
#include <gmp.h>
#include <openssl/crypto.h>
#include <pari/paricfg.h>

namespace dlg {

std::string library_versions() {
    constexpr long pari = PARI_VERSION_CODE;
    std::string pari_version = std::to_string(pari >> 16) + "." + std::to_string((pari >> 8) & 0xFF) +
                               "." + std::to_string(pari & 0xFF);
    return std::string("GMP ") + gmp_version + ", OpenSSL " + OpenSSL_version(OPENSSL_VERSION_STRING) +
           ", FLINT " + FLINT_VERSION + ", PARI " + pari_version;
}

}  // namespace dlg
