// A DLL that the probe application imports. It reports where it was loaded from; the planted
// variant, built from the same source, says "PLANTED" instead, so a test can tell whether a
// copy outside the target directory was ever used.
#include <windows.h>

extern "C" __declspec(dllexport) const wchar_t* probe_dependency_origin() {
#ifdef KELVOR_PROBE_PLANTED
    return L"PLANTED";
#else
    static wchar_t path[MAX_PATH];
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&probe_dependency_origin), &self);
    GetModuleFileNameW(self, path, MAX_PATH);
    return path;
#endif
}
