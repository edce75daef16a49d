// The program's command line: only --help and --version are understood.
#pragma once

#include <string>

enum class CommandLineAction { kRun, kShowHelp, kShowVersion, kUnknownArgument };

struct CommandLine {
  CommandLineAction action = CommandLineAction::kRun;
  std::string unknownArgument;
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// The text printed by --help and, after an unknown argument, to standard error.
std::string GetUsageText();
// "Lumbra <version>" and a line end.
std::string GetVersionText();
