// The check as the pre-flight makes it, on the machine installed on the
// double: a snapshot of it, then the check of the snapshot.
#pragma once

#include "preflight/compliance.h"

namespace testsupport {

// CHECK_UNREADABLE, with the reason as its line, when no snapshot can be taken.
CheckAnswer CheckInstalledMachine(SettingAction action);

} // namespace testsupport
