// A control for the release checks: a program built without the shipped
// executables' protections. Its code has no stack protection, its headers
// ask for no randomisation and no no-execute data, it keeps its debug
// sections and a section both writable and executable, it imports from a
// library that is not part of Windows, and it restricts the library search
// only after it has had a library loaded (the cryptographic provider, as a
// stack guard set up that way would), then asks SetupAPI for the device set.
// Every release check must fail on it. It calls Windows directly, so that the Windows backend is
// compiled once, with the protections the shipped programs have.
#include <windows.h>

#include <setupapi.h>
#include <wincrypt.h>

extern "C" __declspec(dllimport) int ControlHelper();

// A writable and executable section, as hand-written code might bring.
asm(".section .wxcode,\"wx\"\n.byte 0xC3\n.text\n");

int wmain()
{
    (void)ControlHelper();
    HCRYPTPROV provider = 0;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        CryptReleaseContext(provider, 0);
    }
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    HDEVINFO devices = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(devices);
    }
    return 0;
}
