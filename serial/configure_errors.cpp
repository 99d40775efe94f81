// The first failure of a configuration, kept per thread for
// LastConfigureError(), as the reasons of port_errors.h are: each station
// position configures its own port on its own thread.
#include "serial/configure_errors.h"

#include "serial/serial_port.h"

namespace {
thread_local std::string t_lastConfigureError;
}  // namespace

bool ConfigureErrors::Wanted(bool portFound, MachineType type, PortSettings* wanted) {
    if (!portFound) {
        Fail("no such port");
        return false;
    }
    if (!PortSettingsFor(type, wanted)) {
        Fail("no such machine type");
        return false;
    }
    return true;
}

bool ConfigureErrors::Check(bool ok, const char* call) {
    if (!ok && m_first.empty()) {
        m_first = std::string(call) + ": " + (m_systemReason ? m_systemReason() : "failed");
    }
    return ok;
}

void ConfigureErrors::Fail(const std::string& text) {
    if (m_first.empty()) {
        m_first = text;
    }
}

bool ConfigureErrors::Finish() {
    t_lastConfigureError = m_first;
    return m_first.empty();
}

std::string LastConfigureError() {
    return t_lastConfigureError;
}
