// station/crypto.h on OpenSSL's libcrypto, as Debian ships it.
#include "station/crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <limits>

namespace {

// "CALL: the library's reason", from this thread's error queue, which is
// left empty for the next call.
std::string Failure(const char* call) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return std::string(call) + " failed";
    }
    char reason[256] = {};
    ERR_error_string_n(code, reason, sizeof reason);
    return std::string(call) + ": " + reason;
}

// What the library's int-sized lengths take.
constexpr std::size_t kMaxLength = static_cast<std::size_t>(std::numeric_limits<int>::max());

const unsigned char kNothing = 0;  // where an empty input points

}  // namespace

bool Sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest, std::string& error) {
    Sha256Digest out{};
    unsigned int length = 0;
    if (EVP_Digest(size == 0 ? &kNothing : data, size, out.data(), &length, EVP_sha256(),
                   nullptr) != 1 ||
        length != out.size()) {
        error = Failure("EVP_Digest");
        return false;
    }
    digest = out;
    return true;
}

bool Pbkdf2Sha256(std::string_view password, const std::vector<std::uint8_t>& salt,
                  std::uint32_t iterations, std::vector<std::uint8_t>& key, std::string& error) {
    if (iterations < 1 || iterations > 100000000 || key.empty() || key.size() > 1024 ||
        password.size() > kMaxLength || salt.size() > kMaxLength) {
        error = "PKCS5_PBKDF2_HMAC: a length or a count out of range";
        return false;
    }
    std::vector<std::uint8_t> out(key.size());
    const char* text = password.empty() ? "" : password.data();
    if (PKCS5_PBKDF2_HMAC(text, static_cast<int>(password.size()),
                          salt.empty() ? &kNothing : salt.data(), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), EVP_sha256(), static_cast<int>(out.size()),
                          out.data()) != 1) {
        error = Failure("PKCS5_PBKDF2_HMAC");
        return false;
    }
    key = std::move(out);
    return true;
}

bool RandomBytes(std::vector<std::uint8_t>& bytes, std::string& error) {
    if (bytes.size() > kMaxLength) {
        error = "RAND_bytes: too many bytes asked for";
        return false;
    }
    std::vector<std::uint8_t> out(bytes.size());
    if (!out.empty() && RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
        error = Failure("RAND_bytes");
        return false;
    }
    bytes = std::move(out);
    return true;
}
