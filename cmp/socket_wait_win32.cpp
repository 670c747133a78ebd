#include <winsock2.h>

#include "cmp/socket_wait.h"

namespace veskar::cmp {

int WaitUntilWritable(int socket, std::time_t deadline) {
  const std::time_t now = std::time(nullptr);
  if (now >= deadline) return 0;
  WSAPOLLFD entry{};
  entry.fd = static_cast<SOCKET>(socket);
  entry.events = POLLWRNORM;
  const int ready = WSAPoll(&entry, 1, static_cast<INT>((deadline - now) * 1000));
  return ready == SOCKET_ERROR ? -1 : ready > 0 ? 1 : 0;
}

}  // namespace veskar::cmp
