// The manual page and the bash completion, from the command's tables.

#include "help_pages.h"

#include <veskar/version.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "pki/environment.h"

namespace veskar_cli {

namespace pki = veskar::pki;

const std::vector<Setting> kSettings = {
    {pki::kEnvCmpMessageTimeout, nullptr, "seconds for one message round trip (default 30)"},
    {pki::kEnvCmpTotalTimeout, nullptr,
     "seconds for a whole enrollment, polling included\n(default 120)"},
    {pki::kEnvCmpTlsCaFile, nullptr,
     "a PEM file of the CAs that https:// servers are\n"
     "verified against (default: the system's trust store)"},
    {pki::kEnvCmpTrustFile, nullptr,
     "a PEM file of trust anchors for answers a CA signs\n"
     "instead of protecting them with the MAC: the signer's\n"
     "certificate must chain to one of them and allow\n"
     "signatures (default none: signed answers are refused)"},
    {pki::kEnvCmpRecipient, nullptr,
     "the recipient name of the requests, as a DN\n"
     "(\"CN=Example CA, O=Example\"; default the empty name)"},
    {pki::kEnvCmpProxy, nullptr,
     "http://HOST:PORT of an HTTP proxy for every CA\n"
     "(https:// tunnelled with CONNECT), over the host's\n"
     "proxy variables below; set but empty: no proxy at all"},
    {pki::kEnvHttpProxy, nullptr,
     "the proxy for http:// CAs (only in lower case;\n"
     "http:// may be left out), when VESKAR_CMP_PROXY is unset"},
    {pki::kEnvHttpsProxy, pki::kEnvHttpsProxyUpper, "the proxy for https:// CAs"},
    {pki::kEnvAllProxy, pki::kEnvAllProxyUpper, "the proxy for either, when those are unset"},
    {pki::kEnvNoProxy, pki::kEnvNoProxyUpper,
     "hosts reached without a proxy, comma-separated:\n"
     "names (each covering its subdomains too) or IP\n"
     "addresses, each with an optional :PORT; * is every host"},
    {pki::kEnvKmpKeyFile, nullptr,
     "a PEM private key to certify for a new IPSec user,\n"
     "instead of a fresh one"},
    {pki::kEnvCaConfirmTimeout, nullptr,
     "seconds a certificate waits for confirmation\n"
     "(default 60)"},
    {pki::kEnvCaIoTimeout, nullptr,
     "seconds a connection may stay without traffic\n"
     "(default 10); a request must be complete\n"
     "within three times that"},
    {kNoStandInsVariable, nullptr,
     "anything but empty or 0: the command uses no\n"
     "stand-in toolkits, as --no-standins"},
#ifndef _WIN32
    {"LD_LIBRARY_PATH", nullptr,
     "folders the loader searches for the library and\n"
     "the toolkits before the system's, when the\n"
     "program starts"},
    {"TMPDIR", nullptr,
     "where the library's temporary files and\n"
     "protected-data copies go (default /tmp)"},
#endif
};

const Setting* SettingNamed(const char* name) {
  const auto found = std::find_if(kSettings.begin(), kSettings.end(), [name](const Setting& s) {
    return std::strcmp(s.name, name) == 0;
  });
  return found != kSettings.end() ? &*found : nullptr;
}

std::string SettingLabel(const Setting& setting) {
  return std::string(setting.name) +
         (setting.other_name ? std::string(", ") + setting.other_name : "");
}

namespace {

// Text as roff reads it literally: backslashes and minus signs escaped, a
// control character at the start of a line defused, and a blank line a new
// paragraph.
std::string Roff(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (line_start && c == '\n') {
      out += ".PP\n";
      continue;
    }
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    line_start = c == '\n';
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

std::string Words(const std::string& text) {
  std::string line = Roff(text);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

std::string OptionTag(const Option& option) {
  return "\\fB" + Words(option.name) + "\\fR" +
         (option.value ? " \\fI" + Words(option.value) + "\\fR" : "");
}

// The synopsis without "usage: ", continuation lines moved as far left.
std::string SynopsisLines(const char* synopsis) {
  constexpr size_t kUsageWidth = sizeof("usage: ") - 1;
  std::istringstream lines(synopsis);
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    text += line.substr(std::min(kUsageWidth, line.size())) + "\n";
  }
  return Roff(text);
}

std::string VerbPage(const Verb& verb) {
  std::string page = ".SS \"veskar " + Words(verb.name) + "\"\n.nf\n" +
                     SynopsisLines(verb.synopsis) + ".fi\n.PP\n" + Roff(verb.about);
  for (const Option& option : verb.options) {
    page += ".TP\n" + OptionTag(option) + "\n" + Roff(option.help);
  }
  if (verb.notes != nullptr) page += ".PP\n" + Roff(verb.notes);
  if (!verb.settings.empty()) {
    std::string names;
    for (const char* name : verb.settings) {
      names += std::string(names.empty() ? "" : ", ") + "\\fB" + Words(name) + "\\fR";
    }
    page += ".PP\nIt reads " + names + " (see ENVIRONMENT).\n";
  }
  return page;
}

std::string CommandPages(const std::vector<const Command*>& commands) {
  std::string page = ".SH COMMANDS\n";
  for (const Command* command : commands) {
    if (command->verb != nullptr) {
      page += VerbPage(*command->verb);
      continue;
    }
    page += ".SS \"veskar " + Words(command->name) + "\"\n" + Roff(command->usage);
    for (const AbsentVerb& absent : command->absent) {
      page += ".PP\n\\fBveskar " + Words(command->name) + " " + Words(absent.word) +
              "\\fR: " + Roff(absent.reason);
    }
    for (const Verb* verb : command->verbs) page += VerbPage(*verb);
  }
  return page;
}

std::string SettingsPage() {
  std::string page =
      std::string(
          ".SH ENVIRONMENT\n"
          "The stand-in toolkits read the VESKAR_CMP_*, proxy and VESKAR_KMP_* settings\n"
          "in the process that uses them (the host's, or the command's), each time\n"
          "they need them; 'veskar ca serve' reads VESKAR_CA_* when it starts. A\n"
          "time-out that is not a whole number of seconds from 1 to ") +
      std::to_string(pki::kMostSeconds) +
      " is warned about,\n"
      "and its default used.\n";
  for (const Setting& setting : kSettings) {
    page += ".TP\n\\fB" + Words(setting.name) + "\\fR" +
            (setting.other_name ? ", \\fB" + Words(setting.other_name) + "\\fR" : "") + "\n" +
            Roff(setting.help);
  }
  return page;
}

std::string FilesPage() {
  std::string page = ".SH FILES\n";
#ifdef VESKAR_STANDIN_INSTALL_DIR
  const std::string folder = VESKAR_STANDIN_INSTALL_DIR;
  const bool flat = VESKAR_STANDIN_INSTALL_FLAT != 0;
  // Two tags over one text.
  for (const char* name : {"cmsapi32", "kmpapi32"}) {
    page += ".TP\n.I " +
            Words(folder + (flat ? "" : std::string("/") + name) + "/lib" + name + ".so") + "\n" +
            (name[0] == 'c' ? ".PD 0\n" : ".PD\n");
  }
  page += Roff(flat ? "The stand-in toolkits, beside the library, where the loader finds them\n"
                      "by name for every host.\n"
                    : "The stand-in toolkits, each in a folder of its own: a host finds them\n"
                      "when that folder is on LD_LIBRARY_PATH, the command by itself.\n");
#endif
  page += ".TP\n\\fIDIR\\fR/ca.pem, \\fIDIR\\fR/ca.key\n" +
          Roff("A CA folder's certificate and its owner-only private key.\n") +
          ".TP\n\\fIDIR\\fR/register.db\n" +
          Roff(
              "The CA's register of users (SQLite): one row a user, with the\n"
              "certificate issued on the user's pair. Several servers and clients may\n"
              "share it.\n") +
          ".TP\n\\fIDIR\\fR/issued/\\fISERIAL\\fR.pem\n" +
          Roff("A copy of each certificate issued, for people.\n") +
          ".TP\n\\fITMPDIR\\fR/ENT*.DER\n" +
          Roff(
              "The protected-data copy each CMS enrollment leaves, protected by the\n"
              "reference number.\n");
  return page;
}

#ifdef VESKAR_SERVICE_UNIT
std::string ServicePage() {
  const std::string state = VESKAR_SERVICE_STATE_DIR;
  const std::string config = VESKAR_SERVICE_CONFIG_DIR;
  return ".SH SERVICE\n" +
         Roff("The systemd unit veskar-ca@NAME.service serves the CA in the folder " + state +
              "/NAME with 'veskar ca serve', as the system user " VESKAR_SERVICE_USER
              ", under the usual hardening (a read-only system, no privileges, private\n"
              "temporary files). Its first start makes the CA there. " +
              config +
              "/NAME.env, when it exists, may set LISTEN (ADDRESS:PORT, default\n"
              "127.0.0.1:8080), CA_NAME (the subject of the CA its first start makes,\n"
              "as 'veskar ca init --name' takes it) and the server's settings above.\n"
              "Users are registered as the service's user. For example, a CA called\n"
              "main on every address of the machine:\n") +
         ".PP\n.RS\n.nf\n" +
         Roff("echo LISTEN=0.0.0.0:8080 > " + config +
              "/main.env\n"
              "systemctl enable --now veskar-ca@main\n"
              "runuser -u " VESKAR_SERVICE_USER " -- veskar ca add-user " +
              state + "/main \"CN=Alice Example\"\n") +
         ".fi\n.RE\n.TP\n.I " + Words(VESKAR_SERVICE_UNIT) + "\n" + Roff("The unit.\n") + ".TP\n" +
         Words(config) + "/\\fINAME\\fR.env\n" + Roff("An instance's settings.\n") + ".TP\n" +
         Words(state) + "/\\fINAME\\fR\n" +
         Roff("An instance's CA folder. Removing the package leaves it.\n");
}
#endif

}  // namespace

std::string ManPage(const std::vector<const Command*>& commands, const char* overview_notes) {
  std::string page =
      ".\\\" The veskar command's manual page, made by the command from the tables\n"
      ".\\\" that print its --help.\n"
      ".TH VESKAR 1 \"\" \"Veskar " VESKAR_PRODUCT_VERSION
      "\" \"User Commands\"\n"
      ".nh\n"
      ".SH NAME\n"
      "veskar \\- enroll users for certificates through the Veskar library, and run a local CA\n"
      ".SH SYNOPSIS\n"
#ifndef _WIN32
      ".B veskar\n[\\fB\\-\\-no\\-standins\\fR] \\fIcommand\\fR [\\fIarguments\\fR]\n"
#else
      ".B veskar\n\\fIcommand\\fR [\\fIarguments\\fR]\n"
#endif
      ".br\n.B veskar help\n.I command\n"
      ".br\n.B veskar \\-\\-help\n"
      ".SH DESCRIPTION\n"
      "\\fBveskar\\fR is a host of the Veskar library, as a person tries it from a shell.\n"
      "The library obtains user certificates through two optional toolkits it loads\n"
      "by name when it starts; Veskar's own stand-ins for them enroll over the\n"
      "Certificate Management Protocol. The commands:\n";
  for (const Command* command : commands) {
    page += ".TP\n\\fB" + Words(command->name) + "\\fR\n" + Roff(command->summary);
  }
  page += ".PP\n" + Roff(std::string(overview_notes).substr(1)) + CommandPages(commands) +
          ".SH OPTIONS\n"
          ".TP\n\\fB\\-\\-help\\fR, \\fB\\-h\\fR\n" +
          Roff(
              "Anywhere on a command's line, describes that command; alone, lists the\n"
              "commands.\n") +
          ".TP\n\\fB\\-\\-version\\fR\n" +
          Roff("Prints the version record, as 'veskar version'.\n");
#ifndef _WIN32
  page += ".TP\n\\fB\\-\\-no\\-standins\\fR\n" +
          Roff(
              "Before the command: use no stand-in toolkit for a toolkit the loader\n"
              "does not find.\n");
#endif
  page += SettingsPage() + FilesPage();
#ifdef VESKAR_SERVICE_UNIT
  page += ServicePage();
#endif
  page += ".SH \"EXIT STATUS\"\n.TP\n" + std::to_string(kExitOk) + "\n" + Roff("Success.\n") +
          ".TP\n" + std::to_string(kExitFailure) + "\n" +
          Roff("The operation ran and failed; the command says why.\n") + ".TP\n" +
          std::to_string(kExitUsage) + "\n" + Roff("Bad usage.\n") +
          ".SH \"SEE ALSO\"\n\\fBopenssl\\fR(1)"
#ifdef VESKAR_SERVICE_UNIT
          ", \\fBsystemctl\\fR(1), \\fBsystemd.exec\\fR(5)"
#endif
          "\n";
  return page;
}

namespace {

// How the shell completes a value named `placeholder` in a synopsis or an
// option: a word of a list ("pem|der"), a folder, a file, or nothing.
std::string ValueKind(const std::string& placeholder) {
  const bool words = std::none_of(placeholder.begin(), placeholder.end(),
                                  [](unsigned char c) { return std::isupper(c); });
  if (words) {
    std::string list = "w:" + placeholder;
    std::replace(list.begin(), list.end(), '|', ':');
    return list;
  }
  const std::string first = placeholder.substr(0, placeholder.find('|'));
  if (first == "DIR") return "dir";
  if (first == "FILE" || first == "F" || first == "DATA") return "file";
  return "text";
}

const Option* FindOption(const Verb& verb, const std::string& name) {
  for (const Option& option : verb.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// What each operand a verb's synopsis names is, by position; a position
// that alternative lines give different words ("encode", "decode") takes
// any of them.
std::vector<std::string> OperandKinds(const Verb& verb) {
  std::vector<std::string> kinds;
  // A line that names the verb starts an alternative; others go on with it.
  const std::string start = std::string("veskar ") + verb.name;
  std::istringstream lines(verb.synopsis);
  size_t position = 0;
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(start);
    const size_t end = at + start.size();
    if (at != std::string::npos && (end == line.size() || line[end] == ' ')) {
      line.erase(0, end);
      position = 0;
    }
    for (char& c : line) {
      if (std::strchr("[]()", c) != nullptr) c = ' ';
    }
    std::istringstream tokens(line);
    for (std::string token; tokens >> token;) {
      if (token == "|") continue;
      if (token[0] == '-') {
        const Option* option = FindOption(verb, token);
        if (option != nullptr && option->value != nullptr) tokens >> token;
        continue;
      }
      const std::string kind = ValueKind(token);
      if (position == kinds.size()) {
        kinds.push_back(kind);
      } else if (kind.rfind("w:", 0) == 0 && kinds[position].rfind("w:", 0) == 0) {
        kinds[position] += kind.substr(1);
      }
      ++position;
    }
  }
  return kinds;
}

std::string Quoted(const std::string& word) { return "'" + word + "'"; }

std::string VerbCase(const Verb& verb) {
  std::string options;
  for (const Option& option : verb.options) {
    options += " " + Quoted(option.name + (option.value ? "=" + ValueKind(option.value) : ""));
  }
  std::string operands;
  for (const std::string& kind : OperandKinds(verb)) operands += " " + Quoted(kind);
  return "    " + Quoted(verb.name) + ") _veskar_options=(" +
         options.substr(options.empty() ? 0 : 1) + "); _veskar_operands=(" +
         operands.substr(operands.empty() ? 0 : 1) + ") ;;\n";
}

// The completion's logic; the tables' data goes into the functions
// _veskar_family and _veskar_verb before it.
constexpr char kCompletionLogic[] = R"(
# Completes the values of kind $1 for the word $cur: a word of a list
# (w:pem:der), a folder, a file, or nothing.
_veskar_values() {
  case $1 in
    dir) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")) ;;
    file) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
    w:*) local list=${1#w:}; COMPREPLY=($(compgen -W "${list//:/ }" -- "$cur")) ;;
    *) COMPREPLY=() ;;
  esac
}

_veskar() {
  COMPREPLY=()
  local cur=${COMP_WORDS[COMP_CWORD]} i
  # The words before the current one, '--name=VALUE' read as '--name VALUE'.
  local -a words=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == = ]] || words+=("${COMP_WORDS[i]}")
  done
  [[ $cur == = ]] && cur=""
  if [[ ${words[0]-} == --no-standins ]]; then words=("${words[@]:1}"); fi
  if [[ ${words[0]-} == help ]]; then
    words=("${words[@]:1}")
    if ((${#words[@]} == 0)); then
      COMPREPLY=($(compgen -W "$_veskar_commands" -- "$cur"))
    elif ((${#words[@]} == 1)) && _veskar_family "${words[0]}"; then
      COMPREPLY=($(compgen -W "$_veskar_verbs" -- "$cur"))
    fi
    return 0
  fi
  if ((${#words[@]} == 0)); then
    local first="$_veskar_commands --help --version"
    ((COMP_CWORD == 1)) && first+=" --no-standins"
    COMPREPLY=($(compgen -W "$first" -- "$cur"))
    return 0
  fi
  local verb=${words[0]} given=1
  if _veskar_family "$verb"; then
    if ((${#words[@]} == 1)); then
      COMPREPLY=($(compgen -W "$_veskar_verbs --help" -- "$cur"))
      return 0
    fi
    verb+=" ${words[1]}"
    given=2
  fi
  local -a _veskar_options=() _veskar_operands=()
  _veskar_verb "$verb" || return 0
  local entry last=${words[${#words[@]} - 1]}
  if ((${#words[@]} > given)); then
    for entry in "${_veskar_options[@]}"; do
      if [[ $entry == "$last="* ]]; then
        _veskar_values "${entry#*=}"
        return 0
      fi
    done
  fi
  if [[ $cur == -?* ]]; then
    COMPREPLY=($(compgen -W "${_veskar_options[*]%%=*} --help" -- "$cur"))
    return 0
  fi
  # The operand at the cursor: the plain words after the verb, less the
  # options' values.
  local count=0 skip=0 word
  for word in "${words[@]:given}"; do
    if ((skip)); then
      skip=0
    elif [[ $word == -?* ]]; then
      for entry in "${_veskar_options[@]}"; do
        [[ $entry == "$word="* ]] && skip=1
      done
    else
      count=$((count + 1))
    fi
  done
  if ((count < ${#_veskar_operands[@]})); then
    _veskar_values "${_veskar_operands[count]}"
  fi
  return 0
}
complete -F _veskar veskar
)";

}  // namespace

std::string BashCompletion(const std::vector<const Command*>& commands) {
  std::string names;
  std::string families;
  std::string verbs;
  for (const Command* command : commands) {
    names += std::string(names.empty() ? "" : " ") + command->name;
    if (command->verb != nullptr) {
      verbs += VerbCase(*command->verb);
      continue;
    }
    std::string words;
    for (const Verb* verb : command->verbs) {
      words += std::string(words.empty() ? "" : " ") + (std::strchr(verb->name, ' ') + 1);
      verbs += VerbCase(*verb);
    }
    families += "    " + Quoted(command->name) + ") _veskar_verbs=" + Quoted(words) + " ;;\n";
  }
  return "# bash completion for veskar, made by the command from the tables that print\n"
         "# its --help.\n\n"
         "_veskar_commands=" +
         Quoted(names) +
         "\n\n"
         "# The verbs of the family $1 in _veskar_verbs; false for a single command.\n"
         "_veskar_family() {\n  case $1 in\n" +
         families +
         "    *) return 1 ;;\n  esac\n}\n\n"
         "# The options of the verb $1 (NAME, or NAME=KIND for one that takes a\n"
         "# value) and the kinds of its operands; false for none.\n"
         "_veskar_verb() {\n  case $1 in\n" +
         verbs + "    *) return 1 ;;\n  esac\n}\n" + kCompletionLogic;
}

}  // namespace veskar_cli
