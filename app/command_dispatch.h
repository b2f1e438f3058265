// The tool's entry point. TessaryMain is declared in platform/platform.h,
// where each backend's process entry finds it without reaching above the
// boundary; this is its contract:
//
// int TessaryMain(int argc, const platform::WCHAR* const* argv);
//
// Prints the banner, chooses the action from the first argument ("/d..."
// deletes, "/a..." adds, judged on the first two code units; element 0 is the
// program's name) and runs the scan once, or prints the usage line. Answers
// the process exit status, which is always 0.
#pragma once

#include "platform/platform.h"
