// Message boxes from the string table, under the installation caption.
#include "ui/messages.hpp"

#include "base/bounded_text.hpp"
#include "format/layout.hpp"
#include "resources/resource.h"
#include "state/setup_state.hpp"

namespace {

// A message box caption holds at most 31 characters of string 2.
constexpr int kCaptionSize = 32;
constexpr int kStringSize = 256;
constexpr int kMessageSize = 512;

}  // namespace

int ShowErrorText(HWND owner, const char* text) {
  char caption[kCaptionSize];
  LoadStringA(setupState.hInstance, IDS_CAPTION, caption, kCaptionSize);
  return MessageBoxA(owner, text, caption, MB_ICONERROR);
}

int ShowErrorString(HWND owner, UINT stringId) {
  char text[kStringSize];
  LoadStringA(setupState.hInstance, stringId, text, kStringSize);
  return ShowErrorText(owner, text);
}

int ShowErrorStringArg(HWND owner, UINT stringId, const char* argument) {
  char format[kStringSize];
  LoadStringA(setupState.hInstance, stringId, format, kStringSize);
  char text[kMessageSize];
  FormatWithArgument(text, sizeof text, format, argument);
  return ShowErrorText(owner, text);
}

void SetWindowString(HWND window, UINT stringId) {
  char text[kStringSize];
  LoadStringA(setupState.hInstance, stringId, text, kStringSize);
  SetWindowTextA(window, text);
}

void ShowArchiveError(HWND owner, int code) {
  const char* text = ArchiveErrorText(code);
  if (text == nullptr) return;
  ShowErrorStringArg(owner, IDS_ARCHIVE_ERROR, text);
}
