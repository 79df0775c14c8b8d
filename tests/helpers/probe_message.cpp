// A known message box for the harness's own test: caption "Robot Probe", a
// text with a tab in it, exit code 7 when OK is pressed (3 otherwise).
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int answer = MessageBoxA(nullptr, "Probe message:\tfirst line.", "Robot Probe",
                           MB_OK | MB_ICONERROR);
  return answer == IDOK ? 7 : 3;
}
