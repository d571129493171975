#include "opens_as.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace elmpad {
namespace {

TEST(OpensAs, Images) {
  for (const char* p : {"photo.PNG", "/x/photo.png", "photo.Jpeg", "a.gif", "a.webp", "diagram.svg/", "a.jpg"}) {
    EXPECT_EQ(opens_as(p), OpensAs::kImage) << p;
  }
}

TEST(OpensAs, Documents) {
  for (const char* p : {"notes.md", "notes.MD", "archive.tar.gz", "README", "COMMIT_EDITMSG", ".png", "name.",
                        "/x/..", "", "/", "png", "x.png.md", "dir.png/..", "a.\xc3\x89PNG", "a.P\xc3\x8eNG", "x.\xff"}) {
    EXPECT_EQ(opens_as(p), OpensAs::kDocument) << p;
  }
}

TEST(OpensAs, BuiltInTableLoadsOnceUnderConcurrentFirstUse) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([] { (void)opens_as("a.png"); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(table().image, (std::vector<std::string>{"png", "jpg", "jpeg", "gif", "webp", "svg"}));
  EXPECT_EQ(table().document, (std::vector<std::string>{"md", "markdown", "mdx", "txt"}));
}

TEST(OpensAs, LoadChecksNameTheViolation) {
  EXPECT_EQ(load_opens_as_table("{").error(), "opens_as.json is valid JSON");
  EXPECT_EQ(load_opens_as_table(R"({"image":[]})").error(), "opens_as.json has a `document` array");
  EXPECT_EQ(load_opens_as_table(R"({"document":[],"image":{}})").error(), "opens_as.json has a `image` array");
  EXPECT_EQ(load_opens_as_table(R"({"document":["md",1],"image":[]})").error(), "extensions are strings");
  auto ok = load_opens_as_table(R"({"$comment":"x","document":["MD"],"image":["PnG"]})");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->image, std::vector<std::string>{"png"});
}

}  // namespace
}  // namespace elmpad
