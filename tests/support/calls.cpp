#include "tests/support/calls.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace testsupport {

std::vector<std::string> CallSummary(const std::vector<std::string>& arguments,
                                     const std::vector<std::string>& operations)
{
    std::vector<std::string> summary;
    for (const simulator::Call& call : simulator::Trace()) {
        const std::string& operation = call.Operation;
        bool chosen =
            operations.empty() || std::find(operations.begin(), operations.end(), operation) != operations.end();
        if (!chosen || operation.rfind("lstr", 0) == 0 || operation == "GetLastError") {
            continue;
        }
        std::string line = operation;
        if (operation == "Output") {
            line += " " + call.Argument("text");
        }
        for (const std::string& name : arguments) {
            std::string value = call.Argument(name);
            if (!value.empty()) {
                line += " ";
                line += name;
                line += "=";
                line += value;
            }
        }
        if (operations.empty() || summary.empty() || summary.back() != line) {
            summary.push_back(line);
        }
    }
    return summary;
}

std::vector<simulator::Call> CallsOf(const std::string& operation)
{
    // A misspelt name would find no calls and let "none were made" pass.
    EXPECT_TRUE(simulator::IsTracedOperation(operation)) << "no operation is named " << operation;
    std::vector<simulator::Call> calls;
    for (const simulator::Call& call : simulator::Trace()) {
        if (call.Operation == operation) {
            calls.push_back(call);
        }
    }
    return calls;
}

} // namespace testsupport
