// The built agent as macOS loads it: its information property list embedded
// in the binary, a valid signature with its entitlements, and nothing loaded
// from outside the system (a user's Mac has no Homebrew, and the hardened
// runtime's library validation refuses libraries another team signed).
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kAgent = MIREVO_SHIPPED_AGENT_PATH;

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Runs a shell command line through popen (its arguments are our own paths).
CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    result.output.append(chunk, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string quoted(const std::string& path) {
  return "'" + path + "'";
}

std::string fileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(MacPackaging, InfoPlistIsEmbeddedAsWritten) {
  const std::string extracted =
      (std::filesystem::temp_directory_path() / ("mirevo-info-" + std::to_string(::getpid())))
          .string();
  const CommandResult extract =
      run("segedit " + quoted(kAgent) + " -extract __TEXT __info_plist " + quoted(extracted));
  ASSERT_EQ(extract.status, 0) << extract.output;
  std::string embedded = fileText(extracted);
  std::filesystem::remove(extracted);
  // The section may be padded with zero bytes after the file's own.
  while (!embedded.empty() && embedded.back() == '\0') embedded.pop_back();
  EXPECT_EQ(embedded, fileText(MIREVO_INFO_PLIST_PATH));
}

TEST(MacPackaging, SignatureVerifiesStrictlyWithTheEntitlements) {
  const CommandResult verify = run("codesign --verify --strict --verbose=2 " + quoted(kAgent));
  EXPECT_EQ(verify.status, 0) << verify.output;

  const CommandResult details = run("codesign --display --verbose=2 " + quoted(kAgent));
  ASSERT_EQ(details.status, 0) << details.output;
  // The signature binds the embedded property list and takes its identifier.
  EXPECT_NE(details.output.find("Info.plist entries="), std::string::npos) << details.output;
  EXPECT_NE(details.output.find("Identifier=app.mirevo.capture"), std::string::npos)
      << details.output;
  EXPECT_NE(details.output.find("runtime"), std::string::npos) << "no hardened runtime flag:\n"
                                                               << details.output;

  const CommandResult entitlements =
      run("codesign --display --entitlements - --xml " + quoted(kAgent));
  ASSERT_EQ(entitlements.status, 0) << entitlements.output;
  // Audio input and nothing else: the agent generates no code at run time.
  EXPECT_NE(entitlements.output.find("com.apple.security.device.audio-input"), std::string::npos)
      << entitlements.output;
  EXPECT_EQ(entitlements.output.find("com.apple.security.cs."), std::string::npos)
      << "an exception to the hardened runtime:\n"
      << entitlements.output;
}

TEST(MacPackaging, LoadsOnlySystemLibrariesAndFrameworks) {
  const CommandResult libraries = run("otool -L " + quoted(kAgent));
  ASSERT_EQ(libraries.status, 0) << libraries.output;
  std::istringstream lines(libraries.output);
  std::string line;
  std::getline(lines, line);  // the binary's own path
  int count = 0;
  while (std::getline(lines, line)) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    const std::string path = line.substr(start, line.find(" (") - start);
    ++count;
    const bool system = path.rfind("/usr/lib/", 0) == 0 || path.rfind("/System/Library/", 0) == 0;
    EXPECT_TRUE(system) << "not part of the system: " << path;
  }
  EXPECT_GT(count, 0) << libraries.output;
}

}  // namespace
