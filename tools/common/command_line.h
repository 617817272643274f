#pragma once
// The command lines of the tools: "--name value" options and lone flags, "--help" or
// "-h" for the usage text, "--version" for the version.
#include <map>
#include <string>
#include <vector>

namespace zorvani {
namespace tools {

struct OptionNames {
  std::vector<std::string> withValue;  // each followed by its value
  std::vector<std::string> flags;      // on their own; stored with an empty value
  bool emptyValueAllowed = true;
};

enum class CommandLineResult { kOptions, kHelp, kVersion, kBad };

// Reads argv[1..] into options; on kBad, problem says what was wrong.
CommandLineResult ReadCommandLine(int argc, char** argv, const OptionNames& names,
                                  std::map<std::string, std::string>* options, std::string* problem);

// ReadCommandLine, answering what needs no work: --help prints the usage and --version
// "program VERSION" on standard output (status 0), a bad command line the problem and
// the usage on standard error (status 2). True when the program should go on with the
// options; otherwise *status is its exit status.
bool ReadCommandLineOrAnswer(int argc, char** argv, const OptionNames& names, const char* program, const char* usage,
                             std::map<std::string, std::string>* options, int* status);

// The problem (if any) as "program: problem", then the usage text, on standard error; 2.
int PrintUsage(const char* program, const char* usage, const std::string& problem);

}  // namespace tools
}  // namespace zorvani
