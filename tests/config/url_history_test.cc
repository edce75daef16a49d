// Tests of the URL history: bounds, order, and concurrent use.
#include "config/url_history.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "config/page_recorder.h"

namespace {

TEST(UrlHistory, KeepsTheLastTwentyOldestFirst) {
  std::mutex lock;
  CUrlHistory history(lock);
  EXPECT_EQ(history.Count(), 0);
  EXPECT_TRUE(history.Get(0).IsEmpty());
  for (int i = 1; i <= 25; ++i) history.Add("http://site/" + std::to_string(i));
  ASSERT_EQ(history.Count(), 20);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(history.Get(i).View(), "http://site/" + std::to_string(i + 6)) << i;
  EXPECT_TRUE(history.Get(-1).IsEmpty());
  EXPECT_TRUE(history.Get(20).IsEmpty());
}

TEST(UrlHistory, DuplicatesStayAndEmptyUrlsAreIgnored) {
  std::mutex lock;
  CUrlHistory history(lock);
  for (int i = 0; i < 3; ++i) history.Add("http://same/");
  history.Add("");
  history.Add(std::string_view("\0tail", 5));
  ASSERT_EQ(history.Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(history.Get(i).View(), "http://same/");

  // The entry is a copy: changing the caller's text afterwards changes nothing.
  std::string url = "http://copy/";
  history.Add(url);
  url[7] = 'X';
  EXPECT_EQ(history.Get(3).View(), "http://copy/");
}

TEST(UrlHistory, ConcurrentAddsAndReadsKeepTheListWhole) {
  CPageRecorder recorder;
  CUrlHistory& history = recorder.GetUrlHistory();
  constexpr int kWriters = 4;
  constexpr int kAddsEach = 5000;
  std::atomic<bool> writing{true};
  std::atomic<int> badReads{0};
  std::thread reader([&] {
    while (writing.load()) {
      const int count = history.Count();
      if (count < 0 || count > CUrlHistory::kMaxEntries) ++badReads;
      for (int i = 0; i < CUrlHistory::kMaxEntries; ++i) {
        const CHeapString entry = history.Get(i);
        // An entry is whole or absent (an index past the end), never torn.
        if (!entry.IsEmpty() && !entry.View().starts_with("http://w")) ++badReads;
      }
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&history, w] {
      for (int i = 0; i < kAddsEach; ++i)
        history.Add("http://w" + std::to_string(w) + "/" + std::to_string(i));
    });
  }
  for (std::thread& writer : writers) writer.join();
  writing = false;
  reader.join();
  EXPECT_EQ(badReads.load(), 0);
  ASSERT_EQ(history.Count(), CUrlHistory::kMaxEntries);
  // Each writer's entries keep their own order within the history.
  std::vector<int> lastSeen(kWriters, -1);
  for (int i = 0; i < CUrlHistory::kMaxEntries; ++i) {
    const std::string entry = history.Get(i).ToString();
    const int writer = entry[8] - '0';
    const int number = std::stoi(entry.substr(10));
    EXPECT_GT(number, lastSeen[writer]) << entry;
    lastSeen[writer] = number;
  }
}

}  // namespace
