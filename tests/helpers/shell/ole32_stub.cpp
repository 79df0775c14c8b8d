// A stand-in ole32.dll for the Program Manager path of setup.exe, which is
// taken when CoInitialize does not answer S_OK. Wine's shell32, comctl32 and
// comdlg32 do not import ole32, so setup.exe is the only user of this DLL.
//
// KORVANE_TEST_COINITIALIZE chooses the answer of CoInitialize:
//   S_FALSE, RPC_E_CHANGED_MODE, E_FAIL (the default, also for any other
//   text). There is no S_OK: the shell-link path needs Wine's shell32, which
//   takes more of ole32 than this stand-in offers.
// CoCreateInstance knows no class (REGDB_E_CLASSNOTREG); CoUninitialize does
// nothing. Built without the C runtime: no global constructors, no imports
// beyond kernel32.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

bool Equals(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

HRESULT ChosenAnswer() {
  char text[64];
  DWORD length = GetEnvironmentVariableA("KORVANE_TEST_COINITIALIZE", text, sizeof text);
  if (length == 0 || length >= sizeof text) return E_FAIL;
  if (Equals(text, "S_FALSE")) return S_FALSE;
  if (Equals(text, "RPC_E_CHANGED_MODE")) return RPC_E_CHANGED_MODE;
  return E_FAIL;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

HRESULT WINAPI CoInitialize(LPVOID) { return ChosenAnswer(); }

void WINAPI CoUninitialize() {}

// The class and interface ids are passed by reference, that is as pointers.
HRESULT WINAPI CoCreateInstance(const void*, void*, DWORD, const void*, void** object) {
  if (object != nullptr) *object = nullptr;
  return REGDB_E_CLASSNOTREG;
}

}  // extern "C"
