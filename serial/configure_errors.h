// What a backend's ConfigurePort keeps of its failures, and the
// LastConfigureError() of serial_port.h that tells them: the first call
// that failed, with the system's reason. Every backend configures through
// one of these, so the rule (the first failure counts; a configuration
// that went through clears it) is the same on each.
#pragma once

#include <string>

#include "serial/serial_port.h"

class ConfigureErrors {
  public:
    // systemReason: the system's words for the call that has just failed
    // (strerror(errno), or the message of GetLastError()); may be null.
    explicit ConfigureErrors(std::string (*systemReason)() = nullptr)
        : m_systemReason(systemReason) {}

    // How every ConfigurePort begins: the settings for the machine type,
    // once the port is known. False, with "no such port" or "no such
    // machine type" noted, when there is nothing to configure.
    bool Wanted(bool portFound, MachineType type, PortSettings* wanted);

    // Notes a call's result; returns ok.
    bool Check(bool ok, const char* call);
    // Notes a failure that is no system call's.
    void Fail(const std::string& text);
    // Makes the outcome LastConfigureError()'s; true when nothing failed.
    bool Finish();

  private:
    std::string (*m_systemReason)();
    std::string m_first;
};
