// The base64 command: the library's Base64 codec from a shell.

#include <veskar/veskar.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"

namespace veskar_cli {

const char kBase64Usage[] =
    "usage: veskar base64 encode|decode [FILE]\n\n"
    "Encodes the bytes of FILE (or of standard input) as Base64 text, or decodes\n"
    "Base64 text back into bytes, and writes the result to standard output.\n"
    "The text is written exactly as the library makes it: 64 characters to a\n"
    "line, each line ended by LF then CR, and nothing added after the end.\n"
    "Decoding skips white space, line breaks and the escapes \\n and \\r.\n";

namespace {

// Reads all of `path`, or of standard input when `path` is null. On failure
// errno says why.
bool ReadAll(const char* path, std::string* data) {
  std::FILE* in = path ? std::fopen(path, "rb") : stdin;
  if (in == nullptr) return false;
  char chunk[1 << 16];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) data->append(chunk, got);
  const bool ok = !std::ferror(in);
  const int error = errno;
  if (path) std::fclose(in);
  errno = error;
  return ok;
}

int WriteAll(const void* data, std::size_t size) {
  if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "veskar base64: cannot write the output: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  return kExitOk;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "veskar base64: %s\n", message.c_str());
  return kExitFailure;
}

// The decoder's only complaint, a backslash between groups that starts no
// \n or \r, comes back as a count of 0.
bool HasBadEscape(const std::string& text) {
  for (std::size_t i = text.find('\\'); i != std::string::npos; i = text.find('\\', i + 2)) {
    if (i + 1 == text.size() || (text[i + 1] != 'n' && text[i + 1] != 'r')) return true;
  }
  return false;
}

int Encode(std::string& bytes) {
  char* text = nullptr;
  const int count = Base64EncodeAlloc(&bytes[0], bytes.size(), text);
  if (count < 0) return Fail("cannot encode " + std::to_string(bytes.size()) + " bytes: too large");
  const int status = WriteAll(text, static_cast<std::size_t>(count));
  Base64Free(text);
  return status;
}

int Decode(std::string& text) {
  void* bytes = nullptr;
  // All bits of a 32-bit length set would mean a NUL-terminated text.
  const int count =
      text.size() >= 0xFFFFFFFFul ? -1 : Base64DecodeAlloc(&text[0], text.size(), bytes);
  if (count < 0)
    return Fail("cannot decode " + std::to_string(text.size()) + " characters: too large");
  int status = kExitOk;
  if (count == 0 && HasBadEscape(text)) {
    status = Fail("the text has a backslash not followed by n or r; nothing was decoded");
  } else {
    status = WriteAll(bytes, static_cast<std::size_t>(count));
  }
  Base64Free(bytes);
  return status;
}

}  // namespace

int RunBase64(const Args& args) {
  if (args.empty() || args.size() > 2) {
    return UsageError("base64", "takes encode or decode and at most one FILE");
  }
  if (args[0] != "encode" && args[0] != "decode") {
    return UsageError("base64", "'" + args[0] + "' is neither encode nor decode");
  }
  const char* path = args.size() == 2 ? args[1].c_str() : nullptr;
#if defined(_WIN32)
  // Text mode would turn LF into CR LF on the way out and stop reading at a
  // Ctrl-Z: both streams carry bytes exactly.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::string input;
  if (!ReadAll(path, &input)) {
    return Fail(std::string("cannot read ") + (path ? "'" + args[1] + "'" : "standard input") +
                ": " + std::strerror(errno));
  }
  return args[0] == "encode" ? Encode(input) : Decode(input);
}

}  // namespace veskar_cli
