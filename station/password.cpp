// The supervisor's password hash: its text, made and checked (see
// password.h).
#include "station/password.h"

#include "station/crypto.h"
#include "station/hex.h"

namespace {

// A whole number of rounds in range, digits only.
bool ParseIterations(std::string_view text, std::uint32_t& iterations) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    std::uint32_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (n < kMinPasswordIterations || n > kMaxPasswordIterations) {
        return false;
    }
    iterations = n;
    return true;
}

}  // namespace

bool ParsePasswordHash(std::string_view text, PasswordHash& hash, std::string& why) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t dollar = text.find('$', start);
        parts.push_back(text.substr(start, dollar - start));
        if (dollar == std::string_view::npos) {
            break;
        }
        start = dollar + 1;
    }
    if (parts.size() != 4 || parts[0] != kPasswordScheme) {
        why = std::string("is not ") + kPasswordScheme + "$ITERATIONS$SALT$HASH";
        return false;
    }
    PasswordHash read;
    if (!ParseIterations(parts[1], read.iterations)) {
        why = "has iterations that are not a whole number from " +
              std::to_string(kMinPasswordIterations) + " to " +
              std::to_string(kMaxPasswordIterations);
        return false;
    }
    if (!BytesOfHex(parts[2], read.salt) || read.salt.size() < kMinPasswordSaltBytes ||
        read.salt.size() > kMaxPasswordSaltBytes) {
        why = "has a salt that is not " + std::to_string(2 * kMinPasswordSaltBytes) + " to " +
              std::to_string(2 * kMaxPasswordSaltBytes) + " hex digits";
        return false;
    }
    if (!BytesOfHex(parts[3], read.hash) || read.hash.size() != kPasswordHashBytes) {
        why = "has a hash that is not " + std::to_string(2 * kPasswordHashBytes) + " hex digits";
        return false;
    }
    hash = std::move(read);
    return true;
}

std::string FormatPasswordHash(const PasswordHash& hash) {
    return std::string(kPasswordScheme) + "$" + std::to_string(hash.iterations) + "$" +
           HexOf(hash.salt) + "$" + HexOf(hash.hash);
}

bool HashPassword(std::string_view password, std::uint32_t iterations, PasswordHash& hash,
                  std::string& error) {
    PasswordHash made;
    made.iterations = iterations;
    made.salt.resize(kPasswordSaltBytes);
    made.hash.resize(kPasswordHashBytes);
    if (!RandomBytes(made.salt, error) ||
        !Pbkdf2Sha256(password, made.salt, iterations, made.hash, error)) {
        return false;
    }
    hash = std::move(made);
    return true;
}

PasswordCheck CheckPassword(std::string_view password, const PasswordHash& hash,
                            std::string& error) {
    std::vector<std::uint8_t> derived(hash.hash.size());
    if (derived.empty() || !Pbkdf2Sha256(password, hash.salt, hash.iterations, derived, error)) {
        if (derived.empty()) {
            error = "the password hash holds no hash";
        }
        return PasswordCheck::Failed;
    }
    return SameBytesInConstantTime(derived, hash.hash) ? PasswordCheck::Right
                                                       : PasswordCheck::Wrong;
}
