// station/crypto.h on the system's own BCrypt. The hash object (rather
// than the one-call BCryptHash of Windows 10) keeps SHA-256 to what
// BCryptDeriveKeyPBKDF2 needs anyway: Windows 7 and later.
#include "station/crypto.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "disk/win32/windows_headers.h"

#include <bcrypt.h>

namespace {

// "CALL: 0xC0000225", the status the call returned.
std::string Failure(const char* call, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return std::string(call) + ": " + code;
}

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// An algorithm provider, closed when it goes.
class Algorithm {
  public:
    Algorithm(LPCWSTR name, ULONG flags, std::string& error) {
        const NTSTATUS status = BCryptOpenAlgorithmProvider(&m_handle, name, nullptr, flags);
        if (!Succeeded(status)) {
            m_handle = nullptr;
            error = Failure("BCryptOpenAlgorithmProvider", status);
        }
    }
    ~Algorithm() {
        if (m_handle != nullptr) {
            BCryptCloseAlgorithmProvider(m_handle, 0);
        }
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;

    BCRYPT_ALG_HANDLE Handle() const { return m_handle; }

  private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
};

constexpr std::size_t kMaxUlong = std::numeric_limits<ULONG>::max();
UCHAR nothing = 0;  // where an empty input points

PUCHAR Bytes(const void* data) {
    return static_cast<PUCHAR>(const_cast<void*>(data));
}

}  // namespace

bool Sha256(const std::uint8_t* data, std::size_t size, Sha256Digest& digest, std::string& error) {
    Algorithm sha256(BCRYPT_SHA256_ALGORITHM, 0, error);
    if (sha256.Handle() == nullptr) {
        return false;
    }
    // The system keeps the hash object's memory itself (Windows 7 and
    // later).
    BCRYPT_HASH_HANDLE hash = nullptr;
    NTSTATUS status = BCryptCreateHash(sha256.Handle(), &hash, nullptr, 0, nullptr, 0, 0);
    if (!Succeeded(status)) {
        error = Failure("BCryptCreateHash", status);
        return false;
    }
    std::size_t done = 0;
    while (Succeeded(status) && done < size) {
        const std::size_t piece = std::min(size - done, kMaxUlong);
        status = BCryptHashData(hash, Bytes(data + done), static_cast<ULONG>(piece), 0);
        done += piece;
    }
    if (!Succeeded(status)) {
        error = Failure("BCryptHashData", status);
        BCryptDestroyHash(hash);
        return false;
    }
    Sha256Digest out{};
    status = BCryptFinishHash(hash, out.data(), static_cast<ULONG>(out.size()), 0);
    BCryptDestroyHash(hash);
    if (!Succeeded(status)) {
        error = Failure("BCryptFinishHash", status);
        return false;
    }
    digest = out;
    return true;
}

bool Pbkdf2Sha256(std::string_view password, const std::vector<std::uint8_t>& salt,
                  std::uint32_t iterations, std::vector<std::uint8_t>& key, std::string& error) {
    if (iterations < 1 || iterations > 100000000 || key.empty() || key.size() > 1024 ||
        password.size() > kMaxUlong || salt.size() > kMaxUlong) {
        error = "BCryptDeriveKeyPBKDF2: a length or a count out of range";
        return false;
    }
    Algorithm hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG, error);
    if (hmac.Handle() == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> out(key.size());
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        hmac.Handle(), password.empty() ? &nothing : Bytes(password.data()),
        static_cast<ULONG>(password.size()), salt.empty() ? &nothing : Bytes(salt.data()),
        static_cast<ULONG>(salt.size()), iterations, out.data(), static_cast<ULONG>(out.size()), 0);
    if (!Succeeded(status)) {
        error = Failure("BCryptDeriveKeyPBKDF2", status);
        return false;
    }
    key = std::move(out);
    return true;
}

bool RandomBytes(std::vector<std::uint8_t>& bytes, std::string& error) {
    if (bytes.size() > kMaxUlong) {
        error = "BCryptGenRandom: too many bytes asked for";
        return false;
    }
    std::vector<std::uint8_t> out(bytes.size());
    if (!out.empty()) {
        const NTSTATUS status = BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(out.size()),
                                                BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!Succeeded(status)) {
            error = Failure("BCryptGenRandom", status);
            return false;
        }
    }
    bytes = std::move(out);
    return true;
}
