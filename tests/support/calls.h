// Reading back the calls a test made on the double.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/simulator.h"

namespace testsupport {

// The recorded calls, one "Operation" or "Operation name=value" summary each,
// leaving out the string functions and GetLastError; "Output" calls show
// their text. Handy for checking the order of calls. Given operations, only
// their calls, and a summary the same as the one before it only once.
std::vector<std::string> CallSummary(const std::vector<std::string>& arguments = {},
                                     const std::vector<std::string>& operations = {});

// The recorded calls of one operation; a name the trace never records fails
// the test, so that "none were made" cannot pass for a misspelt name.
std::vector<simulator::Call> CallsOf(const std::string& operation);

} // namespace testsupport
