// veskar enroll cms: a CMS enrollment through the library, from a PKCS #10
// request in a file or a key and request made on the spot.

#include <openssl/pem.h>
#include <veskar/cms_agent.h>
#include <veskar/message_ids.h>
#include <veskar/records.h>
#include <veskar/services.h>

#include <cerrno>
#include <cstdio>
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
  unsigned char* encoded = nullptr;
  const int length = i2d_X509_REQ(request, &encoded);
  if (length <= 0) return false;
  der->assign(encoded, encoded + length);
  OPENSSL_free(encoded);
  return true;
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

// The protected-data copy is ENT<hex>.DER; the same name may already be
// taken in the folder it moves to.
bool MoveWithoutReplacing(const std::string& from, const std::string& folder,
                          const std::string& name, std::string* moved_to, int* failure) {
  const std::string stem = name.substr(0, name.size() - 4);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate =
        folder + "/" + (attempt == 0 ? name : stem + "-" + std::to_string(attempt) + ".DER");
    if (HardLink(from, candidate, failure)) {
      *moved_to = candidate;
      return true;
    }
    if (*failure == EEXIST) continue;
    // A file system without hard links gets a copy, which never replaces
    // a file either.
    Bytes content;
    std::string error;
    if (!pki::ReadWholeFile(from, kLargestProtectedCopy, &content, &error, failure)) {
      return false;
    }
    if (pki::WriteFileAtomically(candidate, content.data(), content.size(), 0600,
                                 pki::Overwrite::kNever, &error, failure)) {
      *moved_to = candidate;
      return true;
    }
    if (*failure != EEXIST) return false;
  }
  return false;
}

// After a successful enrollment: moves this run's protected-data copy to
// `chosen` (when not empty) or into the temporary folder the run started
// with, and returns where it went ("" when the library left none). When
// `chosen` cannot be written, the copy still goes to the temporary folder
// and *error says why.
std::string KeepProtectedCopy(const PrivateTempFolder& temp, const std::string& chosen,
                              std::string* error) {
  const std::vector<std::string> copies = temp.Files("ENT", ".DER");
  if (copies.empty()) return "";
  const std::string made = temp.path() + "/" + copies.front();
  if (!chosen.empty()) {
    Bytes content;
    if (pki::ReadWholeFile(made, kLargestProtectedCopy, &content, error) &&
        WriteOutput(chosen, content.data(), content.size(), OutputKind::kSecret, error)) {
      return chosen;
    }
    *error = "the protected copy could not go to " + chosen + " (" + *error + ")";
  }
  std::string moved_to;
  int failure = 0;
  if (MoveWithoutReplacing(made, temp.parent(), copies.front(), &moved_to, &failure)) {
    return moved_to;
  }
  if (error->empty()) {
    *error =
        "the protected copy could not be kept in " + temp.parent() + ": " + pki::ErrnoText(failure);
  }
  return "";
}

class CmsEnrollment : public EnrollmentKind {
 public:
  CmsEnrollment()
      : EnrollmentKind({kCommand, veskar::kServiceCms, "CMS", veskar::kMsgCmsIniFailed, false}) {}

  std::string UsageProblem(const Options& options, const EnrollmentInput& input) override {
    if (const char* missing = options.FirstMissing({"--ca", "--cert"})) {
      return std::string("needs ") + missing;
    }
    key_ = options.Value("--new-key");
    new_key_ = options.Has("--new-key");
    if (new_key_ == options.Has("--request")) {
      return new_key_ ? "takes --request or --new-key, not both"
                      : "needs --request FILE or --new-key FILE";
    }
    if (options.Has("--common-name") && !new_key_) return "--common-name goes with --new-key";
    publish_ = options.Has("--publish");
    if (publish_ && !options.Has("--directory")) return "--publish needs --directory";
    const std::string cert = NormalPath(input.certificate);
    const std::string ca_cert = NormalPath(input.ca_certificate);
    if (new_key_ && (NormalPath(key_) == cert || NormalPath(key_) == ca_cert)) {
      return "--new-key and a certificate name the same file";
    }
    copy_ = options.Value("--protected-copy");
    if (copy_.empty()) return "";
    if (copy_ == "-" || GoesToStandardOutput(copy_)) {
      return "--protected-copy takes a file, not standard output";
    }
    const std::string copy = NormalPath(copy_);
    if ((new_key_ && copy == NormalPath(key_)) || copy == cert || copy == ca_cert) {
      return "--protected-copy names the same file as another output";
    }
    return "";
  }

  int Prepare(const Options& options) override {
    std::string error;
    if ((new_key_ && !CheckOutput(key_, OutputKind::kNewKey, &error)) ||
        (!copy_.empty() && !CheckOutput(copy_, OutputKind::kSecret, &error)) ||
        (!new_key_ && !ReadRequest(options.Value("--request"), &request_, &error))) {
      return Failure(kCommand, error);
    }
    common_name_ =
        options.Has("--common-name") ? options.Value("--common-name") : kDefaultCommonName;
    return kExitOk;
  }

  bool Run(const EnrollmentInput& input, Enrollment* result, std::string* error) override {
    if (new_key_ && !NewKeyAndRequest(key_, common_name_, &request_, error)) return false;
    CQnPMCrtUsrEntCms record("veskar", input.ca.c_str(), input.directory.c_str(),
                             input.code.text.c_str(), input.reference.c_str(), publish_ ? 1 : 0,
                             request_.data(), static_cast<unsigned int>(request_.size()));
    CQnEntCmsPMA agent;
    *result = Enroll(agent, record);
    directory_ = input.directory;
    return true;
  }

  std::string Hint(int message, const EnrollmentInput& /*input*/) override {
    return message == veskar::kMsgCmsLoginFailed
               ? "the toolkit could not log in to the CA at the CA location"
               : "";
  }

  void Undo() override {
    if (new_key_) std::remove(key_.c_str());
  }

  std::string Headline() const override { return "enrolled through the CMS toolkit"; }

  std::string Delivered(const PrivateTempFolder& temp, std::string* error) override {
    std::string more;
    if (new_key_) more += "  key: " + key_ + "\n";
    if (publish_) more += "  published in: " + directory_ + "\n";
    const std::string copy = KeepProtectedCopy(temp, copy_, error);
    if (!copy.empty()) more += "  protected copy: " + copy + "\n";
    return more;
  }

 private:
  bool new_key_ = false;
  bool publish_ = false;
  std::string key_;
  std::string copy_;
  std::string common_name_;
  std::string directory_;
  Bytes request_;
};

int RunEnrollCms(const Options& options) {
  CmsEnrollment kind;
  return RunEnrollment(options, kind);
}

}  // namespace

const Verb kEnrollCmsVerb = {
    kCommand,
    RunEnrollCms,
    "usage: veskar enroll cms --ca DIR [--directory DIR]\n"
    "                         (--reference N | --reference-file F)\n"
    "                         (--code CODE | --code-file FILE)\n"
    "                         (--request FILE | --new-key FILE [--common-name NAME])\n"
    "                         [--publish] --cert FILE [--ca-cert FILE] [--format pem|der]\n"
    "                         [--protected-copy FILE]\n",
    "Enrolls through the CMS toolkit with the reference number and authorisation\n"
    "code the CA's administrator handed out ('veskar ca add-user').\n",
    {kCaOption,
     kDirectoryOption,
     kReferenceOption,
     {"--reference-file", "F",
      "the reference number, from the first line of F ('-':\n"
      "standard input); as it protects the protected-data copy,\n"
      "this keeps it out of the process list"},
     kCodeOption,
     kCodeFileOption,
     {"--request", "FILE", "a PKCS #10 request (PEM or DER) for a key you have"},
     {"--new-key", "FILE",
      "make a new EC P-256 key, written to FILE as owner-only PEM\n"
      "(an existing FILE is never replaced), and a request for it"},
     {"--common-name", "NAME",
      "the name in that request (default \"Veskar User\"); the CA\n"
      "certifies the name it registered, whatever a request says"},
     {"--publish", nullptr, "have the CA publish the certificate in the directory"},
     kCertOption,
     kCaCertOption,
     kFormatOption,
     {"--protected-copy", "FILE", "where the protected-data copy goes (an owner-only file)"}},
    "On success prints the certificate's subject, issuer, serial number and validity\n"
    "(on standard error when a certificate goes to standard output). The library\n"
    "also keeps both certificates in a protected-data file, protected by the\n"
    "reference number: this run's copy goes to --protected-copy, else to an\n"
    "ENT*.DER file in the temporary folder ($TMPDIR, else /tmp), and its name is\n"
    "printed ('veskar protected get' reads it). On failure prints the message\n"
    "number, its text and the toolkit's reason, removes a key it made, and exits 1.\n"
    "Bad usage exits 2. An interrupt (Ctrl-C, SIGTERM) during the enrollment takes\n"
    "effect once its files are all written, or all removed.\n"};

}  // namespace veskar_cli
