// A control for the release checks: the tool built without the shipped
// executable's protections. Its objects have no stack protection, its headers
// ask for no randomisation and no no-execute data, it keeps its debug
// sections and a section both writable and executable, it imports from a
// library that is not part of Windows, and it leaves the library search as
// the platform has it. Every release check must fail on it.
#include "app/command_dispatch.h"
#include "platform/win/windows_operations.h"

extern "C" __declspec(dllimport) int ControlHelper();

// A writable and executable section, as hand-written code might bring.
asm(".section .wxcode,\"wx\"\n.byte 0xC3\n.text\n");

int wmain(int argc, wchar_t** argv)
{
    (void)ControlHelper();
    platform::UseOperations(&platform::WindowsOperations());
    return TessaryMain(argc, reinterpret_cast<const platform::WCHAR* const*>(argv));
}
