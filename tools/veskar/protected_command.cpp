// veskar protected put|get: labelled items of a protected-data file, through
// the CMS agent's protected-data operations.

#include <openssl/crypto.h>
#include <veskar/cms_agent.h>
#include <veskar/services.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "command.h"
#include "file_io.h"
#include "os.h"
#include "pki/folders.h"

namespace veskar_cli {
namespace {

// The most the stand-in toolkit stores in one item.
constexpr size_t kMaxItem = 4 * 1024 * 1024;

constexpr Option kFileOption = {"--file", "FILE", "the protected-data file"};
constexpr Option kLabelOption = {"--label", "LABEL", "the item's label"};
constexpr Option kProtectionFileOption = {"--protection-file", "F",
                                          "the protection string: the first line of F"};
constexpr Option kProtectionStdinOption = {"--protection-stdin", nullptr,
                                           "the first line of standard input"};

// All of standard input, a pipe as well as a file, up to `max_size` bytes.
bool ReadStandardInput(size_t max_size, Bytes* out, std::string* error) {
  UseBinaryStandardStreams();
  out->clear();
  unsigned char chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, stdin);
    out->insert(out->end(), chunk, chunk + got);
    if (out->size() > max_size) {
      *error = "standard input holds more than " + std::to_string(max_size) + " bytes";
      return false;
    }
    if (got < sizeof chunk) break;
  }
  if (std::ferror(stdin)) {
    *error = "cannot read standard input";
    return false;
  }
  return true;
}

struct ItemOptions {
  std::string file;
  std::string absolute;  // the file as the toolkit is given it, from any folder
  std::string label;
  SecretSource protection;
};

// Checks what both verbs need. Returns kExitOk, or the exit status after
// saying what is wrong.
int ReadItemOptions(const char* command, const Options* options, ItemOptions* item) {
  if (const char* missing = options->FirstMissing({"--file", "--label"})) {
    return UsageError(command, std::string("needs ") + missing);
  }
  item->file = options->Value("--file");
  item->absolute = AbsolutePath(item->file);
  item->label = options->Value("--label");
  const std::string problem =
      SecretOptions(*options, kProtectionFileOption.name, kProtectionFileOption.value,
                    kProtectionStdinOption.name, "protection string", &item->protection);
  if (!problem.empty()) return UsageError(command, problem);
  if (!(GetAvaliableServices() & veskar::kServiceCms)) {
    return Failure(command, "protected data needs the CMS toolkit: " +
                                std::string(ToolkitOf(veskar::kServiceCms).file) +
                                " was not loaded ('veskar services' says why)");
  }
  return kExitOk;
}

// Reads the item; null when it is missing, empty or cannot be opened.
std::unique_ptr<unsigned char[]> GetItem(const ItemOptions& item, const std::string& protection,
                                         unsigned int* length) {
  CQnEntCmsPMA agent;
  unsigned char* data = nullptr;
  *length = 0;
  agent.GetFromProtectedFile(item.label.c_str(), item.absolute.c_str(), protection.c_str(), &data,
                             *length);
  return std::unique_ptr<unsigned char[]>(data);
}

int RunPut(const Options& options) {
  constexpr char kCommand[] = "protected put";
  ItemOptions item;
  if (const int status = ReadItemOptions(kCommand, &options, &item); status != kExitOk) {
    return status;
  }
  const std::string input = options.Value("--in");
  if (input.empty()) return UsageError(kCommand, "needs --in");
  if (input == "-" && item.protection.file.empty()) {
    return UsageError(kCommand, "'--in -' needs --protection-file");
  }
  Bytes data;
  std::string error;
  const bool read = input == "-" ? ReadStandardInput(kMaxItem, &data, &error)
                                 : veskar::pki::ReadWholeFile(input, kMaxItem, &data, &error);
  if (!read) return Failure(kCommand, error);
  if (data.empty()) return Failure(kCommand, "nothing to store: the data is empty");
  if (!CanCreate(item.file, &error)) return Failure(kCommand, error);
  SecretText protection;
  if (!ReadSecret(item.protection, "protection string", true, &protection.text, &error)) {
    return Failure(kCommand, error);
  }
  bool stored = false;
  try {
    CQnEntCmsPMA agent;
    agent.PutToProtectedFile(item.label.c_str(), data.data(),
                             static_cast<unsigned int>(data.size()), item.absolute.c_str(),
                             protection.text.c_str());
    unsigned int length = 0;
    const std::unique_ptr<unsigned char[]> back = GetItem(item, protection.text, &length);
    stored = back && length == data.size() && std::memcmp(back.get(), data.data(), length) == 0;
  } catch (const std::exception& thrown) {
    return Failure(kCommand, std::string("the library failed: ") + thrown.what());
  }
  if (!stored) {
    return Failure(kCommand, "the item was not stored in " + item.file +
                                 " (the file is not a protected-data file, or cannot be written)");
  }
  std::printf("stored %zu bytes as '%s' in %s\n", data.size(), item.label.c_str(),
              item.file.c_str());
  return kExitOk;
}

int RunGet(const Options& options) {
  constexpr char kCommand[] = "protected get";
  ItemOptions item;
  if (const int status = ReadItemOptions(kCommand, &options, &item); status != kExitOk) {
    return status;
  }
  const std::string output = options.Value("--out");
  std::string error;
  if (veskar::pki::IsFolder(item.file)) return Failure(kCommand, item.file + " is a folder");
  int failure = 0;
  if (!MayAccess(item.file, false, &failure)) {
    return Failure(kCommand, "cannot read " + item.file + ": " + std::strerror(failure));
  }
  if (!output.empty() && !CheckOutput(output, OutputKind::kSecret, &error)) {
    return Failure(kCommand, error);
  }
  // An item is bytes, often binary, which a terminal would garble.
  if ((output.empty() || GoesToStandardOutput(output)) && StandardOutputIsTerminal()) {
    return UsageError(kCommand,
                      "will not write the item to the terminal: give --out FILE, or send the "
                      "output to a file or a pipe");
  }
  SecretText protection;
  if (!ReadSecret(item.protection, "protection string", false, &protection.text, &error)) {
    return Failure(kCommand, error);
  }
  unsigned int length = 0;
  std::unique_ptr<unsigned char[]> data;
  try {
    data = GetItem(item, protection.text, &length);
  } catch (const std::exception& thrown) {
    return Failure(kCommand, std::string("the library failed: ") + thrown.what());
  }
  if (!data) {
    return Failure(kCommand, "no item '" + item.label + "' in " + item.file +
                                 " opens with that protection string");
  }
  const bool written =
      WriteOutput(output.empty() ? "-" : output, data.get(), length, OutputKind::kSecret, &error);
  OPENSSL_cleanse(data.get(), length);
  if (!written) return Failure(kCommand, error);
  return kExitOk;
}

const Verb kPutVerb = {
    "protected put",
    RunPut,
    {},
    "usage: veskar protected put --file FILE --label LABEL --in DATA\n"
    "                            [--protection-file F | --protection-stdin]\n",
    "Stores the bytes of the file DATA ('-' for standard input) as the item LABEL\n"
    "of the protected-data file FILE, replacing an item of that label; FILE is\n"
    "made, owner-only, when it does not exist. The protection string is the first\n"
    "line of F, or of standard input with --protection-stdin, or is asked for twice\n"
    "on the terminal without echo; it is never an argument. '--in -' needs\n"
    "--protection-file. The item is read back to make sure it was stored: the\n"
    "toolkit does not report a failed write. Empty data cannot be stored (an empty\n"
    "item reads back as a missing one). Exits 0 when stored, 1 when not, 2 on bad\n"
    "usage.\n",
    {kFileOption,
     kLabelOption,
     {"--in", "DATA", "the bytes to store ('-': standard input)"},
     kProtectionFileOption,
     kProtectionStdinOption}};

const Verb kGetVerb = {
    "protected get",
    RunGet,
    {},
    "usage: veskar protected get --file FILE --label LABEL [--out DATA]\n"
    "                            [--protection-file F | --protection-stdin]\n",
    "Writes the item LABEL of the protected-data file FILE to DATA or, without\n"
    "--out or with '--out -', to standard output, which must not be a terminal. A\n"
    "new or replaced DATA file is owner-only; a device, FIFO or link is written\n"
    "through. The protection string comes as for 'put', asked once. A missing item\n"
    "and a wrong protection string look the same, by design: nothing is read, and\n"
    "the command exits 1. Bad usage exits 2.\n",
    {kFileOption,
     kLabelOption,
     {"--out", "DATA", "where the item goes ('-': standard output)"},
     kProtectionFileOption,
     kProtectionStdinOption}};

}  // namespace

const Command kProtectedCommand = {
    "protected",
    "store or fetch an item of a protected-data file",
    nullptr,
    "Stores or fetches the item LABEL of the protected-data file FILE through the\n"
    "CMS toolkit. Each item is sealed with a key derived from its protection\n"
    "string. 'veskar protected put --help' and 'veskar protected get --help' say\n"
    "more.\n",
    {&kPutVerb, &kGetVerb}};

}  // namespace veskar_cli
