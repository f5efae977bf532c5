// The ten reference scenes, drawn on a memory DC and compared pixel for pixel
// with the reference pictures.
#include <gtest/gtest.h>

#include <functional>

#include "tests/platform/gdi/GdiTestSupport.h"

using namespace win32;
using gditest::C;
using gditest::Canvas;

namespace {

void drawFigures(Canvas& canvas) {
  canvas.outlineEllipse(50, 50, 150, 150, 7);
  canvas.outlineRect(180, 180, 220, 220, 7);
  canvas.outlineEllipse(280, 280, 320, 320, 7);
  canvas.outlineEllipse(80, 290, 120, 310, 7);
}

void drawHatches(Canvas& canvas) {
  canvas.hatchRect(20, 20, 219, 219, 12, HS_CROSS);
  canvas.hatchRect(250, 20, 449, 219, 12, HS_DIAGCROSS);
  canvas.hatchEllipse(20, 250, 219, 449, 10, HS_HORIZONTAL);
  canvas.hatchEllipse(250, 250, 449, 449, 14, HS_FDIAGONAL);
}

struct Scene {
  const char* name;
  std::function<void(Canvas&)> draw;
};

void PrintTo(const Scene& scene, std::ostream* os) {
  *os << scene.name;
}

const Scene kScenes[] = {
    {"s01_figures", drawFigures},
    {"s02_grown",
     [](Canvas& c) {
       drawFigures(c);
       c.outlineEllipse(260, 260, 340, 340, 7);
       c.outlineEllipse(220, 220, 380, 380, 7);
       c.outlineEllipse(140, 140, 460, 460, 7);
     }},
    {"s03_square_grown",
     [](Canvas& c) {
       drawFigures(c);
       c.outlineRect(160, 160, 240, 240, 7);
     }},
    {"s04_hatch_opaque",
     [](Canvas& c) {
       SetBkColor(c.dc(), C(1));
       SetBkMode(c.dc(), OPAQUE);
       drawHatches(c);
     }},
    {"s05_hatch_transparent",
     [](Canvas& c) {
       c.fillRect(0, 0, 499, 499, 8);
       SetBkColor(c.dc(), C(1));
       SetBkMode(c.dc(), TRANSPARENT);
       drawHatches(c);
     }},
    {"s06_pattern",
     [](Canvas& c) {
       SetBkColor(c.dc(), C(1));
       const std::uint8_t mixed[8] = {0xAA, 0x55, 0xAA, 0x55, 0xF0, 0x0F, 0x81, 0x18};
       const std::uint8_t full[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
       const std::uint8_t empty[8] = {};
       c.patternRect(10, 10, 249, 249, 14, mixed);
       c.patternEllipse(260, 10, 489, 249, 12, mixed);
       c.patternRect(10, 260, 249, 489, 10, full);
       c.patternRect(260, 260, 489, 489, 10, empty);
     }},
    {"s07_dotted",
     [](Canvas& c) {
       SetBkColor(c.dc(), C(4));
       SetBkMode(c.dc(), OPAQUE);
       c.outlineEllipse(50, 50, 150, 150, 15, PS_DOT);
       c.outlineRect(200, 50, 300, 150, 15, PS_DOT);
       c.line(20, 200, 480, 200, 15, PS_DOT);
       c.line(20, 220, 480, 300, 15, PS_DOT);
       SetBkMode(c.dc(), TRANSPARENT);
       c.line(20, 320, 480, 320, 15, PS_DOT);
       c.outlineEllipse(50, 350, 150, 450, 15, PS_DOT);
     }},
    {"s08_degenerate",
     [](Canvas& c) {
       c.line(100, 100, 140, 100, 7);
       c.line(200, 80, 200, 120, 7);
       SetPixelV(c.dc(), 300, 100, C(15));
       c.line(250, 250, 250, 250, 7);
       c.outlineEllipse(400, 400, 402, 402, 7);
       c.outlineEllipse(410, 400, 413, 403, 7);
       SetPixelV(c.dc(), 5, 5, C(14));
     }},
    {"s09_filled",
     [](Canvas& c) {
       c.fillEllipse(50, 50, 250, 150, 2);
       c.fillRect(300, 50, 450, 200, 4);
       c.fillEllipse(100, 250, 400, 450, 6);
       c.outlineEllipse(100, 250, 400, 450, 15);
     }},
    {"s10_invert",
     [](Canvas& c) {
       c.fillRect(0, 0, 249, 499, 7);
       c.invert(0, 0, 8, 16);
       c.invert(100, 100, 140, 164);
       c.invert(240, 200, 260, 220);
     }},
};

class ReferenceScene : public testing::TestWithParam<Scene> {};

TEST_P(ReferenceScene, MatchesReferencePixelForPixel) {
  const Scene& scene = GetParam();
  const gditest::Picture expected = gditest::LoadReference(scene.name);
  Canvas canvas;
  scene.draw(canvas);
  GdiFlush();
  const gditest::Picture actual = canvas.picture();
  ASSERT_EQ(actual.width, expected.width);
  ASSERT_EQ(actual.height, expected.height);
  int count = 0;
  const std::string where = gditest::Differences(expected, actual, &count);
  EXPECT_EQ(count, 0) << scene.name << ":" << where;
}

INSTANTIATE_TEST_SUITE_P(GdiScenes, ReferenceScene, testing::ValuesIn(kScenes),
                         [](const testing::TestParamInfo<Scene>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
