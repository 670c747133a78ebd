// The manual page and the bash completion the command prints for the build:
// what --help says, the page says, and the shell completes.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "command_runner.h"
#include "test_pki.h"

namespace veskar_cli {
namespace {

using veskar::toolkit_test::ScratchDir;
using veskar::toolkit_test::WriteFile;

std::vector<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

// The page's text as it reads, without roff's font changes and escapes.
std::string Unroffed(std::string page) {
  page = std::regex_replace(page, std::regex(R"(\\f[BIR])"), "");
  page = std::regex_replace(page, std::regex(R"(\\&)"), "");
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  return std::regex_replace(page, std::regex(R"(\\e)"), "\\");
}

// The part of the page under the heading `name`.
std::string Section(const std::string& page, const std::string& name) {
  const size_t start = page.find(".SH " + name + "\n");
  if (start == std::string::npos) return "";
  return page.substr(start, page.find("\n.SH ", start + 1) - start);
}

// Every verb the command's help names ("services", "ca init"), by asking it.
std::vector<std::string> VerbsFromHelp() {
  std::vector<std::string> verbs;
  const std::string overview = RunVeskar({"--help"}).out;
  for (const std::string& name : Matches(overview, std::regex(R"(\n  ([a-z0-9]+) )"))) {
    const std::string usage = RunVeskar({name, "--help"}).out;
    const std::vector<std::string> family =
        Matches(usage, std::regex("(?:usage: |\n       )veskar " + name + " ([a-z-]+)"));
    const bool has_verbs = !family.empty() && name != "base64";
    if (!has_verbs) verbs.push_back(name);
    for (const std::string& verb : has_verbs ? family : std::vector<std::string>{}) {
      verbs.push_back(name + " " + verb);
    }
  }
  return verbs;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(HelpPagesTest, ManualPageSaysWhatHelpSays) {
  const CommandResult man = RunVeskar({"--help-man"});
  ASSERT_EQ(man.exit_status, 0) << man.err;
  const std::string page = Unroffed(man.out);
  EXPECT_NE(page.find("\n.TH VESKAR 1 "), std::string::npos);
  const std::vector<std::string> verbs = VerbsFromHelp();
  ASSERT_GE(verbs.size(), 12u);  // services ... protected get, the CA's serve among them
  for (const std::string& verb : verbs) {
    SCOPED_TRACE(verb);
    std::vector<std::string> args = Words(verb);
    args.push_back("--help");
    const std::string usage = RunVeskar(args).out;
    const size_t at = page.find(".SS \"veskar " + verb + "\"\n");
    ASSERT_NE(at, std::string::npos);
    const std::string entry = page.substr(at, page.find("\n.SS ", at + 1) - at);
    // The synopsis, word for word, and every option with its value's name.
    const std::string synopsis = usage.substr(0, usage.find("\n\n"));
    EXPECT_EQ(Words(std::regex_replace(synopsis, std::regex("usage:"), "")),
              Words(entry.substr(entry.find(".nf\n") + 4,
                                 entry.find(".fi\n") - entry.find(".nf\n") - 4)));
    for (const std::string& option : Matches(usage, std::regex(R"(\n  (--[a-z-]+(?: \S+)?))"))) {
      EXPECT_NE(entry.find(".TP\n" + option + "\n"), std::string::npos) << option;
    }
  }
  // Each setting the stand-ins and their CA read, as their code names them.
  std::ifstream source(VESKAR_SOURCE_DIR "/pki/environment.h");
  const std::string names((std::istreambuf_iterator<char>(source)), {});
  const std::vector<std::string> settings =
      Matches(names, std::regex(R"re(constexpr char kEnv\w+\[\] = "(\w+)";)re"));
  ASSERT_GE(settings.size(), 10u);
  const std::string environment = Section(page, "ENVIRONMENT");
  for (const std::string& setting : settings) {
    // A tag of its own, or one of two names.
    EXPECT_TRUE(std::regex_search(environment, std::regex("\n(\\w+, )?" + setting + "(, \\w+)?\n")))
        << setting;
  }
  EXPECT_NE(environment.find("\nVESKAR_NO_STANDINS\n"), std::string::npos);
  EXPECT_FALSE(Section(page, "FILES").empty());

  // The served CA's settings, from the same table, under its usage.
  const std::string serve = RunVeskar({"ca", "serve", "--help"}).out;
  EXPECT_NE(serve.find("\nEnvironment:\n  VESKAR_CA_CONFIRM_TIMEOUT  seconds a certificate waits "
                       "for confirmation\n                             (default 60)\n"
                       "  VESKAR_CA_IO_TIMEOUT       seconds a connection"),
            std::string::npos)
      << serve;
  EXPECT_EQ(RunVeskar({"--help-man", "x"}).exit_status, 2);
}

// What bash offers for the words typed so far (the last one being
// completed), with the script the command printed.
std::string Completed(const std::string& script, const std::vector<std::string>& typed,
                      const std::string& folder) {
  std::string words;
  for (const std::string& word : typed) words += " '" + word + "'";
  const std::string command = "cd '" + folder + "' && bash --norc -c 'source \"$0\"; COMP_WORDS=(" +
                              std::regex_replace(words, std::regex("'"), "'\\''") +
                              "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _veskar; "
                              "echo \"${COMPREPLY[*]}\"' '" +
                              script + "'";
  std::FILE* shell = popen(command.c_str(), "r");
  if (shell == nullptr) return "(no shell)";
  std::string out;
  char buffer[512];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, shell)) > 0;)
    out.append(buffer, got);
  pclose(shell);
  return out;
}

TEST(HelpPagesTest, CompletionOffersWhatTheTablesHold) {
  const CommandResult printed = RunVeskar({"--help-bash-completion"});
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  ScratchDir scratch;
  const std::string script = scratch.File("veskar.bash");
  WriteFile(script, printed.out);
  WriteFile(scratch.File("request.der"), "x");
  std::filesystem::create_directory(scratch.File("a-folder"));
  WriteFile(scratch.File("a-file"), "x");
  struct Case {
    std::vector<std::string> typed;
    const char* offered;
  };
  const Case cases[] = {
      {{"veskar", "p"}, "protected\n"},
      {{"veskar", "--no-standins", "ca", ""}, "init add-user list serve --help\n"},
      {{"veskar", "enroll", "cms", "--format", ""}, "pem der\n"},
      {{"veskar", "enroll", "cms", "--format", "=", "d"}, "der\n"},
      {{"veskar", "enroll", "ipsec", "--password-"}, "--password-file --password-stdin\n"},
      {{"veskar", "enroll", "cms", "--request", "req"}, "request.der\n"},
      {{"veskar", "base64", ""}, "encode decode\n"},
      {{"veskar", "base64", "decode", "--tolerant", "req"}, "request.der\n"},
      {{"veskar", "ca", "init", "a"}, "a-folder\n"},  // folders only
      {{"veskar", "ca", "add-user", "a-folder", ""}, "\n"},
      {{"veskar", "help", "enroll", ""}, "cms ipsec\n"},
  };
  for (const Case& c : cases) {
    std::string typed;
    for (const std::string& word : c.typed) typed += word + " ";
    EXPECT_EQ(Completed(script, c.typed, scratch.path()), c.offered) << typed;
  }
}

}  // namespace
}  // namespace veskar_cli
