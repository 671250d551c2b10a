#include "base/platform/windows_types.h"
#include "update/retry.h"

namespace update {

namespace {

class RealClock : public RetryClock {
 public:
  int64_t NowMs() override { return static_cast<int64_t>(GetTickCount64()); }
  void Pause(int64_t ms) override { Sleep(static_cast<DWORD>(ms)); }
};

}  // namespace

RetryClock& RealRetryClock() {
  static RealClock clock;
  return clock;
}

}  // namespace update
