#include <poll.h>

#include <cerrno>

#include "cmp/socket_wait.h"

namespace veskar::cmp {

int WaitUntilWritable(int socket, std::time_t deadline) {
  for (;;) {
    const std::time_t now = std::time(nullptr);
    if (now >= deadline) return 0;
    pollfd entry{socket, POLLOUT, 0};
    const int ready = poll(&entry, 1, static_cast<int>((deadline - now) * 1000));
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0 ? 1 : ready;
  }
}

}  // namespace veskar::cmp
