// The Windows build's process entry: the command line arrives as UTF-16.
#include "platform/platform.h"
#include "platform/win/library_search.h"

int wmain(int argc, wchar_t** argv)
{
    static_assert(sizeof(wchar_t) == sizeof(platform::WCHAR), "Windows text is UTF-16");
    RestrictLibrarySearch();
    return TessaryMain(argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
}
