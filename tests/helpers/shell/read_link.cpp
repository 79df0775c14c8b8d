// read_link.exe <link file>: loads a shell link through IShellLinkA and
// IPersistFile::Load and prints three lines on stdout:
//   path=<target path>
//   workdir=<working directory>
//   arguments=<arguments>
// Exit code 0, or 1 with "error <step> <hresult>" when the link cannot be read.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>

namespace {

int Fail(const char* step, HRESULT result) {
  std::printf("error %s 0x%08lx\n", step, static_cast<unsigned long>(result));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage", E_INVALIDARG);
  HRESULT result = CoInitialize(nullptr);
  if (FAILED(result)) return Fail("CoInitialize", result);
  IShellLinkA* link = nullptr;
  result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                            reinterpret_cast<void**>(&link));
  if (FAILED(result)) return Fail("CoCreateInstance", result);
  IPersistFile* file = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (FAILED(result)) return Fail("QueryInterface", result);
  WCHAR widePath[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, widePath, MAX_PATH);
  result = file->Load(widePath, STGM_READ);
  if (FAILED(result)) return Fail("Load", result);

  char text[1024];
  text[0] = '\0';
  link->GetPath(text, sizeof text, nullptr, SLGP_RAWPATH);
  std::printf("path=%s\n", text);
  text[0] = '\0';
  link->GetWorkingDirectory(text, sizeof text);
  std::printf("workdir=%s\n", text);
  text[0] = '\0';
  link->GetArguments(text, sizeof text);
  std::printf("arguments=%s\n", text);
  std::fflush(stdout);
  file->Release();
  link->Release();
  CoUninitialize();
  return 0;
}
