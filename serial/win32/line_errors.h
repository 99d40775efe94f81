// How the Win32 receive worker tells a line error from a device that has
// gone, when a wait or read on the port fails.
//
// A line error (framing, parity, overrun, a break) makes the driver fail
// the read under way with ERROR_OPERATION_ABORTED when the port aborts on
// errors, and ClearCommError, which the worker then calls, reports it with
// CE_ flags and clears it. Such a read is given up and the worker goes on
// to its next pass after a short pause, so a line that keeps failing costs
// no CPU. A device that has been removed (a USB adapter pulled) fails with
// one of the codes below, or ClearCommError itself fails: the worker then
// ends and the port is reported lost. A failure that is neither is taken
// as the device gone, as it always was, rather than retried for ever.
#pragma once

#include "framework/win32/win32.h"

enum class ReadFailure { LineError, DeviceGone };

// error: GetLastError() of the failed wait or read; cleared: whether
// ClearCommError, called right after, succeeded; commErrors: the CE_ flags
// it reported.
ReadFailure ClassifyReadFailure(DWORD error, bool cleared, DWORD commErrors);
