// Reading a scanner's lines; see scan_reader.h.
#include "ui/scan_reader.h"

#include <cctype>
#include <string_view>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// The position a label names (from 1), or 0 when it is no position's label.
std::size_t PositionLabel(std::string_view s) {
    std::string upper;
    for (const char c : s) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string_view rest = upper;
    for (const std::string_view prefix : {"POSITION", "POS", "P"}) {
        if (rest.starts_with(prefix)) {
            rest.remove_prefix(prefix.size());
            break;
        }
        if (prefix == "P") {
            return 0;
        }
    }
    if (!rest.empty() && (rest.front() == ' ' || rest.front() == '-' || rest.front() == ':')) {
        rest.remove_prefix(1);
    }
    if (rest.empty() || rest.size() > 4) {
        return 0;
    }
    std::size_t n = 0;
    for (const char c : rest) {
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    return n;
}

}  // namespace

ScanReader::Scan ScanReader::Take(const std::string& scanned) {
    const std::string_view text = Trim(scanned);
    Scan scan;
    if (const std::size_t n = PositionLabel(text); n > 0) {
        if (n > m_positions) {
            m_choosing = false;
            scan.text = "there is no position " + std::to_string(n) + " here";
            return scan;
        }
        m_chosen = n - 1;
        m_choosing = true;
        scan.kind = Scan::Kind::PositionChosen;
        scan.position = m_chosen;
        return scan;
    }
    if (!m_choosing) {
        scan.text = "scan the position's label first, then the unit's";
        return scan;
    }
    m_choosing = false;
    scan.kind = Scan::Kind::UnitId;
    scan.position = m_chosen;
    scan.text = std::string(text);
    return scan;
}

bool ScanReader::Choosing(std::size_t& position) const {
    position = m_chosen;
    return m_choosing;
}
