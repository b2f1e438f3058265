// The exit codes of the programs around the tool, and what each means.
// tessary.exe itself always exits 0 (but for PLATFORM_UNCHOSEN, a fault of
// the program's own making).
#pragma once

// tessary-preflight.exe --check /a or /d, whose verdicts the other modes of
// the check answer in their own forms (preflight/check_modes.h):
constexpr int CHECK_COMPLIANT = 0;     // the setting is as the action leaves it on every adapter the tool would pick
constexpr int CHECK_NOT_COMPLIANT = 1; // it is not, on some adapter, or an interrupted run left one disabled
constexpr int CHECK_NO_ADAPTER = 3;    // the tool would pick no adapter: nothing to judge
constexpr int CHECK_UNREADABLE = 4;    // the machine could not be read

// tessary-deploy.exe /a or /d (deploy/outcome.h says when each is answered):
constexpr int DEPLOY_SUCCESS = 0;
constexpr int DEPLOY_FAILED = 1;
constexpr int DEPLOY_BUSY = 1618; // ERROR_INSTALL_ALREADY_RUNNING: another deployment ran; try again later
constexpr int DEPLOY_RESTART_NEEDED = 3010;

// tessary-preflight.exe /a, /d or --save FILE: the snapshot could not be taken
// or saved (0 when it was).
constexpr int PREFLIGHT_FAILED = 1;

// Both, and the pre-flight's other commands: the command line is not one the
// program knows; its usage is printed.
constexpr int USAGE = 2;

// Any program: it called the platform before choosing its table of
// operations (platform/operations_table.h), a fault of the program itself.
constexpr int PLATFORM_UNCHOSEN = 70; // EX_SOFTWARE
