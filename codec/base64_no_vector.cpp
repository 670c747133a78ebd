// Targets without the x86 vector paths convert with the scalar code alone.

#include "codec/base64_paths.h"

namespace veskar {
namespace base64 {

const VectorKernels* FindVectorKernels(Path) { return nullptr; }

}  // namespace base64
}  // namespace veskar
