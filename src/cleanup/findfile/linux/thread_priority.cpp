#include "cleanup/findfile/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace kestrine {

void SetCurrentThreadPriority(TThreadPriority Priority) {
  // Linux keeps a nice value per thread; raising one needs privileges, so that may be refused.
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  if (Priority == tpNormal) return;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice[Priority]);
}

}  // namespace kestrine
