// Command-line parsing: the program is configured by its file, not by arguments.
#include "app/command_line.h"

#include <string_view>

namespace {

CommandLineAction ActionOf(std::string_view argument) {
  if (argument == "--help" || argument == "-h") return CommandLineAction::kShowHelp;
  if (argument == "--version") return CommandLineAction::kShowVersion;
  return CommandLineAction::kUnknownArgument;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine result;
  if (argc < 2) return result;
  std::string_view first = argv[1] != nullptr ? argv[1] : "";
  result.action = ActionOf(first);
  if (result.action == CommandLineAction::kUnknownArgument) {
    result.unknownArgument = first;
  } else if (argc > 2) {
    // One option at a time; anything after it is not understood.
    result.action = CommandLineAction::kUnknownArgument;
    result.unknownArgument = argv[2] != nullptr ? argv[2] : "";
  }
  return result;
}

std::string GetUsageText() {
  return "Usage: lumbra [--help | --version]\n"
         "\n"
         "Lumbra is a filtering HTTP proxy for this machine. Its settings and filter\n"
         "rules are in Lumbra_Corvane/lumbra.xml under $XDG_CONFIG_HOME (or\n"
         "~/.config); the file is created with the built-in rules on first start.\n"
         "\n"
         "  --help     show this text and exit\n"
         "  --version  show the program's version and exit\n";
}

std::string GetVersionText() { return "Lumbra " LUMBRA_VERSION_TEXT "\n"; }
