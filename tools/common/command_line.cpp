#include "tools/common/command_line.h"

#include <algorithm>
#include <cstdio>

namespace zorvani {
namespace tools {

CommandLineResult ReadCommandLine(int argc, char** argv, const OptionNames& names,
                                  std::map<std::string, std::string>* options, std::string* problem) {
  const auto named = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") return CommandLineResult::kHelp;
    if (name == "--version") return CommandLineResult::kVersion;
    if (named(names.flags, name)) {
      (*options)[name] = "";
      continue;
    }
    if (!named(names.withValue, name)) {
      *problem = "unknown option " + name;
      return CommandLineResult::kBad;
    }
    if (i + 1 >= argc || (!names.emptyValueAllowed && argv[i + 1][0] == '\0')) {
      *problem = name + " needs a value";
      return CommandLineResult::kBad;
    }
    (*options)[name] = argv[++i];
  }
  return CommandLineResult::kOptions;
}

bool ReadCommandLineOrAnswer(int argc, char** argv, const OptionNames& names, const char* program, const char* usage,
                             std::map<std::string, std::string>* options, int* status) {
  std::string problem;
  switch (ReadCommandLine(argc, argv, names, options, &problem)) {
    case CommandLineResult::kOptions: return true;
    case CommandLineResult::kHelp: std::fputs(usage, stdout); *status = 0; return false;
    case CommandLineResult::kVersion: std::printf("%s %s\n", program, ZORVANI_VERSION); *status = 0; return false;
    case CommandLineResult::kBad: break;
  }
  *status = PrintUsage(program, usage, problem);
  return false;
}

int PrintUsage(const char* program, const char* usage, const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
  std::fputs(usage, stderr);
  return 2;
}

}  // namespace tools
}  // namespace zorvani
