// The Windows build's process entry: the command line arrives as UTF-16.
// The library search is restricted before it runs (library_search.h).
#include "platform/win/windows_operations.h"

int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(platform::WCHAR), "Windows text is UTF-16");
    platform::UseOperations(&platform::WindowsOperations());
    return TessaryMain(argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
}
