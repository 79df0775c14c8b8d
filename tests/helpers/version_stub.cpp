// Body of the version files: a program that does nothing. Only its version
// resource (or the lack of one) matters to the tests.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
