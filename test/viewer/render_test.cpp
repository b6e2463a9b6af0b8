// Pictures drawn from hand-built scenes, read back from PNG files with cairo. Every expected pixel
// is worked out by hand from the mapping: column u = width/2 + (x - centre_x) / mpp, row
// v = height/2 - (y - centre_y) / mpp (x to the right, y up).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "birdseye/render.hpp"
#include "birdseye/scale_bar.hpp"
#include "picture_reader.hpp"

namespace birdseye {
namespace {

namespace fs = std::filesystem;
using test::near;
using test::pixelAt;

constexpr double kPi = 3.14159265358979323846;
const Rgb kRed{1.0, 0.0, 0.0};
const Rgb kBlue{0.0, 0.0, 1.0};
const Rgb kWhite{1.0, 1.0, 1.0};

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("birdseye_render_" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  // A bare 400 x 400 picture at 0.01 m per pixel around the origin: nothing but what a test adds.
  static Scene bareScene() {
    Scene scene;
    scene.width_px = 400;
    scene.height_px = 400;
    scene.metres_per_pixel = 0.01;
    scene.scale_bar = false;
    scene.legend = false;
    scene.classes = {{"static", kBlue, true}, {"dynamic", kRed, true}};
    return scene;
  }

  CairoSurface renderAndRead(const Scene& scene, const std::string& name) {
    const std::string path = (directory_ / name).string();
    renderPng(scene, path);
    return test::readPng(path);
  }

  fs::path directory_;
};

TEST_F(RenderTest, PointsLandAtHandComputedPixelsWithXRightAndYUp) {
  {
    // 0.02 m per pixel: (1, 0) is 50 px right of the centre (200, 200); (0, 1) 50 px above it.
    Scene scene = bareScene();
    scene.metres_per_pixel = 0.02;
    scene.points = {{1.0, 0.0, 1}, {0.0, 1.0, 0}};
    const CairoSurface image = renderAndRead(scene, "axes.png");
    ASSERT_EQ(cairo_image_surface_get_width(image.get()), 400);
    ASSERT_EQ(cairo_image_surface_get_height(image.get()), 400);
    EXPECT_TRUE(near(pixelAt(image.get(), 250, 200), kRed));
    EXPECT_TRUE(near(pixelAt(image.get(), 200, 150), kBlue));
    // Where a y-down or x-up mapping would have put them: nothing.
    EXPECT_TRUE(near(pixelAt(image.get(), 200, 250), kWhite));
    EXPECT_TRUE(near(pixelAt(image.get(), 150, 200), kWhite));
    EXPECT_TRUE(near(pixelAt(image.get(), 200, 150 - 3), kWhite));  // 3 px square: 149..151
  }
  {
    // Centre (2, -1): (1, 0) is -1 m in x and +1 m in y from it -> (200 - 50, 200 - 50).
    Scene scene = bareScene();
    scene.metres_per_pixel = 0.02;
    scene.centre_x = 2.0;
    scene.centre_y = -1.0;
    scene.points = {{1.0, 0.0, 1}};
    const CairoSurface image = renderAndRead(scene, "centred.png");
    EXPECT_TRUE(near(pixelAt(image.get(), 150, 150), kRed));
    EXPECT_TRUE(near(pixelAt(image.get(), 250, 200), kWhite));
  }
  {
    // Later points cover earlier ones: red drawn over blue at the same place stays red.
    Scene scene = bareScene();
    scene.points = {{0.5, 0.5, 0}, {0.5, 0.5, 1}};
    const CairoSurface image = renderAndRead(scene, "order.png");
    EXPECT_TRUE(near(pixelAt(image.get(), 250, 150), kRed));
  }
}

TEST_F(RenderTest, RobotFootprintOutlineRunsThroughItsCorners) {
  Scene scene = bareScene();
  scene.footprint = RobotFootprint{};  // 0.41, -0.315, 0.255
  scene.style.footprint = kBlue;
  const CairoSurface image = renderAndRead(scene, "footprint.png");
  // Corners: front-left (0.41, 0.255) -> (241, 174.5); front-right (0.41, -0.255) -> (241,
  // 225.5); back-left (-0.315, 0.255) -> (168.5, 174.5); back-right -> (168.5, 225.5). The 2 px
  // outline covers the pixel whose top-left corner is the floor of each.
  EXPECT_TRUE(near(pixelAt(image.get(), 241, 174), kBlue));
  EXPECT_TRUE(near(pixelAt(image.get(), 241, 225), kBlue));
  EXPECT_TRUE(near(pixelAt(image.get(), 168, 174), kBlue));
  EXPECT_TRUE(near(pixelAt(image.get(), 168, 225), kBlue));
  // Mid front edge x = 0.41 at y = 0.15 -> (241, 185); mid left edge y = 0.255 at x = -0.1 ->
  // (190, 174).
  EXPECT_TRUE(near(pixelAt(image.get(), 241, 185), kBlue));
  EXPECT_TRUE(near(pixelAt(image.get(), 190, 174), kBlue));
  // 5 px beyond the corners along the side edges (x = 0.46 and x = -0.365): background.
  EXPECT_TRUE(near(pixelAt(image.get(), 246, 174), kWhite));
  EXPECT_TRUE(near(pixelAt(image.get(), 246, 225), kWhite));
  EXPECT_TRUE(near(pixelAt(image.get(), 163, 174), kWhite));
  EXPECT_TRUE(near(pixelAt(image.get(), 163, 225), kWhite));
  // 5 px beyond the front edge ends (y = +-0.305): background.
  EXPECT_TRUE(near(pixelAt(image.get(), 241, 169), kWhite));
  EXPECT_TRUE(near(pixelAt(image.get(), 241, 230), kWhite));
  // Inside (x = -0.2, y = 0.1): the light fill.
  const test::Rgb8 inside = pixelAt(image.get(), 180, 190);
  EXPECT_FALSE(near(inside, kBlue, 60));
  EXPECT_FALSE(near(inside, kWhite, 10));
}

TEST_F(RenderTest, ScaleBarHasTheNiceLengthInPixels) {
  // A fifth of the picture's width, rounded down to 1, 2 or 5 times a power of ten.
  EXPECT_DOUBLE_EQ(scaleBarMetres(0.01, 400), 0.5);  // 0.8 m -> 0.5 m
  EXPECT_DOUBLE_EQ(scaleBarMetres(0.02, 600), 2.0);  // 2.4 m -> 2 m
  EXPECT_DOUBLE_EQ(scaleBarMetres(0.05, 200), 2.0);  // exactly 2 m stays 2 m
  EXPECT_DOUBLE_EQ(scaleBarMetres(0.05, 1000), 10.0);
  EXPECT_NEAR(scaleBarMetres(0.001, 100), 0.02, 1e-12);

  struct Case {
    double mpp;
    int width;
    int expected_px;  // bar metres / mpp, by hand
  };
  for (const Case& c : {Case{0.01, 400, 50}, Case{0.02, 600, 100}, Case{0.005, 500, 100}}) {
    SCOPED_TRACE(c.mpp);
    Scene scene = bareScene();
    scene.metres_per_pixel = c.mpp;
    scene.width_px = c.width;
    scene.scale_bar = true;
    scene.style.scale_bar = kRed;
    const CairoSurface image = renderAndRead(scene, "scale.png");
    // The bar is 4 px high with its lower edge 20 px above the bottom: row height - 22 is inside.
    const int row = scene.height_px - 22;
    int first = -1;
    int count = 0;
    for (int u = 0; u < c.width; ++u) {
      if (near(pixelAt(image.get(), u, row), kRed)) {
        if (first < 0) {
          first = u;
        }
        ++count;
      }
    }
    EXPECT_EQ(first, 16);
    EXPECT_EQ(count, c.expected_px);
  }
}

TEST_F(RenderTest, BoxTurnedByHalfPiLaysItsWidthAlongY) {
  // Centre (1, 0.5), length 0.4, width 0.8, yaw pi/2: the width runs along +y (y 0.1..0.9 ->
  // rows 190..110) and the length across (x 0.8..1.2 -> columns 280..320).
  Scene scene = bareScene();
  scene.boxes = {SceneBox{1.0, 0.5, 0.4, 0.8, kPi / 2.0, kBlue}};
  const CairoSurface image = renderAndRead(scene, "box.png");
  EXPECT_TRUE(near(pixelAt(image.get(), 290, 110), kBlue));  // y = 0.9 edge at x = 0.9
  EXPECT_TRUE(near(pixelAt(image.get(), 290, 190), kBlue));  // y = 0.1 edge
  EXPECT_TRUE(near(pixelAt(image.get(), 280, 170), kBlue));  // x = 0.8 edge at y = 0.3
  EXPECT_TRUE(near(pixelAt(image.get(), 320, 170), kBlue));  // x = 1.2 edge
  // Read the other way (width along x: x 0.6..1.4, y 0.3..0.7) the outline would pass here.
  EXPECT_TRUE(near(pixelAt(image.get(), 260, 140), kWhite));
  EXPECT_TRUE(near(pixelAt(image.get(), 340, 140), kWhite));
  // The heading tick runs from the centre (300, 150) towards +y only: (1.0, 0.7) -> (300, 130).
  EXPECT_TRUE(near(pixelAt(image.get(), 300, 130), kBlue));
  EXPECT_FALSE(near(pixelAt(image.get(), 300, 170), kBlue, 60));
}

TEST_F(RenderTest, FrustumWedgeCoversItsAnglesOnly) {
  // Apex at the origin, 0..90 degrees, 1 m deep: the quadrant x > 0, y > 0 up to 1 m.
  Scene scene = bareScene();
  scene.frusta = {Frustum{0.0, 0.0, 0.0, 90.0, 1.0}};
  scene.style.frustum = kBlue;
  const CairoSurface image = renderAndRead(scene, "frustum.png");
  EXPECT_FALSE(near(pixelAt(image.get(), 250, 150), kWhite, 8));  // (0.5, 0.5): tinted
  EXPECT_TRUE(near(pixelAt(image.get(), 150, 150), kWhite));      // (-0.5, 0.5)
  EXPECT_TRUE(near(pixelAt(image.get(), 250, 250), kWhite));      // (0.5, -0.5)
  EXPECT_TRUE(near(pixelAt(image.get(), 280, 120), kWhite));      // (0.8, 0.8): beyond 1 m
  {
    // Inside a 0.3 m region the wedge stops at the region's edge: (0.5, 0.2) is outside it.
    scene.region = Region{0.3, 0.3};
    const CairoSurface clipped = renderAndRead(scene, "clipped.png");
    EXPECT_FALSE(near(pixelAt(clipped.get(), 220, 190), kWhite, 8));  // (0.2, 0.1): inside
    const test::Rgb8 outside = pixelAt(clipped.get(), 250, 180);      // (0.5, 0.2)
    EXPECT_TRUE(near(outside, kWhite));
  }
}

TEST_F(RenderTest, BadScenesAndUnwritablePathsAreReported) {
  {
    Scene scene = bareScene();
    scene.points = {{0.0, 0.0, 2}};  // two classes only
    try {
      renderImage(scene);
      ADD_FAILURE() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("class index 2"), std::string::npos) << e.what();
    }
  }
  {
    Scene scene = bareScene();
    scene.metres_per_pixel = 0.0;
    EXPECT_THROW(renderImage(scene), std::invalid_argument);
    scene.metres_per_pixel = 0.01;
    scene.width_px = 0;
    EXPECT_THROW(renderImage(scene), std::invalid_argument);
    scene.width_px = 400;
    scene.points = {{std::nan(""), 0.0, 0}};
    EXPECT_THROW(renderImage(scene), std::invalid_argument);
    scene.points.clear();
    scene.boxes = {SceneBox{0.0, 0.0, -1.0, 1.0, 0.0, kBlue}};
    EXPECT_THROW(renderImage(scene), std::invalid_argument);
    scene.boxes.clear();
    scene.frusta = {Frustum{0.0, 0.0, 0.0, 1e9, 1.0}};  // would take a billion wedge steps
    EXPECT_THROW(renderImage(scene), std::invalid_argument);
  }
  {
    const std::string path = (directory_ / "missing_folder" / "picture.png").string();
    try {
      renderPng(bareScene(), path);
      ADD_FAILURE() << "expected RenderError";
    } catch (const RenderError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(path));
  }
}

}  // namespace
}  // namespace birdseye
