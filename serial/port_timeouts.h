// How long a port's reads and writes may take: one record, used by every
// serial backend. Windows hands it to the driver as COMMTIMEOUTS; the
// POSIX backend times its own waits by it; the in-memory lines keep it for
// the tests to read back.
//
// A read that has its first character goes on until the line has been
// silent for longer than the interval timeout, or until it has taken the
// read total: readTotalMultiplier ms a byte asked plus readTotalConstant
// ms. A write of n bytes gives up after the write total, likewise
// writeTotalMultiplier ms a byte plus writeTotalConstant ms.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

struct PortTimeouts {
    std::uint32_t readIntervalTimeout = 0;  // ms of silence that ends a read: 70 or 20
    std::uint32_t readTotalMultiplier = 0, readTotalConstant = 0;    // ms: 100, 100
    std::uint32_t writeTotalMultiplier = 0, writeTotalConstant = 0;  // ms: 100, 100

    // The longest a read of n bytes may take in all.
    std::chrono::milliseconds ReadTotal(std::size_t n) const {
        return Total(readTotalMultiplier, readTotalConstant, n);
    }
    // The longest a write of n bytes may take before it times out.
    std::chrono::milliseconds WriteTotal(std::size_t n) const {
        return Total(writeTotalMultiplier, writeTotalConstant, n);
    }

  private:
    static std::chrono::milliseconds Total(std::uint32_t perByte, std::uint32_t constant,
                                           std::size_t n) {
        return std::chrono::milliseconds(std::int64_t{perByte} * static_cast<std::int64_t>(n) +
                                         std::int64_t{constant});
    }
};

// Every port's timeouts but the interval, which is the machine type's: 100
// ms a byte plus 100 ms for a whole read or write.
constexpr PortTimeouts TimeoutsWithInterval(std::uint32_t readIntervalTimeout) {
    PortTimeouts t;
    t.readIntervalTimeout = readIntervalTimeout;
    t.readTotalMultiplier = t.readTotalConstant = 100;
    t.writeTotalMultiplier = t.writeTotalConstant = 100;
    return t;
}

// What a backend times a port by before ConfigurePort has given it a
// machine type's: the longer of the two intervals.
inline constexpr PortTimeouts kUnconfiguredTimeouts = TimeoutsWithInterval(70);
