#include "deploy/near_misses.h"

#include "common/text_field.h"
#include "common/unicode.h"
#include "deploy/deploy.h"
#include "discovery/adapter_scan.h"
#include "discovery/device_probes.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"

using namespace platform;

namespace {

// A device's property as text, and as the scan holds it; both empty when it
// cannot be read.
struct PropertyTexts {
    std::u16string Full;
    TextField Held = {};
};

PropertyTexts ReadTexts(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property, PropertyBuffer* buffer)
{
    PropertyTexts texts;
    if (ReadDeviceProperty(set, deviceInfo, property, buffer)) {
        texts.Full.assign(reinterpret_cast<const WCHAR*>(buffer->Block), PropertyTextLength(buffer));
        CopyPropertyText(&texts.Held, buffer);
    }
    return texts;
}

std::string Utf8(const std::u16string& text)
{
    return EscapeControlCharacters(Utf16ToUtf8(text.data(), text.size()));
}

// Why a network device whose description begins with the vendor's word, in
// any letter case, was passed over, by the scan's own tests on the scan's
// own copies of its texts; "" when it was not.
std::string WhyPassedOver(const PropertyTexts& description, const PropertyTexts& enumerator,
                          const std::u16string& driver, CONFIGRET statusResult, DWORD status, DWORD problem)
{
    if (!BeginsWithVendor(description.Held.Text)) {
        return "its description begins with \"" + Utf8(description.Full.substr(0, 7)) + "\", not \"Corvane\"";
    }
    if (!NamesWireless(description.Held.Text)) {
        return "its description holds neither \"Wireless\" nor \"Wi-Fi\" in these letter cases" +
               std::string(description.Full.size() >= TEXT_FIELD_UNITS
                               ? " within its first " + std::to_string(TEXT_FIELD_UNITS - 1) +
                                     " characters, all that is read of it"
                               : "");
    }
    if (!IsAdapterBus(enumerator.Held.Text)) {
        return enumerator.Full.empty() ? "its bus cannot be read"
                                       : "it is on the bus \"" + Utf8(enumerator.Full) + "\", not USB or PCI";
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
    PropertyTexts description = ReadTexts(device.Set, deviceInfo, SPDRP_DEVICEDESC, buffer);
    if (ReadTexts(device.Set, deviceInfo, SPDRP_CLASS, buffer).Full != u"Net" ||
        AsciiLowerCase(description.Full.substr(0, 7)) != u"corvane") {
        return;
    }
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0);
    std::u16string driver = ReadTexts(device.Set, deviceInfo, SPDRP_DRIVER, buffer).Full;
    std::string why = WhyPassedOver(description, ReadTexts(device.Set, deviceInfo, SPDRP_ENUMERATOR_NAME, buffer),
                                    driver, result, status, problem);
    if (!why.empty()) {
        static_cast<std::vector<std::string>*>(context)->push_back("device " + std::to_string(device.Index) + ", " +
                                                                   Utf8(description.Full) + " (" + Utf8(driver) +
                                                                   "): " + why);
    }
}

} // namespace

PickedNow WouldPickNow(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo)
{
    DWORD status = 0;
    DWORD problem = 0;
    if (CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0) != CR_SUCCESS) {
        return PickedNow::Unknown;
    }
    if (IsDisabledStatus(status, problem) != FALSE) {
        return PickedNow::Disabled;
    }
    PropertyBuffer buffer = {nullptr, 0, 0};
    PropertyTexts texts[4];
    const DWORD properties[4] = {SPDRP_CLASS, SPDRP_ENUMERATOR_NAME, SPDRP_DRIVER, SPDRP_DEVICEDESC};
    bool read = true;
    for (int i = 0; i < 4 && read; ++i) {
        texts[i] = ReadTexts(set, deviceInfo, properties[i], &buffer);
        read = !texts[i].Full.empty();
    }
    ReleasePropertyBlock(&buffer);
    if (!read) {
        return PickedNow::Unknown;
    }
    // Every text and the state read: passed over for no reason means picked.
    bool picked = texts[0].Full == u"Net" &&
                  WhyPassedOver(texts[3], texts[1], texts[2].Full, CR_SUCCESS, status, problem).empty();
    return picked ? PickedNow::Yes : PickedNow::No;
}

std::vector<std::string> FindNearMisses()
{
    std::vector<std::string> misses;
    (void)WalkPresentDevices(NoteNearMiss, &misses);
    return misses;
}
