#ifndef VESKAR_VESKAR_H_
#define VESKAR_VESKAR_H_

// Everything a host uses: the service mask, the request records, the agents,
// the session accessors, the Base64 codec and the framework types they pass.

#include <veskar/agent.h>
#include <veskar/base64.h>
#include <veskar/cms_agent.h>
#include <veskar/cstring.h>
#include <veskar/export.h>
#include <veskar/file_exception.h>
#include <veskar/ipsec_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/service_bits.h>
#include <veskar/services.h>
#include <veskar/session.h>
#include <veskar/version.h>

#endif  // VESKAR_VESKAR_H_
