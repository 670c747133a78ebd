// The base64 command: the library's Base64 codec from a shell.

#include <veskar/veskar.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"
#include "os.h"

namespace veskar_cli {
namespace {

int Fail(const std::string& message) { return Failure("base64", message); }

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
    return Fail(std::string("cannot write the output: ") + std::strerror(errno));
  }
  return kExitOk;
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

// Where `text` is not Base64 as the encoder writes it, said for a person;
// "" when it is. White space, line breaks and the \n and \r escapes are
// skipped, as the decoder skips them.
std::string Base64Problem(const std::string& text) {
  std::size_t symbols = 0;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
      ++i;
      continue;
    }
    const std::string where = " at offset " + std::to_string(i);
    if (c == '=') {
      ++padding;
    } else if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') {
      return std::isprint(static_cast<unsigned char>(c))
                 ? std::string("'") + c + "'" + where + " is not a Base64 character"
                 : "byte " + std::to_string(static_cast<unsigned char>(c)) + where +
                       " is not a Base64 character";
    } else if (padding > 0) {
      return "'" + std::string(1, c) + "'" + where + " follows the closing '='";
    }
    ++symbols;
  }
  if (padding > 2 || symbols % 4 != 0) {
    return "the text ends inside a group of four characters (" + std::to_string(symbols) +
           " Base64 characters)";
  }
  return "";
}

int Decode(std::string& text, bool tolerant) {
  if (!tolerant) {
    const std::string problem = Base64Problem(text);
    if (!problem.empty()) {
      return Fail("invalid input: " + problem +
                  "; nothing was decoded (--tolerant decodes what it can)");
    }
  }
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

int RunBase64(const Options& options) {
  const Args& args = options.operands();
  if (args.empty()) return UsageError("base64", "takes encode or decode");
  if (args[0] != "encode" && args[0] != "decode") {
    return UsageError("base64", "'" + args[0] + "' is neither encode nor decode");
  }
  const bool decode = args[0] == "decode";
  const bool tolerant = options.Has("--tolerant");
  if (tolerant && !decode) return UsageError("base64", "--tolerant goes with decode");
  const char* path = args.size() > 1 ? args[1].c_str() : nullptr;
  UseBinaryStandardStreams();
  const bool from_stdin = path == nullptr || std::string(path) == "-";
  std::string input;
  if (!ReadAll(from_stdin ? nullptr : path, &input)) {
    return Fail(std::string("cannot read ") +
                (from_stdin ? "standard input" : "'" + std::string(path) + "'") + ": " +
                std::strerror(errno));
  }
  return decode ? Decode(input, tolerant) : Encode(input);
}

}  // namespace

const Verb kBase64Verb = {
    "base64",
    RunBase64,
    {2, "takes at most one FILE"},
    "usage: veskar base64 encode [FILE]\n"
    "       veskar base64 decode [--tolerant] [FILE]\n",
    "Encodes the bytes of FILE (or of standard input, also for '-') as Base64\n"
    "text, or decodes Base64 text back into bytes, and writes the result to\n"
    "standard output. The text is written exactly as the library makes it: 64\n"
    "characters to a line, each line ended by LF then CR, and nothing added after\n"
    "the end. Decoding skips white space, line breaks and the escapes \\n and \\r,\n"
    "and refuses anything else that is not Base64 (a character outside A-Z a-z\n"
    "0-9 + / =, '=' before the end, or a length that is not whole groups of four),\n"
    "writing nothing and exiting 1.\n",
    {{"--tolerant", nullptr, "decode as the library does, skipping what is not Base64"}}};

}  // namespace veskar_cli
