// The simulated target machine.
#include "tools/sim/target_machine.h"

#include <algorithm>
#include <cstring>

#include "serial/in_frame.h"
#include "serial/out_frame.h"

namespace {

// Never a frame's first header byte, so it cannot start a frame.
constexpr std::uint8_t kNoise[] = {0x00, 0xFF, 0x5A};
static_assert(std::find(std::begin(kNoise), std::end(kNoise), kInFrameHeader0) == std::end(kNoise));

bool IsOpeningRequest(MachineType type, const std::uint8_t* payload, std::size_t n) {
    const MachineTypeInfo* info = FindMachineType(type);
    if (info == nullptr || info->accessString == nullptr || n != kAccessStringLength + 1) {
        return false;
    }
    return std::memcmp(payload, info->accessString, kAccessStringLength) == 0 &&
           payload[kAccessStringLength] == 0;
}

}  // namespace

TargetMachine::TargetMachine(MachineType type, SimFaults faults, std::uint32_t expectedSize)
    : m_type(type), m_faults(faults), m_expected(expectedSize) {}

void TargetMachine::Reset() {
    m_step = CharStep::Idle;
    m_pending.clear();
    // A framed session stays open until the next opening request starts
    // another. The machine does not answer the last block, so the host
    // closes its port right after writing it; on a real line that block
    // still arrives, and on a pseudo-terminal it may be read only after
    // the close has been seen.
}

std::vector<SimReply> TargetMachine::OnHostBytes(const std::uint8_t* bytes, std::size_t n) {
    if (m_vanished || n == 0) {
        return {};
    }
    const MachineTypeInfo* info = FindMachineType(m_type);
    if (info == nullptr) {
        return {};
    }
    auto replies = info->protocol == ProtocolKind::CharProtocol ? Char(bytes, n) : Framed(bytes, n);
    if (m_faults.muteAfterBlock >= 0 && m_blocks >= m_faults.muteAfterBlock) {
        m_muted = true;  // keeps taking bytes in, answers nothing
    }
    if (m_faults.silent || m_muted) {
        return {};
    }
    return replies;
}

std::vector<SimReply> TargetMachine::Reply(std::vector<std::uint8_t> bytes) {
    std::vector<SimReply> out;
    const MachineTypeInfo* info = FindMachineType(m_type);
    const bool framed = info && info->protocol == ProtocolKind::FramedProtocol;
    std::uint32_t delay = turnaroundMs;
    if (m_faults.noise) {
        if (framed) {
            bytes.insert(bytes.begin(), std::begin(kNoise), std::end(kNoise));
        } else {
            // A reply that matches nothing, in a read of its own.
            out.push_back({delay, {'9'}, true});
            delay = splitPauseMs;
        }
    }
    if (m_faults.splitReplies && bytes.size() >= 2) {
        // Split right after the first byte of the reply proper (a frame's
        // first header byte).
        const std::size_t cut = (m_faults.noise && framed ? sizeof kNoise : 0) + 1;
        out.push_back({delay, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut)});
        out.push_back({splitPauseMs, std::vector<std::uint8_t>(bytes.begin() + cut, bytes.end())});
    } else {
        out.push_back({delay, std::move(bytes)});
    }
    return out;
}

bool TargetMachine::ShouldVanish() {
    if (m_faults.vanishAfterBlock >= 0 && m_blocks >= m_faults.vanishAfterBlock) {
        m_vanished = true;
    }
    return m_vanished;
}

bool TargetMachine::SessionAllowed() {
    if (m_faults.sessions > 0 && m_sessions >= m_faults.sessions) {
        return false;
    }
    ++m_sessions;
    return true;
}

bool TargetMachine::ShouldRestart() {
    if (m_restarted || m_faults.restartAfterBlock < 0 || m_blocks < m_faults.restartAfterBlock) {
        return false;
    }
    m_restarted = true;
    m_step = CharStep::Idle;
    m_open = false;
    return true;
}

// --- Character protocol -----------------------------------------------------------

std::vector<SimReply> TargetMachine::Char(const std::uint8_t* bytes, std::size_t n) {
    std::vector<SimReply> out;
    auto append = [&out](std::vector<SimReply> more) {
        out.insert(out.end(), more.begin(), more.end());
    };
    m_pending.insert(m_pending.end(), bytes, bytes + n);
    std::size_t used = 0;
    while (used < m_pending.size()) {
        const std::size_t left = m_pending.size() - used;
        switch (m_step) {
            case CharStep::Idle:
            case CharStep::Done:
                if (m_pending[used++] == '0' && SessionAllowed()) {
                    // A new session: ask for the length first.
                    m_image.clear();
                    m_blocks = m_repeats = 0;
                    m_finished = false;
                    m_step = CharStep::Length;
                    append(Reply({'0'}));
                }
                break;
            case CharStep::Length: {
                if (left < 2) {
                    goto keep;
                }
                const std::uint32_t announced =
                    std::uint32_t{m_pending[used]} << 8 | m_pending[used + 1];
                used += 2;
                m_total = m_expected && !m_faults.trustLength ? m_expected : announced;
                m_blockWanted = 128;  // the first block is always whole
                m_step = CharStep::Block;
                append(Reply({'1'}));
                break;
            }
            case CharStep::Block: {
                if (left < m_blockWanted) {
                    goto keep;
                }
                const std::uint32_t room =
                    m_total > m_image.size() ? m_total - static_cast<std::uint32_t>(m_image.size())
                                             : 0;
                const std::uint32_t keepBytes = std::min(m_blockWanted, room);
                m_image.insert(m_image.end(), m_pending.begin() + static_cast<std::ptrdiff_t>(used),
                               m_pending.begin() + static_cast<std::ptrdiff_t>(used + keepBytes));
                used += m_blockWanted;
                ++m_blocks;
                if (ShouldVanish()) {
                    return out;
                }
                if (ShouldRestart()) {
                    m_pending.clear();  // what the host sends on is not taken
                    return out;
                }
                if (m_image.size() >= m_total) {
                    m_step = CharStep::Finish;
                    append(Reply({'2', '4'}));
                } else {
                    m_blockWanted = std::min<std::uint32_t>(
                        128, m_total - static_cast<std::uint32_t>(m_image.size()));
                    append(Reply({'2', '3'}));
                }
                break;
            }
            case CharStep::Finish:
                if (m_pending[used++] == '6') {
                    m_step = CharStep::Done;
                    m_finished = true;
                    append(Reply({'6'}));
                }
                break;
        }
    }
    m_pending.clear();
    return out;
keep:
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(
                                                               std::min(used, m_pending.size())));
    return out;
}

// --- Block protocol ---------------------------------------------------------------

std::vector<SimReply> TargetMachine::Request(std::uint8_t command, std::uint8_t block) {
    const std::uint8_t trailing = static_cast<std::uint8_t>(command + block);
    return Reply({kInFrameHeader0, kInFrameHeader1, command, 0x00, block, trailing});
}

std::vector<SimReply> TargetMachine::Framed(const std::uint8_t* bytes, std::size_t n) {
    std::vector<SimReply> out;
    m_pending.insert(m_pending.end(), bytes, bytes + n);
    for (;;) {
        // Hunt for the frame's header, dropping what comes before it.
        std::size_t start = 0;
        while (start + 1 < m_pending.size() && !(m_pending[start] == kOutFrameHeader0 &&
                                                 m_pending[start + 1] == kOutFrameHeader1)) {
            ++start;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(start));
        if (m_pending.size() < 4) {
            return out;
        }
        const std::size_t payload = static_cast<std::uint8_t>(m_pending[3] + 1);  // 0xFF: none
        const std::size_t size = payload + kOutFrameOverhead;
        if (m_pending.size() < size) {
            return out;
        }
        std::vector<std::uint8_t> frame(m_pending.begin(),
                                        m_pending.begin() + static_cast<std::ptrdiff_t>(size));
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(size));

        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < 4 + payload; ++i) {
            sum = static_cast<std::uint8_t>(sum + frame[i]);
        }
        const bool sumOk = sum == frame[4 + payload];
        const std::uint8_t command = frame[2];

        // An opening request starts a new session at any time: the host may
        // have closed the port and come back for the next download.
        const bool opening = sumOk && command == kOpeningCommand &&
                             IsOpeningRequest(m_type, frame.data() + 4, payload) &&
                             SessionAllowed();
        if (!m_open || opening) {
            if (opening) {
                m_open = true;
                m_image.clear();
                m_nextBlock = 0;
                m_blocks = m_repeats = 0;
                m_finished = m_stopped = false;
                m_repeatedThis = false;
                if (m_faults.stopAtBlock == 0) {
                    m_stopped = true;
                    auto r = Request(kStopRequest, 0);
                    out.insert(out.end(), r.begin(), r.end());
                    continue;
                }
                auto r = Request(kBlockRequest, 0);
                out.insert(out.end(), r.begin(), r.end());
            }
            continue;  // a machine of another type stays silent
        }
        if (m_finished || m_stopped) {
            continue;
        }
        const std::uint8_t wanted = static_cast<std::uint8_t>(m_nextBlock & 0x3F);
        if (!sumOk || command != wanted) {
            auto r = Request(kBlockRequest, wanted);
            out.insert(out.end(), r.begin(), r.end());
            continue;
        }
        const std::size_t offset = std::size_t{m_nextBlock} * 128;
        if (m_image.size() < offset + payload) {
            m_image.resize(offset + payload);
        }
        std::copy_n(frame.begin() + 4, payload,
                    m_image.begin() + static_cast<std::ptrdiff_t>(offset));

        if (m_faults.repeatEvery > 0 && !m_repeatedThis &&
            (m_nextBlock + 1) % static_cast<std::uint32_t>(m_faults.repeatEvery) == 0) {
            // Ask for the same block again, as after a line error.
            m_repeatedThis = true;
            ++m_repeats;
            auto r = Request(kBlockRequest, wanted);
            out.insert(out.end(), r.begin(), r.end());
            continue;
        }
        m_repeatedThis = false;
        ++m_nextBlock;
        ++m_blocks;
        if (payload < 128 || (m_expected != 0 && m_image.size() >= m_expected)) {
            m_finished = true;  // the short block, or all we expected: nothing more to ask
            continue;
        }
        if (ShouldVanish()) {
            return {};
        }
        if (ShouldRestart()) {
            continue;  // silent until the next opening request
        }
        if (m_faults.stopAtBlock >= 0 &&
            m_nextBlock == static_cast<std::uint32_t>(m_faults.stopAtBlock)) {
            m_stopped = true;
            auto r = Request(kStopRequest, static_cast<std::uint8_t>(m_nextBlock & 0x3F));
            out.insert(out.end(), r.begin(), r.end());
            continue;
        }
        auto r = Request(kBlockRequest, static_cast<std::uint8_t>(m_nextBlock & 0x3F));
        out.insert(out.end(), r.begin(), r.end());
    }
}

std::string DescribeOutcome(const TargetMachine& machine,
                            const std::vector<std::uint8_t>* expected) {
    const MachineTypeInfo* info = FindMachineType(machine.Type());
    std::string line = std::string(info ? info->name : "?") + ": received " +
                       std::to_string(machine.Received().size()) + " bytes in " +
                       std::to_string(machine.BlocksReceived()) + " blocks, " +
                       std::to_string(machine.RepeatsAsked()) + " repeats asked";
    if (machine.Stopped()) {
        line += ", stopped";
    } else if (machine.Vanished()) {
        line += ", vanished";
    } else if (machine.Muted()) {
        line += ", fell silent";
    } else {
        line += machine.Finished() ? ", finished" : ", unfinished";
    }
    if (expected == nullptr) {
        return line + "; no expected image";
    }
    if (machine.Received() == *expected) {
        return line + "; matches the expected image";
    }
    const auto& got = machine.Received();
    std::size_t i = 0;
    while (i < got.size() && i < expected->size() && got[i] == (*expected)[i]) {
        ++i;
    }
    return line + "; DIFFERS from the expected image (" + std::to_string(expected->size()) +
           " bytes) at byte " + std::to_string(i);
}
