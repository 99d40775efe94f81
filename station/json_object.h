// A strict reader of one flat JSON object, as the record file holds one a
// line: {"key":value,...} where every value is a string, a number, true,
// false or null. Anything else (a nested object or array, a trailing
// comma, single quotes, a bare word, text after the closing brace, a
// control character inside a string, a lone surrogate in \u escapes) makes
// the whole object unreadable. Blanks (space, tab, CR, LF) may stand
// between the parts. It reads only inside the text it is given, and never
// recurses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct JsonField {
    enum class Kind { String, Number, True, False, Null };
    std::string key;  // unescaped
    Kind kind = Kind::Null;
    // A string's text, unescaped (\u escapes as UTF-8; other bytes as they
    // are); a number's literal as written.
    std::string text;
};

// Reads text as one flat object into fields, in their order (a key given
// twice is there twice). False when text is not one.
bool ReadFlatJsonObject(std::string_view text, std::vector<JsonField>& fields);
