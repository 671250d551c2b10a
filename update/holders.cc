#include "update/holders.h"

#include "base/logging.h"

namespace update {

void LogHolders(const base::FilePath& path, const std::vector<Holder>& holders, bool asked) {
  if (!asked) {
    LOG(WARNING) << "the platform could not say who holds " << path;
    return;
  }
  if (holders.empty())
    LOG(WARNING) << "the platform names no program holding " << path;
  for (const Holder& holder : holders) {
    LOG(WARNING) << "held by " << holder.name << " (pid " << holder.pid << ", session "
                 << holder.session << "): " << path;
  }
}

}  // namespace update
