#include "opens_as.h"

#include <gtest/gtest.h>

#include <vector>

namespace elmpad {
namespace {

TEST(OpensAs, Images) {
  for (const char* p : {"photo.PNG", "/x/photo.png", "photo.Jpeg", "a.gif", "a.webp", "diagram.svg/", "a.jpg"}) {
    EXPECT_EQ(opens_as(p), OpensAs::kImage) << p;
  }
}

TEST(OpensAs, Documents) {
  for (const char* p : {"notes.md", "notes.MD", "notes.txt", "a.pdf", "a.jpe", "a.html", "archive.tar.gz", "README", "COMMIT_EDITMSG", ".png", "name.",
                        "/x/..", "", "/", "png", "x.png.md", "dir.png/..", "/x/.png", "a.b/.png", "a.\xc3\x89PNG", "a.P\xc3\x8eNG", "x.\xff"}) {
    EXPECT_EQ(opens_as(p), OpensAs::kDocument) << p;
  }
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
