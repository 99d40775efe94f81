// Cutting standard input into lines; the reading is each platform's.
#include "tools/cli/input_lines.h"

void InputLines::Add(const char* bytes, std::size_t n, std::vector<std::string>& lines) {
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] == '\n') {
            if (!m_partial.empty() && m_partial.back() == '\r') {
                m_partial.pop_back();
            }
            lines.push_back(m_partial);
            m_partial.clear();
        } else if (m_partial.size() < 4096) {  // a longer line is cut, and refused as too long
            m_partial += bytes[i];
        }
    }
}
