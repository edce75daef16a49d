// Tests of the embedded page files.
#include "app/panel/panel_files.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelFilesTest, EveryEmbeddedFileIsServableAndTheIndexIsFilledIn) {
  ASSERT_NE(FindPanelFile("index.html"), nullptr);
  for (const CEmbeddedFile& file : GetEmbeddedPanelFiles()) {
    EXPECT_FALSE(GetPanelContentType(file.name).empty()) << file.name;
    EXPECT_FALSE(file.bytes.empty()) << file.name;
  }
  EXPECT_EQ(GetPanelContentType("x.sh"), "");
  EXPECT_EQ(FindPanelFile("missing.js"), nullptr);

  const std::string page = RenderPanelIndex("feedc0de");
  EXPECT_NE(page.find("content=\"feedc0de\""), std::string::npos);
  EXPECT_NE(page.find(LUMBRA_VERSION_TEXT), std::string::npos);
  EXPECT_EQ(page.find("{{"), std::string::npos);
}

}  // namespace
