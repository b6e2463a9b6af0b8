// Animated GIFs written with GifWriter and read back with giflib's decoder: frame count, size,
// delay, loop count and colours at hand-computed pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "birdseye/gif_writer.hpp"
#include "birdseye/render.hpp"
#include "picture_reader.hpp"

namespace birdseye {
namespace {

namespace fs = std::filesystem;
using test::near;

const Rgb kRed{1.0, 0.0, 0.0};
const Rgb kWhite{1.0, 1.0, 1.0};

class GifWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("birdseye_gif_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  // 80 x 60 pixels at 0.1 m per pixel with one red point at (x, 0).
  static Scene pointScene(double x) {
    Scene scene;
    scene.width_px = 80;
    scene.height_px = 60;
    scene.metres_per_pixel = 0.1;
    scene.scale_bar = false;
    scene.legend = false;
    scene.classes = {{"dynamic", kRed, true}};
    scene.points = {{x, 0.0, 0}};
    return scene;
  }

  fs::path directory_;
};

TEST_F(GifWriterTest, FramesComeBackWithSizeDelayLoopAndColours) {
  const std::string path = (directory_ / "strip.gif").string();
  {
    GifWriter writer(path, 80, 60, 7, 3);
    for (int k = 0; k < 3; ++k) {
      const CairoSurface image = renderImage(pointScene(1.0 * k));
      writer.append(image.get());
    }
    EXPECT_EQ(writer.framesWritten(), 3);
    writer.close();
  }
  const test::GifContents gif = test::readGif(path);
  EXPECT_EQ(gif.width, 80);
  EXPECT_EQ(gif.height, 60);
  ASSERT_EQ(gif.frames, 3);
  EXPECT_EQ(gif.loop_count, 3);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(gif.delays_cs[k], 7);
    ASSERT_EQ(gif.pixels[k].size(), 80u * 60u);
    // (k m, 0) -> column 40 + 10 k, row 30; the other frames' places stay white.
    for (int j = 0; j < 3; ++j) {
      const test::Rgb8 pixel = gif.pixels[k][30 * 80 + 40 + 10 * j];
      EXPECT_TRUE(near(pixel, j == k ? kRed : kWhite)) << "point place " << j;
    }
  }
}

TEST_F(GifWriterTest, DestructorFinishesAnUnclosedFile) {
  const std::string path = (directory_ / "unclosed.gif").string();
  {
    GifWriter writer(path, 80, 60);
    const CairoSurface image = renderImage(pointScene(0.0));
    writer.append(image.get());
    writer.append(image.get());
  }
  const test::GifContents gif = test::readGif(path);
  EXPECT_EQ(gif.frames, 2);
  EXPECT_EQ(gif.loop_count, 0);  // forever
  EXPECT_EQ(gif.delays_cs.at(0), 10);
}

TEST_F(GifWriterTest, MisuseAndUnwritablePathsAreReported) {
  const std::string bad_path = (directory_ / "missing_folder" / "strip.gif").string();
  try {
    GifWriter writer(bad_path, 80, 60);
    ADD_FAILURE() << "expected GifError";
  } catch (const GifError& e) {
    EXPECT_NE(std::string(e.what()).find(bad_path), std::string::npos) << e.what();
  }
  EXPECT_THROW(GifWriter((directory_ / "a.gif").string(), 0, 60), std::invalid_argument);
  EXPECT_THROW(GifWriter((directory_ / "b.gif").string(), 80, 60, -1), std::invalid_argument);
  EXPECT_THROW(GifWriter((directory_ / "c.gif").string(), 80, 60, 10, 70000),
               std::invalid_argument);

  GifWriter writer((directory_ / "d.gif").string(), 80, 60);
  Scene other = pointScene(0.0);
  other.width_px = 81;
  const CairoSurface wrong_size = renderImage(other);
  EXPECT_THROW(writer.append(wrong_size.get()), std::invalid_argument);
  EXPECT_THROW(writer.append(nullptr), std::invalid_argument);
  const CairoSurface image = renderImage(pointScene(0.0));
  writer.append(image.get());
  writer.close();
  EXPECT_THROW(writer.append(image.get()), std::logic_error);
  EXPECT_EQ(test::readGif((directory_ / "d.gif").string()).frames, 1);

  // No frames: no GIF file.
  const std::string empty_path = (directory_ / "empty.gif").string();
  GifWriter empty(empty_path, 80, 60);
  EXPECT_THROW(empty.close(), GifError);
  EXPECT_FALSE(fs::exists(empty_path));
}

}  // namespace
}  // namespace birdseye
