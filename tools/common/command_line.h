#pragma once
// The command lines of the tools: "--name value" options and lone flags,
// "--help" or "-h" for the usage text.
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

enum class CommandLineResult { kOptions, kHelp, kBad };

// Reads argv[1..] into options; on kBad, problem says what was wrong.
CommandLineResult ReadCommandLine(int argc, char** argv, const OptionNames& names,
                                  std::map<std::string, std::string>* options, std::string* problem);

// The problem (if any) as "program: problem", then the usage text, on standard error; 2.
int PrintUsage(const char* program, const char* usage, const std::string& problem);

}  // namespace tools
}  // namespace zorvani
