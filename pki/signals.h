#ifndef VESKAR_PKI_SIGNALS_H_
#define VESKAR_PKI_SIGNALS_H_

#include <memory>

namespace veskar::pki {

// Keeps SIGPIPE from the calling thread while it exists. A peer that closes
// a connection this thread still writes to must fail the write, not end the
// host's process (socket writes made by a library do not ask to be spared).
// A SIGPIPE raised meanwhile is taken back before the mask is restored.
class SigpipeBlock {
 public:
  SigpipeBlock();
  ~SigpipeBlock();
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  struct Masks;
  std::unique_ptr<Masks> masks_;
};

}  // namespace veskar::pki

#endif  // VESKAR_PKI_SIGNALS_H_
