// Standard input without waiting: poll() with no time, then read() what is
// there.
#include "tools/cli/input_lines.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

bool InputLines::Take(std::vector<std::string>& lines) {
    while (!m_ended) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_ended = true;
            break;
        }
        Add(buffer, static_cast<std::size_t>(n), lines);
    }
    if (m_ended && !m_partial.empty()) {
        lines.push_back(m_partial);  // a last line without its line end
        m_partial.clear();
    }
    return !m_ended;
}
