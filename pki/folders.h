#ifndef VESKAR_PKI_FOLDERS_H_
#define VESKAR_PKI_FOLDERS_H_

#include <string>

namespace veskar::pki {

// True when `path` is a folder (following symbolic links).
bool IsFolder(const std::string& path);

// Whether `path` is absent or an empty folder: *exists says whether it is
// there. False, with *error, when it holds anything or cannot be read.
bool IsAbsentOrEmptyFolder(const std::string& path, bool* exists, std::string* error);

// Creates the folder `path`, owner-only; fails when anything has that name.
bool CreateNewFolder(const std::string& path, std::string* error);

// Makes the folder `path` owner-only.
bool RestrictFolderToOwner(const std::string& path, std::string* error);

// Removes the file, or else the empty folder, `path`; quietly does nothing
// when neither goes.
void RemoveFileOrFolder(const std::string& path);

// `path` with symbolic links and "." and ".." resolved, or `path` itself
// when it cannot be resolved; two names of one folder give one text.
std::string CanonicalPath(const std::string& path);

}  // namespace veskar::pki

#endif  // VESKAR_PKI_FOLDERS_H_
