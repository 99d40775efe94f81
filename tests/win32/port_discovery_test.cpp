// Finding the COM ports present through SetupAPI, on a device this test
// registers in the Ports class and removes again: what the backend reads of
// it (port name, friendly name, hardware ids, maker, driver) reaches the
// port's description.
#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <memory>
#include <string>
#include <vector>

#include "serial/port_discovery.h"

namespace {

constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The maker every device the test registers names, so that one left
// behind by a run that crashed can be told and removed.
constexpr wchar_t kTestMaker[] = L"Download tool test";

void RemoveLeftovers() {
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    for (DWORD i = 0; i < 256; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(set, i, &device)) {
            break;
        }
        wchar_t maker[64] = {};
        if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_MFG, nullptr,
                                              reinterpret_cast<BYTE*>(maker),
                                              sizeof(maker) - sizeof(wchar_t), nullptr) &&
            std::wstring(maker) == kTestMaker) {
            SetupDiRemoveDevice(set, &device);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

// A root-enumerated device of the Ports class, registered for the test's
// length.
class RegisteredPort {
  public:
    explicit RegisteredPort(const wchar_t* portName) {
        set_ = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
        if (set_ == INVALID_HANDLE_VALUE) {
            return;
        }
        device_.cbSize = sizeof(device_);
        if (!SetupDiCreateDeviceInfoW(set_, L"PORTS", &kPortsClass, nullptr, nullptr,
                                      DICD_GENERATE_ID, &device_) ||
            !SetupDiRegisterDeviceInfo(set_, &device_, 0, nullptr, nullptr, nullptr)) {
            return;
        }
        registered_ = true;
        const wchar_t ids[] = L"USB\\VID_0403&PID_6001&REV_0600\0USB\\VID_0403&PID_6001\0";
        SetProperty(SPDRP_HARDWAREID, ids, sizeof(ids));
        SetProperty(SPDRP_FRIENDLYNAME, L"Test Serial Port (COM42)");
        SetProperty(SPDRP_MFG, kTestMaker);
        SetProperty(SPDRP_SERVICE, L"testser");
        const HKEY key = SetupDiCreateDevRegKeyW(set_, &device_, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                                 nullptr, nullptr);
        if (key != INVALID_HANDLE_VALUE) {
            const std::wstring name = portName;
            RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    ~RegisteredPort() {
        if (registered_) {
            SetupDiRemoveDevice(set_, &device_);
        }
        if (set_ != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    RegisteredPort(const RegisteredPort&) = delete;
    RegisteredPort& operator=(const RegisteredPort&) = delete;

    bool Registered() const { return registered_; }

  private:
    void SetProperty(DWORD property, const wchar_t* text) {
        SetProperty(property, text, (wcslen(text) + 1) * sizeof(wchar_t));
    }
    void SetProperty(DWORD property, const wchar_t* data, std::size_t bytes) {
        SetupDiSetDeviceRegistryPropertyW(set_, &device_, property,
                                          reinterpret_cast<const BYTE*>(data),
                                          static_cast<DWORD>(bytes));
    }

    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device_{};
    bool registered_ = false;
};

const PortDescription* Find(const std::vector<PortDescription>& ports, const std::string& device) {
    for (const PortDescription& p : ports) {
        if (p.device == device) {
            return &p;
        }
    }
    return nullptr;
}

// Wine lists a registered device of the Ports class as present, as
// Windows does one with its driver started; a printer port of the same
// class is no COM port, and a device removed is gone at the next call.
TEST(PortDiscoveryTest, ReadsWhatSetupApiTellsOfAPortsClassDevice) {
    RemoveLeftovers();
    auto port = std::make_unique<RegisteredPort>(L"COM42");
    const RegisteredPort printer(L"LPT3");
    ASSERT_TRUE(port->Registered()) << "SetupAPI refused to register a device: " << GetLastError();
    const auto ports = DiscoverPorts();
    const PortDescription* found = Find(ports, "\\\\.\\COM42");
    ASSERT_NE(found, nullptr) << ports.size() << " ports found";
    EXPECT_EQ(Find(ports, "LPT3"), nullptr);
    EXPECT_EQ(found->kind, "usb");
    EXPECT_EQ(found->friendlyName, "Test Serial Port (COM42)");
    EXPECT_EQ(found->vendorId, "0403");
    EXPECT_EQ(found->productId, "6001");
    EXPECT_EQ(found->manufacturer, "Download tool test");
    EXPECT_EQ(found->driver, "testser");
    EXPECT_EQ(found->serialNumber, "") << "a root-enumerated device has no USB device above it";

    port.reset();
    EXPECT_EQ(Find(DiscoverPorts(), "\\\\.\\COM42"), nullptr);
}

}  // namespace
