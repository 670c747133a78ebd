#ifndef VESKAR_FILES_TEMP_FILES_H_
#define VESKAR_FILES_TEMP_FILES_H_

#include <veskar/cstring.h>

namespace veskar {

// Writes a new client INI file for the toolkits into the temporary directory:
// a unique owner-only file named from `prefix` ("CMS", "ENT"), renamed to
// the ".ini" name, holding message 42157 formatted with the two locations
// followed by "\nSigningKey=DSA". Returns the full path.
//
// On failure returns an empty string, sets *error to "Failed to create
// initialization file for <manager> and <server>.\n" and leaves no file of
// its own behind (a file that was already there is never touched). A
// location holding a line break or NUL is refused before anything is
// created, because it would add lines to the file.
CString WriteClientIniFile(const char* prefix, const CString& manager, const CString& server,
                           CString* error);

// Makes a new, empty, owner-only file in the temporary directory named from
// `prefix`; unless `extension` is "tmp" (any case) it is renamed to carry
// `extension` instead. Returns the full path, or an empty string when the
// file could not be made or renamed (then nothing is left behind).
CString MakeEmptyTempFile(const CString& prefix, const CString& extension);

}  // namespace veskar

#endif  // VESKAR_FILES_TEMP_FILES_H_
