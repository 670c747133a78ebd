// veskar.exe's PKI verbs on Windows, run as a user runs them: bytes through
// files and standard streams unchanged, an output that is standard output
// recognised, a run's temporary folder gone afterwards, the stand-ins found
// beside veskar.exe, and the verb this build lacks named as such.

#include "win32/temp_folder.h"
// temp_folder.h brings windows.h first.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  DWORD exit_status = 0xffffffff;
  std::string out;
  std::string err;
};

// One word of a command line, quoted as the C runtime splits it again.
std::string Quoted(const std::string& word) {
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (const char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(2 * backslashes, '\\') + "\"";
}

std::string FolderOfThisProgram() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string file(path, length);
  return file.substr(0, file.find_last_of('\\'));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

class Win32Command : public ScopedTempFolder {
 protected:
  void TearDown() override {
    // The base removes files only; the CAs and copies are folders.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      std::error_code ignored;
      if (entry.is_directory()) fs::remove_all(entry.path(), ignored);
    }
    ScopedTempFolder::TearDown();
  }

  std::string File(const std::string& name) const { return folder_ + name; }

  // Runs `program` (veskar.exe beside this test unless given) with `args`,
  // `input` on standard input, and standard output into the file
  // `out_file` when it is given.
  Outcome Veskar(const std::vector<std::string>& args, const std::string& input = "",
                 const std::string& out_file = "", const std::string& program = "") {
    const std::string exe = program.empty() ? FolderOfThisProgram() + "\\veskar.exe" : program;
    std::string line = Quoted(exe);
    for (const std::string& arg : args) line += " " + Quoted(arg);
    const std::string in_name = File("stdin." + std::to_string(++runs_));
    const std::string out_name =
        out_file.empty() ? File("stdout." + std::to_string(runs_)) : out_file;
    const std::string err_name = File("stderr." + std::to_string(runs_));
    WriteAll(in_name, input);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::string& name, bool write) {
      return CreateFileA(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(in_name, false);
    startup.hStdOutput = open(out_name, true);
    startup.hStdError = open(err_name, true);
    PROCESS_INFORMATION process{};
    Outcome run;
    if (CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
      WaitForSingleObject(process.hProcess, 60000);
      GetExitCodeProcess(process.hProcess, &run.exit_status);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
      CloseHandle(handle);
    }
    run.out = ReadAll(out_name);
    run.err = ReadAll(err_name);
    return run;
  }

  // A CA in the scratch folder with one user: its reference number, and
  // the code in the file "code".
  std::string NewCaWithUser() {
    const Outcome init = Veskar({"ca", "init", File("ca")});
    EXPECT_EQ(init.exit_status, 0u) << init.err;
    const Outcome added = Veskar({"ca", "add-user", File("ca"), "CN=Windows User"});
    EXPECT_EQ(added.exit_status, 0u) << added.err;
    // The command's text comes in lines that end in CR LF.
    const auto value = [&](const std::string& label) {
      const size_t at = added.out.find(label);
      if (at == std::string::npos) return std::string();
      const size_t start = at + label.size();
      return added.out.substr(start, added.out.find_first_of("\r\n", start) - start);
    };
    WriteAll(File("code"), value("authorisation code: ") + "\r\n");
    return value("reference number: ");
  }

  std::vector<std::string> Named(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
    }
    return names;
  }

  int runs_ = 0;
};

TEST_F(Win32Command, ProtectedItemsKeepEveryByte) {
  // CR LF, a lone LF, Ctrl-Z and NUL: what text mode would change.
  const std::string data("line\r\nnext\n\x1a after\0end", 23);
  WriteAll(File("data"), data);
  WriteAll(File("protection"), "a protection\r\n");
  const Outcome put = Veskar({"protected", "put", "--file", File("store"), "--label", "item",
                              "--in", File("data"), "--protection-file", File("protection")});
  ASSERT_EQ(put.exit_status, 0u) << put.err;
  EXPECT_NE(put.out.find("stored 23 bytes"), std::string::npos) << put.out;

  const Outcome to_stdout = Veskar({"protected", "get", "--file", File("store"), "--label", "item",
                                    "--protection-file", File("protection")});
  EXPECT_EQ(to_stdout.exit_status, 0u) << to_stdout.err;
  EXPECT_EQ(to_stdout.out, data);
  const Outcome to_file = Veskar({"protected", "get", "--file", File("store"), "--label", "item",
                                  "--out", File("got"), "--protection-stdin"},
                                 "a protection\r\n");
  EXPECT_EQ(to_file.exit_status, 0u) << to_file.err;
  EXPECT_EQ(ReadAll(File("got")), data);

  // Piped data ('--in -') takes the protection from a file.
  const Outcome piped = Veskar({"protected", "put", "--file", File("store"), "--label", "piped",
                                "--in", "-", "--protection-file", File("protection")},
                               data);
  EXPECT_EQ(piped.exit_status, 0u) << piped.err;
  const Outcome piped_back = Veskar({"protected", "get", "--file", File("store"), "--label",
                                     "piped", "--protection-file", File("protection")});
  EXPECT_EQ(piped_back.out, data) << piped_back.err;
  // A name relative to the current folder is the same store for the
  // toolkit, whichever folder it resolves names from.
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
  const Outcome relative = Veskar({"protected", "put", "--file", "relative.store", "--label", "x",
                                   "--in", "data", "--protection-file", "protection"});
  const Outcome relative_back = Veskar({"protected", "get", "--file", "relative.store", "--label",
                                        "x", "--protection-file", "protection"});
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(relative.exit_status, 0u) << relative.err;
  EXPECT_EQ(relative_back.out, data) << relative_back.err;

  // A wrong protection string opens nothing, and writes nothing.
  WriteAll(File("wrong"), "another\n");
  const Outcome wrong = Veskar({"protected", "get", "--file", File("store"), "--label", "piped",
                                "--out", File("never"), "--protection-file", File("wrong")});
  EXPECT_EQ(wrong.exit_status, 1u);
  EXPECT_FALSE(fs::exists(File("never")));
}

TEST_F(Win32Command, EnrollsAndTakesItsTemporaryFolderAway) {
  const std::string reference = NewCaWithUser();
  ASSERT_FALSE(reference.empty());
  const std::vector<std::string> enroll = {"enroll",      "cms",
                                           "--ca",        File("ca"),
                                           "--reference", reference,
                                           "--code-file", File("code"),
                                           "--new-key",   File("user.key"),
                                           "--cert",      File("user.pem"),
                                           "--ca-cert",   File("ca-copy.pem")};
  const Outcome enrolled = Veskar(enroll);
  ASSERT_EQ(enrolled.exit_status, 0u) << enrolled.err;
  EXPECT_NE(enrolled.out.find("subject: CN=Windows User"), std::string::npos) << enrolled.out;
  EXPECT_EQ(ReadAll(File("user.pem")).rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
  EXPECT_EQ(ReadAll(File("ca-copy.pem")), ReadAll(File("ca\\ca.pem")));
  // The protected copy is kept in the temporary folder (TMP), the run's own
  // folder in it is gone.
  EXPECT_EQ(Named("ENT").size(), 1u);
  EXPECT_TRUE(Named("veskar-").empty());

  // The pair is spent: the second run fails, and leaves no folder either.
  fs::remove(File("user.key"));
  const Outcome again = Veskar(enroll);
  EXPECT_EQ(again.exit_status, 1u) << again.out;
  EXPECT_TRUE(Named("veskar-").empty());
  EXPECT_FALSE(fs::exists(File("user.key"))) << "a failed enrollment kept the key it made";
}

TEST_F(Win32Command, RefusesStandardOutputWhereAFileIsNeeded) {
  WriteAll(File("code"), "code\n");
  const auto enroll = [&](const std::string& copy, const std::string& out) {
    return Veskar(
        {"enroll", "cms", "--ca", File("no-ca"), "--reference", "1", "--code-file", File("code"),
         "--new-key", File("k"), "--cert", File("c"), "--protected-copy", copy},
        "", out);
  };
  const Outcome same = enroll(File("copy"), File("copy"));
  EXPECT_EQ(same.exit_status, 2u);
  EXPECT_NE(same.err.find("--protected-copy takes a file, not standard output"), std::string::npos)
      << same.err;
  // Another file passes that check; the stand-in, loaded from the build,
  // then wants a CA folder that is there.
  const Outcome other = enroll(File("copy"), File("elsewhere"));
  EXPECT_EQ(other.exit_status, 1u);
  EXPECT_NE(other.err.find("there is no CA folder"), std::string::npos) << other.err;
}

// Where a package puts them, beside veskar.exe, the stand-ins are found
// before anything on PATH and taken for what they are.
TEST_F(Win32Command, FindsTheStandInsBesideIt) {
  const std::string package = File("package");
  fs::create_directory(package);
  for (const fs::directory_entry& entry : fs::directory_iterator(FolderOfThisProgram())) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".dll" || name == "veskar.exe") {
      fs::copy_file(entry.path(), package + "\\" + name);
    }
  }
  for (const char* toolkit : {"cmsapi32.dll", "kmpapi32.dll"}) {
    char found[MAX_PATH];
    ASSERT_GT(SearchPathA(nullptr, toolkit, nullptr, MAX_PATH, found, nullptr), 0u) << toolkit;
    fs::copy_file(found, package + "\\" + toolkit);
  }
  const Outcome services = Veskar({"services"}, "", "", package + "\\veskar.exe");
  EXPECT_EQ(services.exit_status, 0u);
  EXPECT_NE(services.out.find("CMS enrollment: available, loaded from " + package),
            std::string::npos)
      << services.out;
  WriteAll(File("code"), "code\n");
  const Outcome enroll =
      Veskar({"enroll", "cms", "--ca", File("no-ca"), "--reference", "1", "--code-file",
              File("code"), "--new-key", File("k"), "--cert", File("c")},
             "", "", package + "\\veskar.exe");
  EXPECT_EQ(enroll.exit_status, 1u);
  EXPECT_NE(enroll.err.find("there is no CA folder"), std::string::npos) << enroll.err;
}

TEST_F(Win32Command, ServingTheCaPointsToAnotherMachine) {
  const Outcome serve = Veskar({"ca", "serve", File("ca"), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(serve.exit_status, 2u);
  EXPECT_NE(serve.err.find("not built on Windows"), std::string::npos) << serve.err;
  const Outcome help = Veskar({"ca", "--help"});
  EXPECT_EQ(help.exit_status, 0u);
  EXPECT_EQ(help.out.find("usage: veskar ca serve"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("'veskar ca serve': serving a CA is not built on Windows"),
            std::string::npos)
      << help.out;
}

}  // namespace
