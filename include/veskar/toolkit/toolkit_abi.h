#ifndef VESKAR_TOOLKIT_TOOLKIT_ABI_H_
#define VESKAR_TOOLKIT_TOOLKIT_ABI_H_

/* Shared helpers of the two toolkit ABI headers. Usable from C and C++. */

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VESKAR_TOOLKIT_CALL __stdcall
#else
#define VESKAR_TOOLKIT_CALL
#endif

/* A toolkit built against these headers exports its entry points with these
   attributes: C linkage, default visibility. */
#if defined(_WIN32)
#define VESKAR_TOOLKIT_EXPORT __declspec(dllexport)
#else
#define VESKAR_TOOLKIT_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define VESKAR_TOOLKIT_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VESKAR_TOOLKIT_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#if defined(__i386__) || defined(_M_IX86)
#define VESKAR_TOOLKIT_X86_32 1
#endif

#endif /* VESKAR_TOOLKIT_TOOLKIT_ABI_H_ */
