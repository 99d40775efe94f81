// The flat JSON object reader: a cursor over the text that checks the end
// before every byte it looks at.
#include "station/json_object.h"

#include "station/hex.h"

namespace {

class Cursor {
  public:
    explicit Cursor(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_at >= m_text.size(); }
    // The byte under the cursor, or NUL at the end (never a byte of the
    // text: a NUL there is refused wherever it matters).
    char Peek() const { return AtEnd() ? '\0' : m_text[m_at]; }
    void Skip() { ++m_at; }
    bool Take(char c) {
        if (AtEnd() || m_text[m_at] != c) {
            return false;
        }
        ++m_at;
        return true;
    }
    bool TakeWord(std::string_view word) {
        if (m_text.substr(m_at).starts_with(word)) {
            m_at += word.size();
            return true;
        }
        return false;
    }
    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r' || Peek() == '\n')) {
            ++m_at;
        }
    }
    std::string_view Since(std::size_t start) const { return m_text.substr(start, m_at - start); }
    std::size_t Where() const { return m_at; }

  private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

// The four hex digits after "\u".
bool TakeHex4(Cursor& in, unsigned& unit) {
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int v = HexDigitValue(in.Peek());
        if (v < 0) {
            return false;
        }
        in.Skip();
        unit = unit * 16 + static_cast<unsigned>(v);
    }
    return true;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A \u escape after its backslash and "u", with the second half of a
// surrogate pair when the first calls for it.
bool TakeUnicodeEscape(Cursor& in, std::string& out) {
    unsigned unit = 0;
    if (!TakeHex4(in, unit)) {
        return false;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        return false;  // a second half with no first
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        unsigned low = 0;
        if (!in.Take('\\') || !in.Take('u') || !TakeHex4(in, low) || low < 0xDC00 || low > 0xDFFF) {
            return false;
        }
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, unit);
    return true;
}

// A string, from its opening quote; bytes above 0x7F are kept as they are
// (names of files and devices need not be UTF-8).
bool TakeString(Cursor& in, std::string& out) {
    out.clear();
    if (!in.Take('"')) {
        return false;
    }
    for (;;) {
        if (in.AtEnd()) {
            return false;
        }
        const char c = in.Peek();
        in.Skip();
        if (c == '"') {
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        const char e = in.Peek();
        if (in.AtEnd()) {
            return false;
        }
        in.Skip();
        switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                if (!TakeUnicodeEscape(in, out)) {
                    return false;
                }
                break;
            default:
                return false;
        }
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number as JSON writes one: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool TakeNumber(Cursor& in, std::string& literal) {
    const std::size_t start = in.Where();
    in.Take('-');
    if (in.Take('0')) {
        // no further digits after a leading zero
    } else if (IsDigit(in.Peek())) {
        while (IsDigit(in.Peek())) {
            in.Skip();
        }
    } else {
        return false;
    }
    if (in.Take('.')) {
        if (!IsDigit(in.Peek())) {
            return false;
        }
        while (IsDigit(in.Peek())) {
            in.Skip();
        }
    }
    if (in.Take('e') || in.Take('E')) {
        if (!in.Take('+')) {
            in.Take('-');
        }
        if (!IsDigit(in.Peek())) {
            return false;
        }
        while (IsDigit(in.Peek())) {
            in.Skip();
        }
    }
    literal = in.Since(start);
    return true;
}

bool TakeValue(Cursor& in, JsonField& field) {
    field.text.clear();
    const char c = in.Peek();
    if (c == '"') {
        field.kind = JsonField::Kind::String;
        return TakeString(in, field.text);
    }
    if (c == '-' || IsDigit(c)) {
        field.kind = JsonField::Kind::Number;
        return TakeNumber(in, field.text);
    }
    if (in.TakeWord("true")) {
        field.kind = JsonField::Kind::True;
    } else if (in.TakeWord("false")) {
        field.kind = JsonField::Kind::False;
    } else if (in.TakeWord("null")) {
        field.kind = JsonField::Kind::Null;
    } else {
        return false;  // an object, an array, or no value at all
    }
    return true;
}

}  // namespace

bool ReadFlatJsonObject(std::string_view text, std::vector<JsonField>& fields) {
    fields.clear();
    Cursor in(text);
    in.SkipBlanks();
    if (!in.Take('{')) {
        return false;
    }
    in.SkipBlanks();
    if (!in.Take('}')) {
        for (;;) {
            JsonField field;
            if (!TakeString(in, field.key)) {
                return false;
            }
            in.SkipBlanks();
            if (!in.Take(':')) {
                return false;
            }
            in.SkipBlanks();
            if (!TakeValue(in, field)) {
                return false;
            }
            fields.push_back(std::move(field));
            in.SkipBlanks();
            if (in.Take('}')) {
                break;
            }
            if (!in.Take(',')) {
                return false;
            }
            in.SkipBlanks();
        }
    }
    in.SkipBlanks();
    return in.AtEnd();
}
