// Standard input without waiting, on Windows: a pipe is asked how much is
// there (PeekNamedPipe) before it is read; a file is read as it is. A
// console gives no lines here: type them into a pipe.
#include "tools/cli/input_lines.h"

#include "framework/win32/win32.h"

bool InputLines::Take(std::vector<std::string>& lines) {
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const DWORD type =
        in == nullptr || in == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : ::GetFileType(in);
    while (!m_ended && (type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK)) {
        DWORD waiting = 0;
        if (type == FILE_TYPE_PIPE &&
            !::PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr)) {
            m_ended = true;  // the writer has gone
            break;
        }
        if (type == FILE_TYPE_PIPE && waiting == 0) {
            break;
        }
        char buffer[4096];
        DWORD n = 0;
        if (!::ReadFile(in, buffer, sizeof buffer, &n, nullptr) || n == 0) {
            m_ended = true;
            break;
        }
        Add(buffer, n, lines);
    }
    if (m_ended && !m_partial.empty()) {
        lines.push_back(m_partial);
        m_partial.clear();
    }
    return !m_ended;
}
