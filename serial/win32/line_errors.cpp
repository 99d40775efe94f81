// How the Win32 receive worker tells a line error from a device that has
// gone: the rule of line_errors.h.
#include "serial/win32/line_errors.h"

ReadFailure ClassifyReadFailure(DWORD error, bool cleared, DWORD commErrors) {
    if (!cleared) {
        return ReadFailure::DeviceGone;  // the driver no longer answers for the port
    }
    switch (error) {
        // What drivers of removable ports fail with once the device is gone.
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
            return ReadFailure::DeviceGone;
        default:
            break;
    }
    const DWORD lineErrors = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
    if ((commErrors & lineErrors) != 0 || error == ERROR_OPERATION_ABORTED) {
        // An abort with no flags left: an earlier ClearCommError took them.
        return ReadFailure::LineError;
    }
    return ReadFailure::DeviceGone;
}
