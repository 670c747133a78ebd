#ifndef VESKAR_TOOLS_VESKAR_HELP_PAGES_H_
#define VESKAR_TOOLS_VESKAR_HELP_PAGES_H_

// The command's help in the forms other programs read, made from the same
// tables as its --help: the manual page veskar(1) and a bash completion
// script. The build runs the command with these words to make the files it
// installs, so what they say cannot drift from what the command takes.

#include <string>
#include <vector>

#include "command.h"

namespace veskar_cli {

// The words that print them (not shown in the overview: they are for the
// build).
constexpr char kManPageOption[] = "--help-man";
constexpr char kCompletionOption[] = "--help-bash-completion";

// The entry of kSettings called `name`, or null.
const Setting* SettingNamed(const char* name);

// "https_proxy, HTTPS_PROXY": the setting's names as its usage shows them.
std::string SettingLabel(const Setting& setting);

// The manual page, in roff with the man macros: every command and verb with
// its synopsis, text and options, the global options, `overview_notes`
// (what the overview says after its list), the settings, the files, the
// exit statuses and, where it is installed, the served CA's service.
std::string ManPage(const std::vector<const Command*>& commands, const char* overview_notes);

// A bash script that completes the commands, the verbs of each family,
// each verb's options, the values of those that take a word from a list or
// a file or folder name, and the operands a synopsis names.
std::string BashCompletion(const std::vector<const Command*>& commands);

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_HELP_PAGES_H_
