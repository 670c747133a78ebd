#ifndef VESKAR_SERVICES_H_
#define VESKAR_SERVICES_H_

#include <veskar/export.h>
#include <veskar/service_bits.h>

// The service mask: 1 (Netscape, always) plus 2 when the IPSec toolkit
// loaded and 4 when the CMS toolkit loaded, so one of 1, 3, 5 and 7. Fixed
// while the library is loaded. A toolkit that loaded but lacks an entry
// point keeps its bit; its agent then refuses requests with 51000.
VESKAR_API int GetAvaliableServices();

#endif  // VESKAR_SERVICES_H_
