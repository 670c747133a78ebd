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
   attributes: C linkage, default visibility. A Windows module whose exports
   come from a module-definition file (which can give the decorated names)
   defines VESKAR_TOOLKIT_EXPORTS_BY_DEF so that nothing else is exported. */
#if defined(_WIN32)
#if defined(VESKAR_TOOLKIT_EXPORTS_BY_DEF)
#define VESKAR_TOOLKIT_EXPORT
#else
#define VESKAR_TOOLKIT_EXPORT __declspec(dllexport)
#endif
#else
#define VESKAR_TOOLKIT_EXPORT __attribute__((visibility("default")))
#endif

/* Expanders for the entry-point lists of the toolkit headers, whose rows are
   X(return type, name, argument bytes, (parameters)). */
#define VESKAR_TOOLKIT_DECLARE_TYPE(ret, name, bytes, params) \
  typedef ret(VESKAR_TOOLKIT_CALL* PFN_##name) params;
#define VESKAR_TOOLKIT_DECLARE_EXPORT(ret, name, bytes, params) \
  VESKAR_TOOLKIT_EXPORT ret VESKAR_TOOLKIT_CALL name params;
/* The name 32-bit Windows gives the entry point: "_CMSLogin@24". */
#define VESKAR_TOOLKIT_DECORATED_NAME(name, bytes) "_" #name "@" #bytes
#ifdef __cplusplus
/* A class-wide slot for the entry point's address: m_gpCMSLogin. */
#define VESKAR_TOOLKIT_DECLARE_SLOT(ret, name, bytes, params) static PFN_##name m_gp##name;
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
