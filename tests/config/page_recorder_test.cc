// Tests of the page recorder: states, record layout, saving and concurrent recording.
#include "config/page_recorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "support/message_capture.h"
#include "support/temp_folder.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

using Texts = std::vector<std::string_view>;

constexpr const char* kOpening =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<tarvisk>\r\n";
constexpr const char* kClosing = "</tarvisk>\r\n";

// The tray commands as the menu drives them.
void StartPauseOrResume(CPageRecorder& recorder) {
  recorder.SetState(recorder.GetState() == kRecorderRecording ? kRecorderPaused
                                                              : kRecorderRecording);
}

void Stop(CPageRecorder& recorder) {
  recorder.CloseRecord();
  recorder.SetState(kRecorderStopped);
}

bool RecordGet(CPageRecorder& recorder, std::string_view url) {
  const Texts names{"Host"}, values{"site"};
  return recorder.RecordPage(url, {}, {}, names, values);
}

std::string UrlLine(int page, std::string_view url) {
  return " <url name=\"page" + std::to_string(page) + "\" source=\"" + std::string(url) +
         "\" method=\"get\">\r\n  <header name=\"Host\" value=\"site\"/>\r\n </url>\r\n";
}

TEST(PageRecorder, SavedRecordHasTheExactLayoutFormFieldsMakingAPost) {
  CTempFolder folder;
  CPageRecorder recorder;
  StartPauseOrResume(recorder);
  const Texts names{"Host", "Accept"}, values{"example.com", "text/html"};
  EXPECT_TRUE(recorder.RecordPage("http://example.com/index.html", {}, {}, names, values));
  const Texts fieldNames{"a", "b"}, fieldValues{"1", "two words"};
  recorder.RecordPage("http://h/form", fieldNames, fieldValues, Texts{"Host"}, Texts{"h"});
  Stop(recorder);
  const std::string path = folder.File("record.xml");
  EXPECT_TRUE(recorder.SaveRecord(path));
  EXPECT_EQ(ReadWholeFile(path),
            std::string(kOpening) +
                " <url name=\"page1\" source=\"http://example.com/index.html\" method=\"get\">\r\n"
                "  <header name=\"Host\" value=\"example.com\"/>\r\n"
                "  <header name=\"Accept\" value=\"text/html\"/>\r\n"
                " </url>\r\n"
                " <url name=\"page2\" source=\"http://h/form\" method=\"post\">\r\n"
                "  <header name=\"Host\" value=\"h\"/>\r\n"
                "  <post name=\"a\" value=\"1\"/>\r\n"
                "  <post name=\"b\" value=\"two words\"/>\r\n"
                " </url>\r\n" +
                kClosing);
}

TEST(PageRecorder, TextsAreEscapedAndConvertedToUtf8AndReadBack) {
  CPageRecorder recorder;
  recorder.SetState(kRecorderRecording);
  const Texts names{"X-Quote", "X-Angle"}, values{"say \"hi\"", "<b> & 'c'\x01"};
  recorder.RecordPage(std::string_view("http://h/?q=<a>&r=\"'%41\x00\n\x7F", 26), {}, {}, names,
                      values);
  recorder.CloseRecord();
  const std::string text = recorder.GetRecordText();
  // Control characters of the URL are kept percent-encoded, "%" itself is not.
  EXPECT_NE(text.find("source=\"http://h/?q=&lt;a&gt;&amp;r=&quot;&apos;%41%00%0A%7F\""),
            std::string::npos);
  EXPECT_NE(text.find("<header name=\"X-Quote\" value=\"say &quot;hi&quot;\"/>"),
            std::string::npos);
  EXPECT_NE(
      text.find("<header name=\"X-Angle\" value=\"&lt;b&gt; &amp; &apos;c&apos;\xEF\xBF\xBD\"/>"),
      std::string::npos);
  CXmlNode document("__root__");
  ASSERT_TRUE(LoadXmlText(text, true, document));
  const CXmlNode* url = document.FindChild("tarvisk")->FindChild("url");
  EXPECT_EQ(url->GetAttribute("source").View(), "http://h/?q=<a>&r=\"'%41%00%0A%7F");
  EXPECT_EQ(url->FindChild("header", 1)->GetAttribute("value").View(), "<b> & 'c'\xEF\xBF\xBD");

  recorder.SetState(kRecorderStopped);
  recorder.SetState(kRecorderRecording);

  ASSERT_TRUE(SetNarrowCharset("CP1252"));
  recorder.RecordPage("http://h/caf\xE9", {}, {}, {}, {});
  SetNarrowCharset("UTF-8");
  EXPECT_NE(recorder.GetRecordText().find("source=\"http://h/caf\xC3\xA9\""), std::string::npos);
}

TEST(PageRecorder, SaveFailuresShowTheirMessages) {
  CTempFolder folder;
  CPageRecorder recorder;
  CMessageCapture capture;

  recorder.SetState(kRecorderRecording);
  const std::string nothing = folder.File("nothing.xml");
  EXPECT_FALSE(recorder.SaveRecord(nothing));
  ASSERT_EQ(capture.GetTexts().size(), 1u);
  EXPECT_EQ(capture.GetTexts()[0], "Nothing to write on disk.");
  EXPECT_EQ(recorder.GetState(), kRecorderRecording);
  EXPECT_FALSE(std::filesystem::exists(nothing));

  RecordGet(recorder, "http://a/");
  const std::string badPath = folder.File("no/such/folder/record.xml");
  EXPECT_FALSE(recorder.SaveRecord(badPath));
  ASSERT_EQ(capture.GetTexts().size(), 2u);
  EXPECT_EQ(capture.GetTexts()[1], "Record error. Can't create " + badPath + " (2)");
  // The record and the stopped state stay, so another path can be tried.
  EXPECT_EQ(recorder.GetState(), kRecorderStopped);
  const std::string goodPath = folder.File("retry.xml");
  EXPECT_TRUE(recorder.SaveRecord(goodPath));
  EXPECT_EQ(ReadWholeFile(goodPath), std::string(kOpening) + UrlLine(1, "http://a/") + kClosing);
  EXPECT_EQ(capture.GetTexts().size(), 2u);

  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(recorder.SaveRecord("/dev/full"));
    ASSERT_EQ(capture.GetTexts().size(), 3u);
    EXPECT_EQ(capture.GetTexts()[2], "Record error. Can't write /dev/full (28)");
  }
}

}  // namespace
