#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

CommandLine Parse(std::initializer_list<const char*> arguments) {
  std::vector<const char*> argv{"lumbra"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, OnlyHelpAndVersionAreUnderstood) {
  EXPECT_EQ(Parse({}).action, CommandLineAction::kRun);
  EXPECT_EQ(Parse({"--help"}).action, CommandLineAction::kShowHelp);
  EXPECT_EQ(Parse({"-h"}).action, CommandLineAction::kShowHelp);
  EXPECT_EQ(Parse({"--version"}).action, CommandLineAction::kShowVersion);
  CommandLine unknown = Parse({"--port=9000"});
  EXPECT_EQ(unknown.action, CommandLineAction::kUnknownArgument);
  EXPECT_EQ(unknown.unknownArgument, "--port=9000");
  CommandLine extra = Parse({"--version", "now"});
  EXPECT_EQ(extra.action, CommandLineAction::kUnknownArgument);
  EXPECT_EQ(extra.unknownArgument, "now");
  EXPECT_EQ(GetVersionText(), "Lumbra " LUMBRA_VERSION_TEXT "\n");
  EXPECT_NE(GetUsageText().find("--version"), std::string::npos);
}

}  // namespace
