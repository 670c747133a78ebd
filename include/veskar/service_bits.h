#ifndef VESKAR_SERVICE_BITS_H_
#define VESKAR_SERVICE_BITS_H_

namespace veskar {

// The bits of the service mask, which are also the message-server types the
// request records report.
enum ServiceBit : int {
  kServiceNetscape = 1,
  kServiceIpsec = 2,
  kServiceCms = 4,
};

}  // namespace veskar

#endif  // VESKAR_SERVICE_BITS_H_
