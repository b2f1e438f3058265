#include "discovery/adapter_scan.h"

#include "common/message_output.h"
#include "common/text_field.h"
#include "discovery/device_probes.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"
#include "restart/device_restart.h"
#include "setting/driver_setting.h"

using namespace platform;

namespace {

// The texts of the device under examination; the selection tests run on these
// truncated copies, not on the full property texts.
struct AdapterRecord {
    TextField ClassName;
    TextField Enumerator;
    TextField DriverKey;
    TextField Description;
};

constexpr WCHAR NETWORK_CLASS[] = u"Net";
constexpr WCHAR USB_ENUMERATOR[] = u"USB";
constexpr WCHAR PCI_ENUMERATOR[] = u"PCI";
constexpr WCHAR VENDOR_WORD[] = u"Corvane";
constexpr WCHAR WIRELESS_WORD[] = u"Wireless";
constexpr WCHAR WIFI_WORD[] = u"Wi-Fi";

} // namespace

BOOL IsAdapterBus(const WCHAR* enumerator)
{
    return lstrcmpW(enumerator, USB_ENUMERATOR) == 0 || lstrcmpW(enumerator, PCI_ENUMERATOR) == 0;
}

BOOL BeginsWithVendor(const WCHAR* description)
{
    return TextStartsWith(description, VENDOR_WORD);
}

BOOL NamesWireless(const WCHAR* description)
{
    return TextContains(description, WIRELESS_WORD) || TextContains(description, WIFI_WORD);
}

namespace {

// True when the device at the index is one of the adapters to act on. Fills
// the record on the way; a device that fails any test is passed over silently.
BOOL IsWirelessAdapter(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD index, PropertyBuffer* buffer,
                       AdapterRecord* adapter)
{
    DWORD status = 0;
    DWORD problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0) != CR_SUCCESS) {
        return FALSE;
    }

    ClearTextField(&adapter->ClassName);
    if (ReadDeviceProperty(set, deviceInfo, SPDRP_CLASS, buffer)) {
        CopyPropertyText(&adapter->ClassName, buffer);
    }
    if (lstrcmpW(adapter->ClassName.Text, NETWORK_CLASS) != 0) {
        return FALSE;
    }

    ClearTextField(&adapter->Enumerator);
    ClearTextField(&adapter->DriverKey);
    ClearTextField(&adapter->Description);
    if (ReadDeviceProperty(set, deviceInfo, SPDRP_ENUMERATOR_NAME, buffer)) {
        CopyPropertyText(&adapter->Enumerator, buffer);
    }
    if (!IsAdapterBus(adapter->Enumerator.Text)) {
        return FALSE;
    }

    if (!ReadDeviceProperty(set, deviceInfo, SPDRP_DRIVER, buffer)) {
        return FALSE;
    }
    CopyPropertyText(&adapter->DriverKey, buffer);

    if (!ReadDeviceProperty(set, deviceInfo, SPDRP_DEVICEDESC, buffer)) {
        return FALSE;
    }
    CopyPropertyText(&adapter->Description, buffer);

    if (!BeginsWithVendor(adapter->Description.Text) || !NamesWireless(adapter->Description.Text)) {
        return FALSE;
    }
    return !IsDeviceDisabled(DeviceRef{set, index});
}

} // namespace

namespace {

// The walk's visit of one device: the selection, and the caller's callback
// for an adapter picked. The record is the scan's, kept across the walk.
struct Selection {
    WirelessAdapterCallback Callback;
    void* Context;
    AdapterRecord Adapter;
};

void SelectAdapter(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer, void* context)
{
    auto* selection = static_cast<Selection*>(context);
    if (IsWirelessAdapter(device.Set, deviceInfo, device.Index, buffer, &selection->Adapter)) {
        selection->Callback(device, deviceInfo, selection->Adapter.DriverKey.Text, selection->Context);
    }
}

} // namespace

BOOL EnumWirelessAdapters(WirelessAdapterCallback callback, void* context, DWORD* endError)
{
    Selection selection = {callback, context, {}};
    return WalkPresentDevices(SelectAdapter, &selection, endError);
}

BOOL EditAndRestartAdapter(SettingAction action, DeviceRef device, const WCHAR* driverKeyName)
{
    UpdateDriverSetting(action, driverKeyName);
    if (!DisableEnableDevice(device)) {
        PrintMessage("DisableEnableDevice FAILED\n");
        return FALSE;
    }
    return TRUE;
}

namespace {

void EditAndRestart(DeviceRef device, const SP_DEVINFO_DATA* /*deviceInfo*/, const WCHAR* driverKeyName, void* context)
{
    (void)EditAndRestartAdapter(*static_cast<const SettingAction*>(context), device, driverKeyName);
}

} // namespace

void ScanWirelessAdapters(SettingAction action)
{
    (void)EnumWirelessAdapters(EditAndRestart, &action);
}
