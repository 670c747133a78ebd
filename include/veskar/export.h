#ifndef VESKAR_EXPORT_H_
#define VESKAR_EXPORT_H_

// VESKAR_API marks the interface that hosts see. Everything else in the
// library is hidden (the build compiles with hidden visibility by default).
#if defined(_WIN32)
#if defined(VESKAR_BUILDING_LIBRARY)
#define VESKAR_API __declspec(dllexport)
#elif defined(VESKAR_LINKED_STATICALLY)
// The library's code linked into the program itself (white-box tests).
#define VESKAR_API
#else
#define VESKAR_API __declspec(dllimport)
#endif
#else
#define VESKAR_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__) || defined(__clang__)
#define VESKAR_PRINTF_LIKE(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define VESKAR_PRINTF_LIKE(format_index, first_arg)
#endif

#endif  // VESKAR_EXPORT_H_
