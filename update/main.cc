#include "base/win/windows_types.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  return 0;
}
