// The first failure of a configuration, kept for LastConfigureError().
#include "serial/configure_errors.h"

#include <mutex>

#include "serial/serial_port.h"

namespace {

struct LastError {
    std::mutex lock;  // ConfigurePort and LastConfigureError may be on different threads
    std::string text;
};

LastError& TheLastError() {
    static LastError last;
    return last;
}

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
    LastError& last = TheLastError();
    std::lock_guard<std::mutex> g(last.lock);
    last.text = m_first;
    return m_first.empty();
}

std::string LastConfigureError() {
    LastError& last = TheLastError();
    std::lock_guard<std::mutex> g(last.lock);
    return last.text;
}
