#ifndef VESKAR_CA_USER_REGISTER_H_
#define VESKAR_CA_USER_REGISTER_H_

#include <string>
#include <vector>

namespace veskar::ca {

// One user an administrator authorised to enroll once.
struct RegisteredUser {
  int reference_number = 0;                // 1 to INT_MAX, unique in the register
  std::string authorisation_code;          // as handed out, e.g. "K7QM-3XRD-WP9A"
  std::string subject;                     // the name to certify, in pki::NameText form
  bool used = false;                       // an enrollment consumed the pair
  bool held = false;                       // a certificate for the pair awaits its confirmation
  std::string serial;                      // the issued certificate's serial (hex), once used
  std::vector<unsigned char> certificate;  // its DER, where the register gave it
};

// The register file of earlier versions (register.txt), read once to move
// it into the database: a comment line, then one user a line,
//   reference<TAB>code<TAB>pending|used<TAB>serial or -<TAB>subject
// The subject comes last because it is the only field that may hold blanks;
// NameText escapes control characters, so it never holds a tab or line break.
std::string FormatRegister(const std::vector<RegisteredUser>& users);

// Reads FormatRegister's text back. Fails, naming the line, on anything else.
bool ParseRegister(const std::string& text, std::vector<RegisteredUser>* users, std::string* error);

// Reads a reference number as given by a user: decimal digits only (leading
// zeros allowed), 1 to INT_MAX.
bool ParseReferenceNumber(const std::string& text, int* number);

// A new authorisation code: twelve characters from an alphabet without the
// look-alikes 0/O and 1/I/L, in groups of four ("K7QM-3XRD-WP9A"), drawn with
// RAND_bytes (about 59 bits). Empty when the random generator fails.
std::string NewAuthorisationCode();

// A new eight-digit reference number, drawn at random (the register sees
// that it is not taken); 0 when the random generator fails.
int NewReferenceNumber();

// Compares a code a user typed with the registered one, ignoring case,
// blanks and dashes, in time independent of where they differ.
bool AuthorisationCodesMatch(const std::string& typed, const std::string& registered);

}  // namespace veskar::ca

#endif  // VESKAR_CA_USER_REGISTER_H_
