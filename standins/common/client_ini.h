#ifndef VESKAR_STANDINS_COMMON_CLIENT_INI_H_
#define VESKAR_STANDINS_COMMON_CLIENT_INI_H_

#include <string>

#include "standins/common/ca_location.h"

namespace veskar::standins {

// The two locations a client INI file names, with the port suffixes the
// library appends ("+709" to the manager, "+389" to the directory server)
// taken off.
struct ClientSettings {
  CaLocation ca;                  // Manager=
  std::string publish_directory;  // Server=: where published certificates go
};

// Reads the client INI file at `path`: "key=value" lines in a settings
// section, LF or CRLF line ends. Fails when the file cannot be read or names
// no manager (CA).
bool ReadClientIni(const char* path, ClientSettings* settings, std::string* error);

}  // namespace veskar::standins

#endif  // VESKAR_STANDINS_COMMON_CLIENT_INI_H_
