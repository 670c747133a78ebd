#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

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

bool BlockUntil(int socket, std::time_t deadline) {
  const std::time_t left = deadline - std::time(nullptr);
  timeval wait{left > 0 ? left : 1, 0};
  const int flags = fcntl(socket, F_GETFL);
  return flags != -1 && fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
         setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait)) == 0 &&
         setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait)) == 0;
}

}  // namespace veskar::cmp
