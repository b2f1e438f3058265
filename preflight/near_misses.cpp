#include "preflight/near_misses.h"

#include "common/text_field.h"
#include "common/text_format.h"
#include "common/unicode.h"
#include "discovery/adapter_scan.h"
#include "discovery/device_probes.h"
#include "discovery/device_walk.h"
#include "discovery/property_reader.h"
#include "platform/inspection.h"

using namespace platform;

namespace {

// A device's property as text, and as the scan holds it; both empty when it
// cannot be read.
struct PropertyTexts {
    std::u16string Full;
    TextField Held = {};
    bool Unreadable = false; // the read failed, not for a property the device lacks
};

PropertyTexts ReadTexts(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo, DWORD property, PropertyBuffer* buffer)
{
    PropertyTexts texts;
    PropertyRead read = ReadDevicePropertyText(set, deviceInfo, property, buffer);
    texts.Unreadable = read == PropertyRead::Unreadable;
    if (read == PropertyRead::Text) {
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
                          const PropertyTexts& driver, CONFIGRET statusResult, DWORD status, DWORD problem)
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
    if (driver.Full.empty()) {
        return driver.Unreadable ? "its driver key name cannot be read"
                                 : "it has no driver key name: no driver is installed for it";
    }
    if (IsDisabledStatus(status, problem)) {
        return "it is disabled; enable it in Device Manager (or pnputil /enable-device) and run the deployment again";
    }
    return "";
}

void NoteNearMiss(DeviceRef device, SP_DEVINFO_DATA* deviceInfo, PropertyBuffer* buffer, void* context)
{
    auto* misses = static_cast<NearMisses*>(context);
    PropertyTexts description = ReadTexts(device.Set, deviceInfo, SPDRP_DEVICEDESC, buffer);
    PropertyTexts setupClass = ReadTexts(device.Set, deviceInfo, SPDRP_CLASS, buffer);
    bool vendor = AsciiLowerCase(description.Full.substr(0, 7)) == u"corvane";
    if ((setupClass.Unreadable && vendor) || (setupClass.Full == u"Net" && description.Unreadable)) {
        misses->Lines.push_back("device " + std::to_string(device.Index) + ": its " +
                                (description.Unreadable ? "description" : "setup class") +
                                " cannot be read, so whether it is an adapter to act on is not known");
        misses->Unsure.push_back(misses->Lines.back());
        return;
    }
    if (setupClass.Full != u"Net" || !vendor) {
        return;
    }
    DWORD status = 0;
    DWORD problem = 0;
    CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, deviceInfo->DevInst, 0);
    PropertyTexts driver = ReadTexts(device.Set, deviceInfo, SPDRP_DRIVER, buffer);
    PropertyTexts enumerator = ReadTexts(device.Set, deviceInfo, SPDRP_ENUMERATOR_NAME, buffer);
    std::string why = WhyPassedOver(description, enumerator, driver, result, status, problem);
    // One whose reads failed may be picked if every test the reads that
    // succeeded allow passes. A bus that cannot be read is not counted: on
    // a platform that never reports one (Wine) it is no passing failure,
    // and no run would ever pass.
    bool failed = result != CR_SUCCESS || driver.Unreadable;
    bool could = BeginsWithVendor(description.Held.Text) && NamesWireless(description.Held.Text) &&
                 (enumerator.Unreadable || IsAdapterBus(enumerator.Held.Text)) &&
                 (result != CR_SUCCESS || !IsDisabledStatus(status, problem));
    bool unsure = why.empty() || (failed && could);
    if (why.empty()) {
        why = "it reads now as an adapter to act on: a read of it failed, or it changed, as the walk before the "
              "run passed it over";
    }
    misses->Lines.push_back("device " + std::to_string(device.Index) + ", " + Utf8(description.Full) + " (" +
                            Utf8(driver.Full) + "): " + why);
    if (unsure) {
        misses->Unsure.push_back(misses->Lines.back());
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
    bool picked =
        texts[0].Full == u"Net" && WhyPassedOver(texts[3], texts[1], texts[2], CR_SUCCESS, status, problem).empty();
    return picked ? PickedNow::Yes : PickedNow::No;
}

NearMisses FindNearMisses()
{
    NearMisses misses;
    DWORD endError = ERROR_NO_MORE_ITEMS;
    if (!WalkPresentDevices(NoteNearMiss, &misses, &endError) || endError != ERROR_NO_MORE_ITEMS) {
        DWORD error = endError != ERROR_NO_MORE_ITEMS ? endError : GetLastError();
        misses.Lines.push_back(
            "the present devices cannot be walked again to their end to name the near misses (error " +
            std::to_string(error) + "), so whether one is an adapter to act on is not known");
        misses.Unsure.push_back(misses.Lines.back());
    }
    return misses;
}
