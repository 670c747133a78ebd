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

bool BlockUntil(int socket, std::time_t deadline) {
  const std::time_t left = deadline - std::time(nullptr);
  const DWORD wait = static_cast<DWORD>(left > 0 ? left : 1) * 1000;
  u_long nonblocking = 0;
  const auto handle = static_cast<SOCKET>(socket);
  const auto* value = reinterpret_cast<const char*>(&wait);
  return ioctlsocket(handle, FIONBIO, &nonblocking) == 0 &&
         setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, value, sizeof(wait)) == 0 &&
         setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, value, sizeof(wait)) == 0;
}

}  // namespace veskar::cmp
