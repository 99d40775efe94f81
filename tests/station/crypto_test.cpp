// The station's hashes on the system's library (station/crypto.h), checked
// against published known answers, and the supervisor's password hash
// built on them (station/password.h). The Windows test runner runs these
// too, on BCrypt.
#include "station/crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station/hex.h"
#include "station/password.h"
#include "station/sha256.h"

namespace {

std::vector<std::uint8_t> BytesOf(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// FIPS 180-4's examples, and an input of a million bytes.
TEST(StationCrypto, Sha256GivesTheKnownAnswers) {
    struct Case {
        const char* name;
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"nothing", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a's", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Sha256Hex(BytesOf(c.input)), c.digest);
        Sha256Digest digest{};
        std::string error;
        ASSERT_TRUE(Sha256(reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size(),
                           digest, error))
            << error;
        EXPECT_EQ(HexOf(digest.data(), digest.size()), c.digest);
    }
}

// RFC 7914's PBKDF2-HMAC-SHA256 vectors (section 11) and the RFC 6070
// inputs with SHA-256, NUL bytes in password and salt included.
TEST(StationCrypto, Pbkdf2Sha256GivesTheKnownAnswers) {
    struct Case {
        std::string password, salt;
        std::uint32_t iterations;
        const char* key;
    };
    const Case cases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
        {"password", "salt", 1, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 2, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {"password", "salt", 4096,
         "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "89b69d0516f829893c696226650a8687"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password + " " + std::to_string(c.iterations));
        std::vector<std::uint8_t> key(std::string(c.key).size() / 2);
        std::string error;
        ASSERT_TRUE(Pbkdf2Sha256(c.password, BytesOf(c.salt), c.iterations, key, error)) << error;
        EXPECT_EQ(HexOf(key), c.key);
    }
}

TEST(StationCrypto, Pbkdf2RefusesCountsAndLengthsOutOfRangeAndLeavesTheKey) {
    const std::vector<std::uint8_t> salt = BytesOf("salt");
    struct Case {
        std::uint32_t iterations;
        std::size_t length;
    };
    for (const Case& c : {Case{0, 32}, Case{100000001, 32}, Case{1, 0}, Case{1, 1025}}) {
        SCOPED_TRACE(std::to_string(c.iterations) + " " + std::to_string(c.length));
        std::vector<std::uint8_t> key(c.length, 0xAB);
        std::string error;
        EXPECT_FALSE(Pbkdf2Sha256("password", salt, c.iterations, key, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(key, std::vector<std::uint8_t>(c.length, 0xAB));
    }
}

TEST(StationCrypto, RandomBytesDifferFromDrawToDraw) {
    std::vector<std::uint8_t> a(32), b(32);
    std::string error;
    ASSERT_TRUE(RandomBytes(a, error)) << error;
    ASSERT_TRUE(RandomBytes(b, error)) << error;
    EXPECT_EQ(a.size(), 32u);
    // Two equal draws of 256 bits, or one of zeros, is a generator that
    // was not asked.
    EXPECT_NE(a, b);
    EXPECT_NE(a, std::vector<std::uint8_t>(32, 0));
}

TEST(StationCrypto, ConstantTimeComparisonTellsEveryDifference) {
    const std::vector<std::uint8_t> base = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        const char* name;
        std::vector<std::uint8_t> other;
        bool same;
    };
    const Case cases[] = {
        {"the same", base, true},
        {"the first byte", {0, 2, 3, 4, 5, 6, 7, 8}, false},
        {"the last byte", {1, 2, 3, 4, 5, 6, 7, 9}, false},
        {"one bit", {1, 2, 3, 4 ^ 0x80, 5, 6, 7, 8}, false},
        {"shorter", {1, 2, 3, 4, 5, 6, 7}, false},
        {"longer", {1, 2, 3, 4, 5, 6, 7, 8, 0}, false},
        {"nothing", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SameBytesInConstantTime(base, c.other), c.same);
        EXPECT_EQ(SameBytesInConstantTime(c.other, base), c.same);
    }
    EXPECT_TRUE(SameBytesInConstantTime({}, {}));
}

TEST(StationCrypto, HexDigitsReadInEitherCaseWrittenInLowerCase) {
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(BytesOfHex("00ff7Fa0", bytes));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x7F, 0xA0}));
    EXPECT_EQ(HexOf(bytes), "00ff7fa0");
    ASSERT_TRUE(BytesOfHex("", bytes));
    EXPECT_TRUE(bytes.empty());
    for (const char* refused : {"0", "abc", "0g", " 00", "00 ", "+1", "0x00"}) {
        SCOPED_TRACE(refused);
        bytes = {9};
        EXPECT_FALSE(BytesOfHex(refused, bytes));
        EXPECT_EQ(bytes, std::vector<std::uint8_t>{9});
    }
}

// A hash made elsewhere by PBKDF2-HMAC-SHA256 over the password's UTF-8
// bytes, in the station file's form: the station checks it so.
constexpr char kKnownHash[] =
    "pbkdf2-sha256$1000$101112131415161718191a1b1c1d1e1f$"
    "eebbbba073fa065b2c4dcf30865880cb448228d918a629744168c5e80980567b";
constexpr char kKnownPassword[] = "Sup3r-Secret \xC3\xA9";

TEST(StationPasswordHash, AKnownHashChecksItsPasswordOnly) {
    PasswordHash hash;
    std::string why;
    ASSERT_TRUE(ParsePasswordHash(kKnownHash, hash, why)) << why;
    EXPECT_EQ(hash.iterations, 1000u);
    EXPECT_EQ(hash.salt.size(), 16u);
    EXPECT_EQ(FormatPasswordHash(hash), kKnownHash);
    std::string error;
    EXPECT_EQ(CheckPassword(kKnownPassword, hash, error), PasswordCheck::Right) << error;
    for (const std::string& wrong :
         {std::string(""), std::string("Sup3r-Secret "), std::string("sup3r-Secret \xC3\xA9"),
          std::string(kKnownPassword) + " ", std::string(kKnownPassword) + "\n"}) {
        SCOPED_TRACE(wrong);
        EXPECT_EQ(CheckPassword(wrong, hash, error), PasswordCheck::Wrong) << error;
    }
}

TEST(StationPasswordHash, AMadeHashIsSaltedAndChecks) {
    PasswordHash first, second;
    std::string error;
    ASSERT_TRUE(HashPassword("open sesame", kMinPasswordIterations, first, error)) << error;
    ASSERT_TRUE(HashPassword("open sesame", kMinPasswordIterations, second, error)) << error;
    EXPECT_EQ(first.iterations, kMinPasswordIterations);
    EXPECT_EQ(first.salt.size(), kPasswordSaltBytes);
    EXPECT_EQ(first.hash.size(), kPasswordHashBytes);
    EXPECT_NE(first.salt, second.salt);
    EXPECT_NE(first.hash, second.hash) << "each hash has its own salt";
    EXPECT_EQ(CheckPassword("open sesame", first, error), PasswordCheck::Right) << error;
    EXPECT_EQ(CheckPassword("open sesame", second, error), PasswordCheck::Right) << error;
    EXPECT_EQ(CheckPassword("open sesamE", first, error), PasswordCheck::Wrong) << error;

    PasswordHash back;
    std::string why;
    ASSERT_TRUE(ParsePasswordHash(FormatPasswordHash(first), back, why)) << why;
    EXPECT_EQ(back, first);
}

TEST(StationPasswordHash, ReadsEitherCaseAndRefusesWhatIsNotOne) {
    const std::string salt = "101112131415161718191a1b1c1d1e1f";
    const std::string hash = "eebbbba073fa065b2c4dcf30865880cb448228d918a629744168c5e80980567b";
    PasswordHash read;
    std::string why;
    ASSERT_TRUE(ParsePasswordHash(
        "pbkdf2-sha256$0600000$" + std::string(16, 'A') + "$" + std::string(64, 'F'), read, why))
        << why;
    EXPECT_EQ(FormatPasswordHash(read),
              "pbkdf2-sha256$600000$" + std::string(16, 'a') + "$" + std::string(64, 'f'));
    ASSERT_TRUE(ParsePasswordHash("pbkdf2-sha256$10000000$" + std::string(128, '0') + "$" + hash,
                                  read, why))
        << why;

    const std::string notOne = "is not pbkdf2-sha256$ITERATIONS$SALT$HASH";
    const std::string rounds = "has iterations that are not a whole number from 1000 to 10000000";
    const std::string salts = "has a salt that is not 16 to 128 hex digits";
    const std::string hashes = "has a hash that is not 64 hex digits";
    struct Case {
        std::string text;
        std::string why;
    };
    const Case cases[] = {
        {"", notOne},
        {"secret", notOne},
        {"pbkdf2-sha1$1000$" + salt + "$" + hash, notOne},
        {"PBKDF2-SHA256$1000$" + salt + "$" + hash, notOne},
        {"pbkdf2-sha256$1000$" + salt, notOne},
        {"pbkdf2-sha256$1000$" + salt + "$" + hash + "$", notOne},
        {"$pbkdf2-sha256$1000$" + salt + "$" + hash, notOne},
        {"pbkdf2-sha256$999$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$10000001$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$+1000$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$1e4$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$4294968296$" + salt + "$" + hash, rounds},
        {"pbkdf2-sha256$1000$$" + hash, salts},
        {"pbkdf2-sha256$1000$" + std::string(14, '0') + "$" + hash, salts},
        {"pbkdf2-sha256$1000$" + std::string(130, '0') + "$" + hash, salts},
        {"pbkdf2-sha256$1000$" + salt + "0$" + hash, salts},
        {"pbkdf2-sha256$1000$" + salt.substr(2) + "zz$" + hash, salts},
        {"pbkdf2-sha256$1000$" + salt + "$", hashes},
        {"pbkdf2-sha256$1000$" + salt + "$" + hash.substr(2), hashes},
        {"pbkdf2-sha256$1000$" + salt + "$" + hash + "00", hashes},
        {"pbkdf2-sha256$1000$" + salt + "$" + hash.substr(1) + "g", hashes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PasswordHash kept;
        kept.iterations = 7;
        PasswordHash h = kept;
        EXPECT_FALSE(ParsePasswordHash(c.text, h, why));
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(h, kept);
    }
}

}  // namespace
