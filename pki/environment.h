#ifndef VESKAR_PKI_ENVIRONMENT_H_
#define VESKAR_PKI_ENVIRONMENT_H_

#include <chrono>
#include <string>

namespace veskar::pki {

// The environment variables the stand-ins and their CA read, named once.
inline constexpr char kEnvCmpMessageTimeout[] = "VESKAR_CMP_MSG_TIMEOUT";
inline constexpr char kEnvCmpTotalTimeout[] = "VESKAR_CMP_TOTAL_TIMEOUT";
inline constexpr char kEnvCmpTlsCaFile[] = "VESKAR_CMP_TLS_CA_FILE";
inline constexpr char kEnvCmpProxy[] = "VESKAR_CMP_PROXY";
inline constexpr char kEnvKmpKeyFile[] = "VESKAR_KMP_KEY_FILE";
inline constexpr char kEnvCaConfirmTimeout[] = "VESKAR_CA_CONFIRM_TIMEOUT";
inline constexpr char kEnvCaIoTimeout[] = "VESKAR_CA_IO_TIMEOUT";

// The most seconds any of the time-outs above may be.
constexpr int kMostSeconds = 3600;

// Reads a duration in whole seconds from the environment variable `name`:
// `fallback` when unset, and `fallback` with a warning on stderr when it is
// not a number from 1 to `most`.
std::chrono::seconds SecondsFromEnvironment(const char* name, int fallback, int most);

// The value of the environment variable `name`; empty when unset.
std::string TextFromEnvironment(const char* name);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_ENVIRONMENT_H_
