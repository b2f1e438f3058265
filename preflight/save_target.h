// The name the user gives the pre-flight's saved snapshot, judged before the
// snapshot is taken: Windows must write a file of exactly that name.
#pragma once

#include <string>

#include "platform/platform.h"

// Answers false, with the reason (a phrase that follows the quoted path), when
// path would not name a file of its own on Windows: it holds a lone UTF-16
// surrogate; it is a device path ("\\.\", or "\\?\" before anything but a
// drive or UNC); its last part is empty, "." or "..", a device name (CON,
// PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript forms, CONIN$,
// CONOUT$; before any extension and trailing spaces), ends in a dot or a
// space (which Windows drops), or holds a colon (a stream of another file),
// a control character or one of < > " | ? *.
bool CheckSaveName(const std::u16string& path, std::string* problem);
