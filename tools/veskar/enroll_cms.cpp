// veskar enroll cms: a CMS enrollment through the library, from a PKCS #10
// request in a file or a key and request made on the spot.

#include <openssl/pem.h>
#include <veskar/cms_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/services.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "enroll.h"

namespace veskar_cli {
namespace {

constexpr char kCommand[] = "enroll cms";
constexpr char kDefaultCommonName[] = "Veskar User";
constexpr size_t kLargestProtectedCopy = 64 * 1024 * 1024;
constexpr size_t kMaxRequestFile = 64 * 1024;

namespace pki = veskar::pki;

bool RequestDer(X509_REQ* request, Bytes* der) {
  *der = pki::Encoded(request, i2d_X509_REQ);
  return !der->empty();
}

// Reads the PKCS #10 request in `path`, PEM or DER, into *der.
bool ReadRequest(const std::string& path, Bytes* der, std::string* error) {
  Bytes content;
  if (!pki::ReadWholeFile(path, kMaxRequestFile, &content, error)) return false;
  pki::X509ReqPtr request = pki::RequestFromBytes(content.data(), content.size());
  pki::TakeOpensslError();
  if (!request || !RequestDer(request.get(), der)) {
    *error = path + " holds no PKCS #10 request (PEM or DER)";
    return false;
  }
  return true;
}

// Makes a fresh EC P-256 key, writes it to `key_path` as unencrypted PKCS #8
// PEM in a new owner-only file, and fills *der with a request for it, named
// CN=`common_name` and signed by it. Fails with *error, leaving no key file.
bool NewKeyAndRequest(const std::string& key_path, const std::string& common_name, Bytes* der,
                      std::string* error) {
  pki::EvpPkeyPtr key = pki::NewEcKey();
  pki::X509ReqPtr request(X509_REQ_new());
  X509_NAME* name = request ? X509_REQ_get_subject_name(request.get()) : nullptr;
  const bool made =
      key && name != nullptr && X509_REQ_set_version(request.get(), X509_REQ_VERSION_1) == 1 &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(common_name.c_str()), -1,
                                 -1, 0) == 1 &&
      X509_REQ_set_pubkey(request.get(), key.get()) == 1 &&
      X509_REQ_sign(request.get(), key.get(), EVP_sha256()) > 0 && RequestDer(request.get(), der);
  if (!made) {
    *error = "cannot make a key and request: " + CryptoError();
    return false;
  }
  // The key's PEM text lives in secure memory, wiped when the BIO goes.
  pki::BioPtr pem(BIO_new(BIO_s_secmem()));
  if (!pem ||
      PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    *error = "cannot encode the new key: " + CryptoError();
    return false;
  }
  char* text = nullptr;
  const long text_length = BIO_get_mem_data(pem.get(), &text);
  return WriteOutput(key_path, text, static_cast<size_t>(text_length > 0 ? text_length : 0),
                     OutputKind::kNewKey, error);
}

// The file `name` in `folder`, with the system's separator.
std::string InFolder(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

// After a successful enrollment: copies this run's protected-data copy to
// `chosen` (when not empty) or into the temporary folder the run started
// with, and returns where it went ("" when the library left none). When
// `chosen` cannot be written, the copy still goes to the temporary folder
// and *error says why.
std::string KeepProtectedCopy(const PrivateTempFolder& temp, const std::string& chosen,
                              std::string* error) {
  const std::vector<std::string> copies = temp.Files("ENT", ".DER");
  if (copies.empty()) return "";
  Bytes content;
  int failure = 0;
  if (!pki::ReadWholeFile(InFolder(temp.path(), copies.front()), kLargestProtectedCopy, &content,
                          error, &failure)) {
    *error = "the protected copy could not be kept: " + *error;
    return "";
  }
  if (!chosen.empty()) {
    if (WriteOutput(chosen, content.data(), content.size(), OutputKind::kSecret, error)) {
      return chosen;
    }
    *error = "the protected copy could not go to " + chosen + " (" + *error + ")";
  }
  // The copy is ENT<hex>.DER; the same name may already be taken there, and
  // is never replaced.
  const std::string stem = copies.front().substr(0, copies.front().size() - 4);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = InFolder(
        temp.parent(), stem + (attempt == 0 ? "" : "-" + std::to_string(attempt)) + ".DER");
    std::string ignored;
    if (pki::WriteFileAtomically(candidate, content.data(), content.size(), 0600,
                                 pki::Overwrite::kNever, &ignored, &failure)) {
      return candidate;
    }
    if (failure != EEXIST) break;
  }
  if (error->empty()) {
    *error =
        "the protected copy could not be kept in " + temp.parent() + ": " + pki::ErrnoText(failure);
  }
  return "";
}

// What a CMS enrollment writes besides the certificates.
struct CmsOutputs {
  bool new_key = false;
  std::string key;  // the --new-key file
  bool publish = false;
  std::string copy;  // the --protected-copy file, "" for none
};

// The shared usage checks, with the pair needed, then its own: "" or what is
// wrong.
std::string UsageProblem(const Options& options, EnrollmentInput* input, CmsOutputs* out) {
  const std::string shared = ReadEnrollmentOptions(options, false, input);
  if (!shared.empty()) return shared;
  if (const char* missing = options.FirstMissing({"--ca", "--cert"})) {
    return std::string("needs ") + missing;
  }
  out->key = options.Value("--new-key");
  out->new_key = options.Has("--new-key");
  if (out->new_key == options.Has("--request")) {
    return out->new_key ? "takes --request or --new-key, not both"
                        : "needs --request FILE or --new-key FILE";
  }
  if (options.Has("--common-name") && !out->new_key) return "--common-name goes with --new-key";
  out->publish = options.Has("--publish");
  if (out->publish && !options.Has("--directory")) return "--publish needs --directory";
  const std::string cert = NormalPath(input->certificate);
  const std::string ca_cert = NormalPath(input->ca_certificate);
  const std::string key = out->new_key ? NormalPath(out->key) : "";
  if (out->new_key && (key == cert || key == ca_cert)) {
    return "--new-key and a certificate name the same file";
  }
  out->copy = options.Value("--protected-copy");
  if (out->copy.empty()) return "";
  if (out->copy == "-" || GoesToStandardOutput(out->copy)) {
    return "--protected-copy takes a file, not standard output";
  }
  const std::string copy = NormalPath(out->copy);
  if ((out->new_key && copy == key) || copy == cert || copy == ca_cert) {
    return "--protected-copy names the same file as another output";
  }
  return "";
}

int RunEnrollCms(const Options& options) {
  EnrollmentInput input;
  CmsOutputs out;
  if (const std::string problem = UsageProblem(options, &input, &out); !problem.empty()) {
    return UsageError(kCommand, problem);
  }
  if (const int status = CheckBeforeEnrolling(kCommand, veskar::kServiceCms, options, &input);
      status != kExitOk) {
    return status;
  }
  std::string error;
  Bytes request;
  if ((out.new_key && !CheckOutput(out.key, OutputKind::kNewKey, &error)) ||
      (!out.copy.empty() && !CheckOutput(out.copy, OutputKind::kSecret, &error)) ||
      (!out.new_key && !ReadRequest(options.Value("--request"), &request, &error)) ||
      !ReadPair(kCommand, options, &input, &error)) {
    return Failure(kCommand, error);
  }
  const std::string common_name = options.Value("--common-name", kDefaultCommonName);

  // From here on an interrupt waits until everything is written, or the
  // pair is still unused.
  const HeldSignals held;
  PrivateTempFolder temp;
  if (!temp.Make(&error) ||
      (out.new_key && !NewKeyAndRequest(out.key, common_name, &request, &error))) {
    return Failure(kCommand, error);
  }
  CQnPMCrtUsrEntCms record("veskar", input.ca.c_str(), input.directory.c_str(),
                           input.code.text.c_str(), input.reference.c_str(), out.publish ? 1 : 0,
                           request.data(), static_cast<unsigned int>(request.size()));
  CQnEntCmsPMA agent;
  const Enrollment enrollment = Enroll(agent, record);
  if (enrollment.failed()) {
    if (out.new_key) std::remove(out.key.c_str());
    return ReportFailure(kCommand, "CMS", veskar::kMsgCmsIniFailed, enrollment, temp,
                         enrollment.message == veskar::kMsgCmsLoginFailed
                             ? "the toolkit could not log in to the CA at the CA location"
                             : "");
  }
  std::string more;
  if (out.new_key) more += "  key: " + out.key + "\n";
  if (out.publish) more += "  published in: " + input.directory + "\n";
  const std::string copy = KeepProtectedCopy(temp, out.copy, &error);
  if (!copy.empty()) more += "  protected copy: " + copy + "\n";
  const int status =
      ReportSuccess(kCommand, "enrolled through the CMS toolkit", enrollment, input, more);
  return error.empty() ? status : Failure(kCommand, error);
}

constexpr Option kReferenceFileOption = {
    "--reference-file", "F",
    "the reference number, from the first line of F ('-':\n"
    "standard input); as it protects the protected-data copy,\n"
    "this keeps it out of the process list"};
constexpr Option kRequestOption = {"--request", "FILE",
                                   "a PKCS #10 request (PEM or DER) for a key you have"};
constexpr Option kNewKeyOption = {"--new-key", "FILE",
                                  "make a new EC P-256 key, written to FILE as owner-only PEM\n"
                                  "(an existing FILE is never replaced), and a request for it"};
constexpr Option kCommonNameOption = {"--common-name", "NAME",
                                      "the name in that request (default \"Veskar User\"); the CA\n"
                                      "certifies the name it registered, whatever a request says"};
constexpr Option kPublishOption = {"--publish", nullptr,
                                   "have the CA publish the certificate in the directory"};
constexpr Option kProtectedCopyOption = {"--protected-copy", "FILE",
                                         "where the protected-data copy goes (an owner-only file)"};
}  // namespace

const Verb kEnrollCmsVerb = {
    kCommand,
    RunEnrollCms,
    {},
    "usage: veskar enroll cms --ca DIR [--directory DIR]\n"
    "                         (--reference N | --reference-file F)\n"
    "                         (--code CODE | --code-file FILE)\n"
    "                         (--request FILE | --new-key FILE [--common-name NAME])\n"
    "                         [--publish] --cert FILE [--ca-cert FILE] [--format pem|der]\n"
    "                         [--protected-copy FILE]\n",
    "Enrolls through the CMS toolkit with the reference number and authorisation\n"
    "code the CA's administrator handed out ('veskar ca add-user').\n",
    {kCaOption, kDirectoryOption, kReferenceOption, kReferenceFileOption, kCodeOption,
     kCodeFileOption, kRequestOption, kNewKeyOption, kCommonNameOption, kPublishOption, kCertOption,
     kCaCertOption, kFormatOption, kProtectedCopyOption},
    "On success prints the certificate's subject, issuer, serial number and validity\n"
    "(on standard error when a certificate goes to standard output). The library\n"
    "also keeps both certificates in a protected-data file, protected by the\n"
    "reference number: this run's copy goes to --protected-copy, else to an\n"
    "ENT*.DER file in the temporary folder ($TMPDIR, else /tmp; on Windows %TMP%,\n"
    "else %TEMP%), and its name is printed ('veskar protected get' reads it). On\n"
    "failure prints the message number, its text and the toolkit's reason, removes\n"
    "a key it made, and exits 1. Bad usage exits 2. An interrupt (Ctrl-C, SIGTERM)\n"
    "during the enrollment takes effect once its files are all written, or all\n"
    "removed.\n"};

}  // namespace veskar_cli
