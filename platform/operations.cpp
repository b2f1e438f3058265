// Each operation of the boundary, passed on to the table in use.
#include "platform/operations_table.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

const Operations* chosen = nullptr;

} // namespace

void UseOperations(const Operations* table)
{
    chosen = table;
}

const Operations& CurrentOperations()
{
    if (chosen == nullptr) {
        (void)std::fputs("tessary: a platform operation was called before the program chose its platform "
                         "(platform::UseOperations); stopping\n",
                         stderr);
        std::_Exit(70);
    }
    return *chosen;
}

// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments)                                                         \
    result name parameters                                                                                             \
    {                                                                                                                  \
        return CurrentOperations().name arguments;                                                                     \
    }
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_OPERATION

} // namespace platform
