// Tests of the dialogs waiting for the control panel's page.
#include "app/panel/dialog_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(DialogQueueTest, MessagesWaitOnlyWhileAPageIsOpen) {
  CDialogQueue dialogs(200ms, 10s);
  dialogs.AddMessage("Lumbra", "before any page");
  EXPECT_TRUE(dialogs.GetPending().empty());
  EXPECT_FALSE(dialogs.AskYesNo("Lumbra", "nobody to answer"));

  dialogs.MarkPolled();
  dialogs.AddMessage("Lumbra", "first");
  dialogs.AddMessage("xml parser error", "second");
  auto pending = dialogs.GetPending();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].text, "first");
  EXPECT_EQ(pending[1].caption, "xml parser error");
  EXPECT_FALSE(pending[0].yesNo);
  EXPECT_TRUE(dialogs.Answer(pending[0].id, "ok"));
  EXPECT_FALSE(dialogs.Answer(pending[0].id, "ok"));
  EXPECT_EQ(dialogs.GetPending().size(), 1u);

  std::this_thread::sleep_for(300ms);
  dialogs.AddMessage("Lumbra", "after the page went");
  EXPECT_EQ(dialogs.GetPending().size(), 1u);
}

TEST(DialogQueueTest, TheQueueIsBounded) {
  CDialogQueue dialogs;
  dialogs.MarkPolled();
  for (int i = 0; i < 200; ++i) dialogs.AddMessage("Lumbra", std::to_string(i));
  const auto pending = dialogs.GetPending();
  ASSERT_EQ(pending.size(), CDialogQueue::kMaxDialogs);
  EXPECT_EQ(pending.back().text, "199");
}

TEST(DialogQueueTest, AnUnansweredQuestionTimesOutAsNo) {
  CDialogQueue dialogs(10s, 50ms);
  dialogs.MarkPolled();
  EXPECT_FALSE(dialogs.AskYesNo("Lumbra", "Go?"));
  EXPECT_TRUE(dialogs.GetPending().empty());
}

}  // namespace
