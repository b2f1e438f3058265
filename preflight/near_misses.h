// Why no adapter was picked: the devices that nearly were.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

// Walks the present devices, reading only, and names each that the tool's
// choice passed over narrowly: a network device whose description begins
// with the vendor's word in another letter case, or names it wireless in no
// word the tool looks for, or a vendor's wireless adapter that is on another
// bus, is disabled, or whose state or driver key name cannot be read. One
// line each: "device 4, CORVANE Wireless AX (...\0007): why", or "device 4:
// its description cannot be read, ..." where the text that names it could
// not be read, and one line, naming no device, where the walk cannot be
// done to its end. Prints nothing.
// Unsure holds those that may be an adapter to act on after all:
// a read of its state or driver key name failed (not a property it
// lacks), or it reads now as one the tool picks (a read of the walk before
// failed, or it changed meanwhile); or a network device's description, or
// a Corvane device's setup class, cannot be read; or this walk cannot be
// done to its end.
struct NearMisses {
    std::vector<std::string> Lines;
    std::vector<std::string> Unsure; // of Lines
};
NearMisses FindNearMisses();

// Whether the tool's choice picks a device now, from a fresh read of its
// state and texts: Unknown when its state, or a text the choice reads,
// cannot be read; Disabled when the device reads disabled (the choice passes
// it over for that, if for nothing else).
enum class PickedNow { Yes, No, Disabled, Unknown };
PickedNow WouldPickNow(platform::HDEVINFO set, platform::SP_DEVINFO_DATA* deviceInfo);
