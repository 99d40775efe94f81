// Serial ports present on a Windows machine, asked of SetupAPI at each call:
// the devices of the Ports class and those with the COM port interface,
// present now. Only the reading is here; serial/com_port_info.cpp says what
// it means.
#include "serial/port_discovery.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
// clang-format on

#include <algorithm>
#include <string>
#include <vector>

#include "serial/com_port_info.h"
#include "serial/port_names.h"
#include "serial/serial_port.h"

namespace {

// The Ports device class (devguid.h) and the COM port device interface
// (ntddser.h, which needs the driver kit's headers before it).
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// Every text read is at most this many UTF-16 units; longer ones are cut
// (the portable code cuts them shorter still).
constexpr DWORD kMaxChars = 1024;
// Devices above a port worth reading: its interface's device, the USB
// device, a hub.
constexpr int kMaxParents = 3;
// A machine with more COM ports than this is not one we serve.
constexpr DWORD kMaxDevices = 1024;

std::string Narrow(const wchar_t* text, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const int wide = static_cast<int>(std::min<std::size_t>(length, kMaxChars));
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data(), n, nullptr, nullptr);
    return out;
}

// A buffer's text up to its first NUL.
std::string NarrowString(const std::vector<wchar_t>& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), L'\0');
    return Narrow(buffer.data(), static_cast<std::size_t>(end - buffer.begin()));
}

// A REG_MULTI_SZ's strings, up to the empty one that ends them.
std::vector<std::string> NarrowMulti(const std::vector<wchar_t>& buffer) {
    std::vector<std::string> strings;
    auto start = buffer.begin();
    while (start != buffer.end() && *start != L'\0') {
        const auto end = std::find(start, buffer.end(), L'\0');
        strings.push_back(Narrow(&*start, static_cast<std::size_t>(end - start)));
        start = end == buffer.end() ? end : end + 1;
    }
    return strings;
}

// A device property's raw text (a string, or a list of them). The buffer
// is one unit longer than SetupAPI may fill, and zeroed, so that a text
// without its NUL still ends.
std::vector<wchar_t> ReadProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<wchar_t> buffer(kMaxChars + 2, L'\0');
    DWORD type = 0;
    const DWORD bytes = kMaxChars * sizeof(wchar_t);
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), bytes,
                                           nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ)) {
        return {};
    }
    return buffer;
}

// The "PortName" value in the device's own registry key: "COM5".
std::string ReadPortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key =
        SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::vector<wchar_t> buffer(kMaxChars + 1, L'\0');
    DWORD type = 0;
    DWORD bytes = kMaxChars * sizeof(wchar_t);
    const LONG status = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return {};
    }
    return NarrowString(buffer);
}

std::string InstanceId(DEVINST node) {
    std::vector<wchar_t> buffer(kMaxChars + 1, L'\0');
    if (CM_Get_Device_IDW(node, buffer.data(), kMaxChars, 0) != CR_SUCCESS) {
        return {};
    }
    return NarrowString(buffer);
}

std::string NodeLocation(DEVINST node) {
    std::vector<wchar_t> buffer(kMaxChars + 1, L'\0');
    ULONG type = 0;
    ULONG bytes = kMaxChars * sizeof(wchar_t);
    if (CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_LOCATION_INFORMATION, &type, buffer.data(),
                                          &bytes, 0) != CR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return NarrowString(buffer);
}

ComPortRecord ReadRecord(HDEVINFO set, SP_DEVINFO_DATA& device) {
    ComPortRecord r;
    r.portName = ReadPortName(set, device);
    r.friendlyName = NarrowString(ReadProperty(set, device, SPDRP_FRIENDLYNAME));
    r.hardwareIds = NarrowMulti(ReadProperty(set, device, SPDRP_HARDWAREID));
    r.manufacturer = NarrowString(ReadProperty(set, device, SPDRP_MFG));
    r.service = NarrowString(ReadProperty(set, device, SPDRP_SERVICE));
    r.location = NarrowString(ReadProperty(set, device, SPDRP_LOCATION_INFORMATION));
    r.instanceId = InstanceId(device.DevInst);
    DEVINST node = device.DevInst;
    for (int depth = 0; depth < kMaxParents; ++depth) {
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        r.parents.push_back({InstanceId(parent), NodeLocation(parent)});
        node = parent;
    }
    return r;
}

// Every present device of one set; `seen` holds the instance ids already
// read, so that a device in both sets is read once.
void ReadSet(HDEVINFO set, std::vector<std::string>& seen, std::vector<ComPortRecord>& records) {
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    for (DWORD i = 0; i < kMaxDevices; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set, i, &device)) {
            break;  // ERROR_NO_MORE_ITEMS, or nothing more to be had
        }
        const std::string id = InstanceId(device.DevInst);
        if (!id.empty() && std::find(seen.begin(), seen.end(), id) != seen.end()) {
            continue;
        }
        seen.push_back(id);
        records.push_back(ReadRecord(set, device));
    }
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

std::vector<PortDescription> DiscoverPorts(const DiscoveryRoots&) {
    std::vector<std::string> seen;
    std::vector<ComPortRecord> records;
    ReadSet(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT), seen, records);
    ReadSet(SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                 DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
            seen, records);
    return DescribeComPorts(records);
}

std::vector<std::string> FixedPortNames() {
    return ComPortNames();
}

// COM ports, named as the list above names them.
PortNaming SystemPortNaming() {
    return PortNaming::Windows;
}

std::vector<std::string> DefaultPortList() {
    // Every one of the sixteen names after the ports present, as the
    // window's own list has them.
    const std::vector<PortDescription> present = DiscoverPorts();
    const std::vector<std::string> fixed = FixedPortNames();
    return ScanOrder(present, fixed, present.size() + fixed.size());
}
