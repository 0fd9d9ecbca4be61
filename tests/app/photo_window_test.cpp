// One window, many photos: the window shows another photo with the layout of
// the start, the failure display between two pictures, the histogram kept
// with its channel, and a failure outside the guarded steps.
#include <gtest/gtest.h>

#include "platform/numbers.h"
#include "tests/app/app_support.h"

namespace peloria::testing {
namespace {

// A folder of pictures for one window.
struct Photos {
  TempDir dir;
  std::string Bmp(const std::string& name, int width, int height, Rgb8 colour) const {
    return dir.Write(name, Bmp24(width, height, [colour](int, int) { return colour; }));
  }
};

void ExpectCentred(const TForm1& f) {
  EXPECT_EQ(f.Left(), Nearest((TScreen::Width() - f.Width()) / 2.0L));
  EXPECT_EQ(f.Top(), Nearest((TScreen::Height() - f.Height()) / 2.0L));
}

TEST(PhotoWindowTest, AnotherPhotoIsLaidOutAsAtStart) {
  Photos photos;
  const std::string wide = photos.Bmp("wide.bmp", 64, 25, {255, 0, 0});
  const std::string tall = photos.Bmp("tall.bmp", 30, 40, {0, 0, 255});
  Window w(FileUrl(wide));
  TForm1& f = *w.form;
  ASSERT_FALSE(f.Failed());
  EXPECT_EQ(f.Image1.Height(), 62);  // 64 x 25 gives 160 x 62
  ASSERT_NE(f.Photo(), nullptr);
  EXPECT_EQ(f.Photo()->LocalPath(), wide);

  f.Open(Cp932(tall), tall);
  EXPECT_FALSE(f.Failed());
  EXPECT_EQ(f.Image1.Width(), 90);
  EXPECT_EQ(f.Image1.Height(), 120);
  EXPECT_EQ(f.bmp->Width(), 30);
  EXPECT_EQ(f.Photo()->LocalPath(), tall);
  EXPECT_EQ(f.Label1.Caption(), Cp932("Exif情報はありません。"));
  // The histogram was never shown: it stays hidden.
  EXPECT_FALSE(f.Image2.Visible());
  EXPECT_FALSE(f.Red.Visible());
  EXPECT_EQ(f.ClientWidth(), f.Image1.Left() + 90 + 3);
  EXPECT_EQ(f.Button1.Top(), 120 + 5);
  ExpectCentred(f);
}

TEST(PhotoWindowTest, FailureBetweenPicturesAndBack) {
  Photos photos;
  const std::string good = photos.Bmp("a.bmp", 40, 30, {10, 20, 30});
  const std::string missing = FileUrl(photos.dir.path() / "gone.bmp");
  Window w(FileUrl(good));
  TForm1& f = *w.form;
  const std::string caption = f.Caption();

  f.Open(Cp932(missing), missing);
  EXPECT_TRUE(f.Failed());
  EXPECT_EQ(f.Caption(), "Peloria error");
  EXPECT_EQ(f.Label1.Caption(), Cp932("データの取得に失敗しました"));
  EXPECT_EQ(f.ClientWidth(), 8 + 156 + 2);
  EXPECT_EQ(f.bmp, nullptr);
  EXPECT_EQ(f.Image1.Picture().Graphic(), nullptr);
  // Only the label and the button are seen: the rest is back at its design
  // place, right of the client area.
  for (const TControl* c : std::initializer_list<const TControl*>{&f.Image1, &f.Image2, &f.Red,
                                                                  &f.Green, &f.Blue, &f.All_c}) {
    EXPECT_GE(c->Left(), f.ClientWidth());
  }
  EXPECT_EQ(f.Label1.Hint(), Cp932("ファイル " + missing.substr(7) + " は開けません\n" + missing));
  ExpectCentred(f);

  f.Open(Cp932(good), good);
  EXPECT_FALSE(f.Failed());
  EXPECT_EQ(f.Caption(), caption);
  EXPECT_EQ(f.Label1.Hint(), "");
  EXPECT_EQ(f.Image1.Left(), f.Label1.Width() + 20);
  EXPECT_EQ(f.Image1.Height(), 120);
}

TEST(PhotoWindowTest, HistogramRedrawnWithItsChannel) {
  Photos photos;
  // Red 200 everywhere, then red 50: the red histogram's one column moves.
  const std::string first = photos.Bmp("1.bmp", 8, 6, {200, 0, 0});
  const std::string second = photos.Bmp("2.bmp", 6, 8, {50, 0, 0});
  Window w(FileUrl(first));
  TForm1& f = *w.form;
  f.Red.Click();
  ASSERT_EQ(f.Image2.Canvas().Pixel(200, 119), clRed);

  f.Open(Cp932(second), second);
  EXPECT_TRUE(f.Red.Checked());
  EXPECT_TRUE(f.Image2.Visible());
  EXPECT_TRUE(f.All_c.Visible());
  EXPECT_EQ(f.Image2.Canvas().Pixel(200, 119), clWhite);
  EXPECT_EQ(f.Image2.Canvas().Pixel(50, 119), clRed);
  EXPECT_EQ(f.Image2.Top(), f.Image1.Top() + f.Image1.Height() + 3);
  EXPECT_EQ(f.Button1.Top(),
            std::max(f.Label1.Top() + f.Label1.Height(), f.Image2.Top() + f.Image2.Height()) + 25);

  // Through a failure display the histogram stays chosen.
  const std::string missing = FileUrl(photos.dir.path() / "gone.bmp");
  f.Open(Cp932(missing), missing);
  f.Open(Cp932(first), first);
  EXPECT_TRUE(f.Image2.Visible());
  EXPECT_EQ(f.Image2.Canvas().Pixel(200, 119), clRed);
}

TEST(PhotoWindowTest, ShownPhotoHandedBackWithItsPicture) {
  Photos photos;
  const std::string a = photos.Bmp("a.bmp", 4, 4, {1, 2, 3});
  const std::string b = photos.Bmp("b.bmp", 5, 5, {4, 5, 6});
  Window w(FileUrl(a));
  TForm1& f = *w.form;
  const TGraphic* shown = f.Image1.Picture().Graphic();
  TIdHTTP http;
  std::optional<TPhoto> before = f.ShowPhoto(f.Startup()->Open(b, b, http, nullptr));
  ASSERT_TRUE(before.has_value());
  EXPECT_EQ(before->LocalPath(), a);
  EXPECT_EQ(before->Graphic(), shown);
  ASSERT_NE(before->Bitmap(), nullptr);
  EXPECT_EQ(before->Bitmap()->Width(), 4);
  // Shown again, it needs no second load.
  f.ShowPhoto(std::move(*before));
  EXPECT_EQ(f.Image1.Picture().Graphic(), shown);
  EXPECT_EQ(f.bmp->Width(), 4);
}

TEST(PhotoWindowTest, GeneralErrorOfALaterPhoto) {
  Photos photos;
  const std::string good = photos.Bmp("a.bmp", 40, 30, {10, 20, 30});
  const std::string zero = photos.dir.Write("z.jpg", ExifJpeg([](TiffWriter& t) {
                                              t.Rational(t.ExifIfd(), 0x829A, {{0, 1}});
                                            }));
  Window w(FileUrl(good));
  TForm1& f = *w.form;
  EXPECT_ANY_THROW(f.Open(Cp932(zero), zero));
  // As far as the photo got: its picture and copy, the design's text.
  EXPECT_FALSE(f.Failed());
  EXPECT_EQ(f.Label1.Caption(), "System Error!!");
  ASSERT_NE(f.bmp, nullptr);
  EXPECT_EQ(f.bmp->Width(), 64);
}

}  // namespace
}  // namespace peloria::testing
