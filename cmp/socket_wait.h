#ifndef VESKAR_CMP_SOCKET_WAIT_H_
#define VESKAR_CMP_SOCKET_WAIT_H_

#include <ctime>

namespace veskar::cmp {

// Waits until `socket` can be written to (a connection in progress has
// ended, one way or the other) or the wall clock reaches `deadline`: 1 when
// it can, 0 at the deadline, -1 on failure. Unlike select(), it works for
// any descriptor number: a host may well hold more than a thousand.
int WaitUntilWritable(int socket, std::time_t deadline);

// Makes `socket` blocking, each read and write on it given up (as "would
// block") when it has waited until `deadline`. False when the system
// refuses.
bool BlockUntil(int socket, std::time_t deadline);

}  // namespace veskar::cmp

#endif  // VESKAR_CMP_SOCKET_WAIT_H_
