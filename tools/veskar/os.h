#ifndef VESKAR_TOOLS_VESKAR_OS_H_
#define VESKAR_TOOLS_VESKAR_OS_H_

// Everything the command asks of the operating system, so that no other file
// of it includes a system header: os_posix.cpp (Linux), and os_win32.cpp
// with os_win32_pki_verbs.cpp, the second part, built with the PKI verbs.
// Both implement all of it but the server's stop signals, which only the
// builds that serve the CA (Linux) have.

#include <memory>
#include <string>
#include <vector>

#include "command.h"

namespace veskar_cli {

// ---- Everywhere: the library and its toolkits.

// The file the library was loaded from, "" when the system does not say.
std::string LoadedLibraryFile();

// Makes standard input and output carry bytes exactly (Windows' text mode
// turns LF into CR LF and stops reading at a Ctrl-Z).
void UseBinaryStandardStreams();

// Lets the command use the stand-in toolkits it was built or installed with
// when a toolkit is missing from the loader's search path (POSIX; on
// Windows the DLL search already looks beside veskar.exe, where a package
// puts the stand-ins, and this does nothing). The library loads
// the toolkits before main runs, so the search path must be right when the
// process starts: when the service mask lacks a toolkit whose stand-in is
// found (and not yet on LD_LIBRARY_PATH), this appends that stand-in's folder
// to LD_LIBRARY_PATH and executes the program again with the same `argv`,
// once. A toolkit already on the search path keeps precedence. Returns when
// nothing was to be done, the search is turned off (`disabled`, or
// kNoStandInsVariable set), or the program could not be executed again.
void UseStandInToolkits(char** argv, bool disabled);

// The folder holding the stand-in `file` ("libcmsapi32.so"), or "" when none
// is there. Looks in the install folder relative to the executable first,
// then the build tree (only for a command running from it), then the
// configured install folder. Each stand-in has a folder of its own, unless
// the build installs them beside the library (then that folder holds both).
// On Windows: the executable's own folder, then the build tree's.
std::string StandInFolder(const char* file);

// What a user does to have the stand-in in `folder` loaded ("run with
// LD_LIBRARY_PATH=..."), "" when the loader already looks there.
std::string StandInAdvice(const std::string& folder);

// True when the copy of `toolkit` the library loaded is the stand-in: the
// file in StandInFolder.
bool StandInLoaded(const Toolkit& toolkit);

// Looks at the copy of `toolkit` the library loaded, without loading
// another: false when none is loaded, else the file it came from in *path
// (absolute when it can be had) and the entry points it lacks in *missing
// ("CMSLogin, CMSLogout"; "" for none). 32-bit Windows looks for the
// decorated names.
bool InspectLoadedToolkit(const Toolkit& toolkit, std::string* path, std::string* missing);

// The entry point `entry` of the copy of `toolkit` the library loaded
// (32-bit Windows looks for the decorated name); null when that copy or the
// entry point is not there. Never loads a copy.
void* LoadedToolkitEntry(const Toolkit& toolkit, const EntryName& entry);

// Why the loader does not give us `file`, in its own words.
std::string WhyNotLoaded(const char* file);

// ---- The verbs that need OpenSSL. Those that fail give an errno value
// (on Windows, the nearest one to the system's error).

// True when `path` is the same file as the command's standard output.
bool IsStandardOutput(const std::string& path);

// Whether this user may write in (`write`) or read `path`.
bool MayAccess(const std::string& path, bool write, int* error_number);

// Makes and removes a file in `folder`; 0 when that works, else the errno
// value that stopped it.
int TryMakingAFileIn(const std::string& folder);

// Opens an existing file (a device, a FIFO) for writing, without making it
// the controlling terminal; -1 with errno on failure. The caller closes it.
int OpenForWriting(const std::string& path);

// Standard output's descriptor, carrying bytes unchanged from now on (on
// Windows it leaves text mode).
int StandardOutputFd();
bool StandardInputIsTerminal();
bool StandardOutputIsTerminal();

// Holds back the signals that end a run from the keyboard or from another
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT; on Windows the console's
// Ctrl-C, Ctrl-Break and close) for its life. One that came meanwhile takes
// effect when the object goes, so a step that must not be cut in half (an
// enrollment, which spends the user's codes) runs to its end, leaves its
// files in order, and only then ends the run. Windows ends a process whose
// console closes a few seconds after telling it, held or not.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  struct Mask;
  std::unique_ptr<Mask> previous_;
};

// Turns off the echo of the terminal (console) on standard input for its
// life (a no-op when standard input is none). A signal that ends the run
// meanwhile gives the terminal its echo back first. One at a time.
class EchoOff {
 public:
  EchoOff();
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  bool quiet_ = false;
};

// ---- Where the CA is served (POSIX).

// For a server stopped by SIGINT or SIGTERM: blocks both in the calling
// thread, and so in the threads it starts afterwards, and ignores SIGPIPE.
// WaitForStopSignal returns when one of them arrives (whichever thread it
// was sent to); RaiseStopSignal sends one to the process, to end a wait.
void BlockStopSignals();
void WaitForStopSignal();
void RaiseStopSignal();

// A new owner-only folder inside the temporary folder (TMPDIR, else /tmp;
// on Windows GetTempPath's, from TMP or TEMP), installed as TMPDIR (TMP and
// TEMP) while the object lives, so that the library's temporary files of
// this run are apart from other runs' and go with the folder, whatever is
// left in it.
class PrivateTempFolder {
 public:
  PrivateTempFolder() = default;
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

  // Makes the folder. False with *error naming the temporary folder and
  // why it cannot be used.
  bool Make(std::string* error);

  const std::string& path() const { return path_; }
  // The temporary folder it was made in.
  const std::string& parent() const { return parent_; }
  // Names of the files in it that start with `prefix` and end with
  // `suffix`, sorted.
  std::vector<std::string> Files(const std::string& prefix, const std::string& suffix) const;

 private:
  // A variable of the environment as it was before the folder took it.
  struct SavedVariable {
    const char* name;
    bool had;
    std::string value;
  };
  // Points `name` at the folder, keeping what it was.
  void Install(const char* name);

  std::string path_;
  std::string parent_;
  std::vector<SavedVariable> saved_;
};

}  // namespace veskar_cli

#endif  // VESKAR_TOOLS_VESKAR_OS_H_
