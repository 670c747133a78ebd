#include <pthread.h>
#include <signal.h>

#include <cerrno>

#include "pki/signals.h"

namespace veskar::pki {

struct SigpipeBlock::Masks {
  sigset_t pipe;
  sigset_t previous;
  bool was_pending = false;
};

SigpipeBlock::SigpipeBlock() : masks_(new Masks) {
  sigemptyset(&masks_->pipe);
  sigaddset(&masks_->pipe, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  masks_->was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &masks_->pipe, &masks_->previous);
}

SigpipeBlock::~SigpipeBlock() {
  sigset_t pending;
  sigpending(&pending);
  if (!masks_->was_pending && sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{0, 0};
    while (sigtimedwait(&masks_->pipe, nullptr, &now) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &masks_->previous, nullptr);
}

}  // namespace veskar::pki
