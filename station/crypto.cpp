// What station/crypto.h has that is portable - comparing secrets - and
// station/sha256.h's digest on the system's SHA-256.
#include "station/crypto.h"

#include "station/hex.h"
#include "station/sha256.h"

bool SameBytesInConstantTime(const std::vector<std::uint8_t>& a,
                             const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) {
        return false;  // lengths are no secret: a hash's is fixed
    }
    // Every byte is looked at, whatever came before; the volatile keeps the
    // compiler from stopping at the first difference.
    volatile std::uint8_t differ = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differ = static_cast<std::uint8_t>(differ | (a[i] ^ b[i]));
    }
    return differ == 0;
}

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes) {
    Sha256Digest digest;
    std::string error;
    if (!Sha256(bytes.data(), bytes.size(), digest, error)) {
        return "";
    }
    return HexOf(digest.data(), digest.size());
}
