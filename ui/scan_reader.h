// What a barcode scanner types into the station window, a scan a line: a
// fixture position's own label first, then the label of the unit in it.
//
// One scanner serves every position without doubt as to which unit is
// where: a unit ID is taken only right after a position's label, and goes
// to that position's next unit. A position's label is "POSITION n", "POS n"
// or "P n" (any case; a blank, "-" or ":" or nothing before n, which may
// have leading zeros), n from 1 to the number of positions.
#pragma once

#include <cstddef>
#include <string>

class ScanReader {
  public:
    explicit ScanReader(std::size_t positions) : m_positions(positions) {}

    struct Scan {
        enum class Kind { PositionChosen, UnitId, Refused };
        Kind kind = Kind::Refused;
        std::size_t position = 0;  // from 0: chosen, or the one the ID is for
        std::string text;          // UnitId: the ID; Refused: why
    };
    // One scan, without its line end; blanks at its ends are not part of it.
    Scan Take(const std::string& scanned);
    // The position chosen and waiting for its unit's label, if one is.
    bool Choosing(std::size_t& position) const;

  private:
    std::size_t m_positions;
    std::size_t m_chosen = 0;
    bool m_choosing = false;
};
