#include "secret_input.h"

#include <cctype>
#include <cstdio>

#include "file_io.h"

namespace veskar_cli {
namespace {

constexpr size_t kMaxSecret = 1024;

// The first line of `text`, without its line end.
std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Reads one line of standard input, at most kMaxSecret bytes and its end.
bool ReadLine(std::string* line) {
  line->clear();
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    if (line->size() > kMaxSecret) return true;  // too long; the caller says so
    line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return !std::ferror(stdin);
}

// Asks on the terminal with echo turned off, restored before returning or
// when a signal ends the run meanwhile.
bool Prompt(const std::string& prompt, std::string* line) {
  const EchoOff quiet;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  return ReadLine(line);
}

}  // namespace

bool CanReadSecret(const SecretSource& source) {
  return !source.file.empty() || source.from_stdin || StandardInputIsTerminal();
}

bool ReadSecret(const SecretSource& source, const char* what, bool confirm, std::string* secret,
                std::string* error) {
  secret->clear();
  if (!source.file.empty()) {
    Bytes content;
    if (!veskar::pki::ReadWholeFile(source.file, 64 * 1024, &content, error)) return false;
    std::string text(content.begin(), content.end());
    veskar::pki::Cleanse(&content);
    *secret = FirstLine(text);
    Wipe(&text);
  } else if (source.from_stdin) {
    if (!ReadLine(secret)) {
      *error = std::string("cannot read the ") + what + " from standard input";
      return false;
    }
  } else {
    std::string capital = what;
    capital[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capital[0])));
    if (!Prompt(capital + ": ", secret)) {
      *error = std::string("cannot read the ") + what + " from the terminal";
      return false;
    }
    if (confirm && !secret->empty() && secret->size() <= kMaxSecret) {
      std::string again;
      const bool read = Prompt(capital + " again: ", &again);
      const bool same = read && again == *secret;
      Wipe(&again);
      if (!same) {
        Wipe(secret);
        *error = std::string("the two ") + what + "s differ";
        return false;
      }
    }
  }
  if (secret->empty() || secret->size() > kMaxSecret) {
    *error =
        std::string("the ") + what + (secret->empty() ? " is empty" : " is longer than 1024 bytes");
    Wipe(secret);
    return false;
  }
  return true;
}

void Wipe(std::string* secret) { veskar::pki::Cleanse(secret); }

}  // namespace veskar_cli
