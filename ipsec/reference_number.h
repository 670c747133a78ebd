#ifndef VESKAR_IPSEC_REFERENCE_NUMBER_H_
#define VESKAR_IPSEC_REFERENCE_NUMBER_H_

namespace veskar {

// Reads a reference number the way atol does: leading white space, an
// optional sign, then decimal digits up to the first other character; text
// without digits gives 0. Unlike atol, a value outside the int range is
// clamped to INT_MIN or INT_MAX instead of being undefined.
int ParseReferenceNumber(const char* text);

}  // namespace veskar

#endif  // VESKAR_IPSEC_REFERENCE_NUMBER_H_
