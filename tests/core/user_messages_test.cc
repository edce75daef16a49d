#include "core/user_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UserMessages, QuestionListenerAnswersAndIsRestored) {
  std::string asked;
  QuestionListener previous =
      SetQuestionListener([&asked](std::string_view caption, std::string_view text) {
        asked = std::string(caption) + "|" + std::string(text);
        return true;
      });
  bool echo = SetMessageEcho(false);
  EXPECT_TRUE(AskYesNo("Lumbra", "Update now?"));
  EXPECT_EQ(asked, "Lumbra|Update now?");

  // Message boxes do not reach the question listener.
  asked.clear();
  ShowAppMessage("You are up-to-date.");
  EXPECT_EQ(asked, "");

  QuestionListener mine = SetQuestionListener(std::move(previous));
  EXPECT_TRUE(mine);
  EXPECT_FALSE(AskYesNo("Lumbra", "Again?"));
  SetMessageEcho(echo);
}

}  // namespace
