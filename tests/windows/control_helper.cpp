// A library that is not part of Windows, for the unhardened control to import.
extern "C" __declspec(dllexport) int ControlHelper()
{
    return 0;
}
