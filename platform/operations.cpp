// The table in use, and the one in use before a program chooses: each of its
// operations stops the program.
#include "platform/operations_table.h"

#include <cstdio>
#include <cstdlib>

#include "common/exit_codes.h"

namespace platform {

namespace {

template <class... Arguments> [[noreturn]] void Stop(const Arguments&... /*arguments*/)
{
    (void)std::fputs("tessary: a platform operation was called before the program chose its platform "
                     "(platform::UseOperations); stopping\n",
                     stderr);
    std::_Exit(PLATFORM_UNCHOSEN);
}

namespace unchosen {
// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments)                                                         \
    result name parameters                                                                                             \
    {                                                                                                                  \
        Stop arguments;                                                                                                \
    }
#include "platform/inspection_operations.inc"
#include "platform/operations.inc"
#undef TESSARY_OPERATION
} // namespace unchosen

// NOLINTNEXTLINE(bugprone-macro-parentheses): each argument is a part of a declaration
#define TESSARY_OPERATION(result, name, parameters, arguments) &unchosen::name,
constexpr InspectionOperations UNCHOSEN_INSPECTION = {
#include "platform/inspection_operations.inc"
};
constexpr Operations UNCHOSEN = {
#include "platform/operations.inc"
    &UNCHOSEN_INSPECTION};
#undef TESSARY_OPERATION

} // namespace

namespace detail {
const Operations* chosenOperations = &UNCHOSEN;
} // namespace detail

void UseOperations(const Operations* table)
{
    detail::chosenOperations = table != nullptr ? table : &UNCHOSEN;
}

} // namespace platform
