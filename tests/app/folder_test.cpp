// A photo's folder without a window: the natural name order, which files are
// stepped through, the steps at both ends, and the photos read ahead.
#include "app/folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/read_ahead.h"
#include "tests/support/jpeg_fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace peloria::testing {
namespace {

namespace fs = std::filesystem;

TEST(FolderTest, NaturalNameOrder) {
  // Each list is in natural order.
  const std::vector<std::vector<std::string>> orders = {
      {"IMG_2.JPG", "IMG_10.JPG", "IMG_100.JPG"},
      {"1.jpg", "9.jpg", "10.jpg", "a.jpg"},
      // Leading zeros do not count; equal numbers fall back to the bytes.
      {"IMG_007.jpg", "IMG_7.jpg", "IMG_8.jpg", "IMG_0010.jpg"},
      // Letters without regard to case; the same name in both cases by bytes.
      {"a.jpg", "B.jpg", "c.jpg"},
      {"IMG_1.jpg", "img_1.jpg", "IMG_2.jpg"},
      {"photo.jpg", "photo1.jpg", "photo2a.jpg", "photo2b.jpg", "photo10.jpg"},
      // Numbers longer than any integer type.
      {"x99999999999999999999999.jpg", "x100000000000000000000000.jpg"},
      // Japanese names by code point, numbers in them by value.
      {"あさ.jpg", "いぬ.jpg", "写真2.jpg", "写真10.jpg", "桜.jpg"},
      {"Z.jpg", "さくら.jpg"},
  };
  for (const std::vector<std::string>& order : orders) {
    for (std::size_t i = 0; i < order.size(); ++i) {
      SCOPED_TRACE(order[i]);
      EXPECT_FALSE(NaturalLess(order[i], order[i]));
      for (std::size_t j = i + 1; j < order.size(); ++j) {
        EXPECT_TRUE(NaturalLess(order[i], order[j])) << order[j];
        EXPECT_FALSE(NaturalLess(order[j], order[i])) << order[j];
      }
    }
  }
}

TEST(FolderTest, PicturesOfAFolder) {
  TempDir dir;
  for (const char* name :
       {"IMG_10.JPG", "IMG_2.jpg", "b.png", "c.webp", "d.heic", "e.tif", "f.bmp", "g.gif", "h.ico",
        ".hidden.jpg", "notes.txt", "noext", "drawing.wmf", "drawing.emf"}) {
    dir.Write(name, "x");
  }
  fs::create_directory(dir.path() / "folder.jpg");
  fs::create_symlink(dir.path() / "b.png", dir.path() / "link.png");
  fs::create_symlink(dir.path() / "none.jpg", dir.path() / "dangling.jpg");
  const std::vector<std::string> expected = {"b.png",      "c.webp",  "d.heic", "e.tif",
                                             "f.bmp",      "g.gif",   "h.ico",  "IMG_2.jpg",
                                             "IMG_10.JPG", "link.png"};
  EXPECT_EQ(FolderPictures(dir.path().string() + "/"), expected);
  EXPECT_TRUE(FolderPictures(dir.path().string() + "/none/").empty());
}

TEST(FolderTest, StepsStopAtBothEnds) {
  const std::vector<std::string> pictures = {"a.jpg", "b.jpg", "c.jpg"};
  struct Row {
    std::string from;
    TStep step;
    std::optional<std::string> to;
  } rows[] = {
      {"a.jpg", TStep::kNext, "b.jpg"},
      {"b.jpg", TStep::kPrevious, "a.jpg"},
      {"c.jpg", TStep::kNext, std::nullopt},
      {"a.jpg", TStep::kPrevious, std::nullopt},
      {"b.jpg", TStep::kFirst, "a.jpg"},
      {"b.jpg", TStep::kLast, "c.jpg"},
      {"a.jpg", TStep::kFirst, std::nullopt},
      {"c.jpg", TStep::kLast, std::nullopt},
      // A name no more listed (deleted) keeps its place in the order.
      {"b2.jpg", TStep::kNext, "c.jpg"},
      {"b2.jpg", TStep::kPrevious, "b.jpg"},
      {"0.jpg", TStep::kPrevious, std::nullopt},
      {"0.jpg", TStep::kFirst, "a.jpg"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.from + " " + std::to_string(static_cast<int>(row.step)));
    EXPECT_EQ(Stepped(pictures, row.from, row.step), row.to);
  }
  EXPECT_EQ(Stepped({}, "a.jpg", TStep::kFirst), std::nullopt);
}

TEST(FolderTest, PlaceOfAPath) {
  TempDir dir;
  const std::string cwd = fs::current_path().string();
  EXPECT_EQ(PlaceOf("/a/b/c.jpg").folder, "/a/b/");
  EXPECT_EQ(PlaceOf("/a/b/c.jpg").name, "c.jpg");
  EXPECT_EQ(PlaceOf("/c.jpg").folder, "/");
  EXPECT_EQ(PlaceOf("c.jpg").folder, cwd + "/");
  EXPECT_EQ(PlaceOf("/a/./b/../c.jpg").folder, "/a/");
  EXPECT_EQ(FolderAddress("/a/", "c.jpg"), "file:///a/c.jpg");
}

struct ReadAheadFolder {
  TempDir dir;
  TStartup startup{ProgramFiles{dir.path().string() + "/", (dir.path() / "none.ini").string()}};
  std::string Add(const std::string& name) {
    JpegRecipe recipe;
    recipe.width = 32;
    recipe.height = 24;
    WriteJpegFile(dir.path() / name, recipe);
    return FolderAddress(dir.path().string() + "/", name);
  }
};

bool Holds(const TReadAhead& ahead, std::vector<std::string> addresses) {
  std::vector<std::string> held = ahead.Held();
  std::sort(held.begin(), held.end());
  std::sort(addresses.begin(), addresses.end());
  return held == addresses;
}

TEST(ReadAheadTest, HoldsOnlyWhatIsWanted) {
  ReadAheadFolder folder;
  const std::string a = folder.Add("a.jpg");
  const std::string b = folder.Add("b.jpg");
  const std::string c = folder.Add("c.jpg");
  TReadAhead ahead(folder.startup);
  ahead.Want({a, b});
  ASSERT_TRUE(WaitUntil([&] { return Holds(ahead, {a, b}); }, std::chrono::seconds(10)));

  // Stepped on: a is dropped, c made, b kept as it is.
  ahead.Want({b, c});
  ASSERT_TRUE(WaitUntil([&] { return Holds(ahead, {b, c}); }, std::chrono::seconds(10)));

  std::optional<TPhoto> photo = ahead.Take(c);
  ASSERT_TRUE(photo.has_value());
  EXPECT_EQ(photo->AddressBytes(), c);
  ASSERT_TRUE(photo->Summary().has_value());
  EXPECT_EQ(photo->Bitmap()->Width(), 32);
  EXPECT_TRUE(Holds(ahead, {b}));
  // Not wanted: nothing to take, nothing is made for it.
  EXPECT_FALSE(ahead.Take(a).has_value());

  // A photo made elsewhere is held when wanted, dropped when not.
  std::vector<TPhoto> have;
  have.push_back(std::move(*photo));
  ahead.Want({c}, std::move(have));
  EXPECT_TRUE(Holds(ahead, {c}));
  EXPECT_TRUE(ahead.Take(c).has_value());
}

TEST(ReadAheadTest, FailingPicturesAndDeletedFiles) {
  ReadAheadFolder folder;
  const std::string broken = FolderAddress(folder.dir.path().string() + "/", "broken.jpg");
  folder.dir.Write("broken.jpg", "not a picture");
  const std::string gone = FolderAddress(folder.dir.path().string() + "/", "gone.jpg");
  TReadAhead ahead(folder.startup);
  ahead.Want({broken, gone});
  ASSERT_TRUE(WaitUntil([&] { return Holds(ahead, {broken, gone}); }, std::chrono::seconds(10)));
  for (const std::string& address : {broken, gone}) {
    std::optional<TPhoto> photo = ahead.Take(address);
    ASSERT_TRUE(photo.has_value());
    EXPECT_TRUE(photo->Failed());
  }
}

}  // namespace
}  // namespace peloria::testing
