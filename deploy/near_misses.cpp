#include "deploy/near_misses.h"

#include "common/unicode.h"
#include "deploy/deploy.h"
#include "discovery/device_probes.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"

using namespace platform;

namespace {

// A device's property as text; empty when it cannot be read.
std::u16string PropertyText(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property, PropertyBuffer* buffer)
{
    if (!ReadDeviceProperty(set, deviceInfo, property, buffer)) {
        return {};
    }
    return {reinterpret_cast<const WCHAR*>(buffer->Block), PropertyTextLength(buffer)};
}

std::string Utf8(const std::u16string& text)
{
    return EscapeControlCharacters(Utf16ToUtf8(text.data(), text.size()));
}

// Why a network device whose description begins with the vendor's word, in
// any letter case, was passed over; "" when it was not.
std::string WhyPassedOver(const std::u16string& description, const std::u16string& enumerator,
                          const std::u16string& driver, CONFIGRET statusResult, DWORD status, DWORD problem)
{
    if (description.compare(0, 7, u"Corvane") != 0) {
        return "its description begins with \"" + Utf8(description.substr(0, 7)) + "\", not \"Corvane\"";
    }
    if (description.find(u"Wireless") == std::u16string::npos && description.find(u"Wi-Fi") == std::u16string::npos) {
        return "its description holds neither \"Wireless\" nor \"Wi-Fi\" in these letter cases";
    }
    if (enumerator != u"USB" && enumerator != u"PCI") {
        return enumerator.empty() ? "its bus cannot be read"
                                  : "it is on the bus \"" + Utf8(enumerator) + "\", not USB or PCI";
    }
    if (statusResult != CR_SUCCESS) {
        return "its state cannot be read (CM_Get_DevNode_Status: " + ConfigurationCode(statusResult) + ")";
    }
    if (driver.empty()) {
        return "its driver key name cannot be read";
    }
    if (IsDisabledStatus(status, problem)) {
        return "it is disabled; enable it in Device Manager (or pnputil /enable-device) and run the deployment again";
    }
    return "";
}

void NoteNearMiss(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer, void* context)
{
    std::u16string description = PropertyText(device.Set, deviceInfo, SPDRP_DEVICEDESC, buffer);
    if (PropertyText(device.Set, deviceInfo, SPDRP_CLASS, buffer) != u"Net" ||
        AsciiLowerCase(description.substr(0, 7)) != u"corvane") {
        return;
    }
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0);
    std::u16string driver = PropertyText(device.Set, deviceInfo, SPDRP_DRIVER, buffer);
    std::string why = WhyPassedOver(description, PropertyText(device.Set, deviceInfo, SPDRP_ENUMERATOR_NAME, buffer),
                                    driver, result, status, problem);
    if (!why.empty()) {
        static_cast<std::vector<std::string>*>(context)->push_back(
            "device " + std::to_string(device.Index) + ", " + Utf8(description) + " (" + Utf8(driver) + "): " + why);
    }
}

} // namespace

std::vector<std::string> FindNearMisses()
{
    std::vector<std::string> misses;
    (void)WalkPresentDevices(NoteNearMiss, &misses);
    return misses;
}
