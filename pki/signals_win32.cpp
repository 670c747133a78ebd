// Windows has no SIGPIPE: a write to a closed socket fails with an error
// code and never ends the process, so there is nothing to hold back.

#include "pki/signals.h"

namespace veskar::pki {

struct SigpipeBlock::Masks {};

SigpipeBlock::SigpipeBlock() = default;
SigpipeBlock::~SigpipeBlock() = default;

}  // namespace veskar::pki
