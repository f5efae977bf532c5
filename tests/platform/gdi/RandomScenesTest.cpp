// The 300 random scenes of tests/data/gdi-random (every primitive, pen style,
// brush, background mode and coordinate range, degenerate and huge figures)
// replayed through GDI and compared pixel for pixel with the pictures a
// reference GDI drew for them; and the scene reader on bad lines.
#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "tests/platform/gdi/GdiTestSupport.h"
#include "tests/platform/gdi/RandomScene.h"

using namespace win32;
using gditest::Canvas;
using gditest::Picture;
using gditest::Scene;
using gditest::SceneCall;

namespace {

std::string dataPath(const char* name) {
  return std::string(GDI_RANDOM_DIR) + "/" + name;
}

Picture replay(const Scene& scene) {
  Canvas canvas;
  Canvas sprite(200, 150);
  gditest::PaintSprite(sprite.dc());
  for (const SceneCall& call : scene.calls) gditest::ReplayCall(call, canvas.dc(), sprite.dc());
  GdiFlush();
  return canvas.picture();
}

// The scenes run in six shards of 50, so that each test process stays short
// under the sanitizers.
constexpr int kShards = 6;

class GdiRandomScenes : public testing::TestWithParam<int> {};

TEST_P(GdiRandomScenes, EverySceneOfTheShardPixelForPixel) {
  const std::vector<std::uint8_t> text = gditest::ReadXzFile(dataPath("scenes.txt.xz"));
  const std::vector<Scene> scenes = gditest::ParseScenes(std::string(text.begin(), text.end()));
  const std::vector<std::uint8_t> pictures = gditest::ReadXzFile(dataPath("pictures.sbrl.xz"));
  ASSERT_EQ(scenes.size(), 300u);
  const std::size_t perShard = scenes.size() / kShards;
  const std::size_t from = perShard * static_cast<std::size_t>(GetParam());
  std::size_t at = 0;
  int matching = 0;
  std::ostringstream differing;
  for (std::size_t k = 0; k < scenes.size(); ++k) {
    const Picture expected = gditest::DecodeReference(pictures, at);
    if (k < from || k >= from + perShard) continue;
    const Scene& scene = scenes[k];
    const Picture actual = replay(scene);
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.height, expected.height);
    int count = 0;
    const std::string where = gditest::Differences(expected, actual, &count);
    EXPECT_EQ(count, 0) << "seed " << scene.seed << ":" << where;
    if (count == 0) {
      ++matching;
    } else {
      differing << " " << scene.seed;
    }
  }
  EXPECT_EQ(at, pictures.size()) << "pictures left over";
  EXPECT_EQ(matching, static_cast<int>(perShard)) << "differing seeds:" << differing.str();
}

INSTANTIATE_TEST_SUITE_P(Shards, GdiRandomScenes, testing::Range(0, kShards));

TEST(GdiRandomSceneReader, TakesEveryFieldOfALine) {
  const SceneCall call = gditest::ParseSceneCall(
      "LineTo normal bkm=1 bk=11 tx=10 ps=3 pc=3 pw=0 pa=1 bs=3 bc=4 h=5 mask=f2d29cd8cc512834 "
      "src=1 end=1 a=-2000000000,378,5,6  # MoveToEx(...)");
  EXPECT_EQ(call.kind, SceneCall::Kind::LineTo);
  EXPECT_EQ(call.bkMode, 1);
  EXPECT_EQ(call.bkColour, 11);
  EXPECT_EQ(call.textColour, 10);
  EXPECT_EQ(call.penStyle, 3);
  EXPECT_EQ(call.penWidth, 0);
  EXPECT_EQ(call.penApi, 1);
  EXPECT_EQ(call.brushStyle, 3);
  EXPECT_EQ(call.brushColour, 4);
  EXPECT_EQ(call.hatch, 5);
  EXPECT_EQ(call.mask[0], 0xF2);
  EXPECT_EQ(call.mask[7], 0x34);
  EXPECT_EQ(call.source, 1);
  EXPECT_TRUE(call.endPixel);
  EXPECT_EQ(call.values, (std::vector<int>{-2000000000, 378, 5, 6}));
}

TEST(GdiRandomSceneReader, RefusesBadLinesWithTheLineNumber) {
  const char* bad[] = {
      "Circle normal a=1,2,3,4",               // unknown kind
      "Rectangle normal a=1,2,3",              // too few values
      "ArcR normal a=1,2,3,4",                 // ArcR needs its radials
      "LineTo normal a=1,2,3",                 // points come in pairs
      "Rectangle normal bk=16 a=1,2,3,4",      // colour out of range
      "Rectangle normal ps=x a=1,2,3,4",       // not a number
      "Rectangle normal mask=12 a=1,2,3,4",    // short mask
      "Rectangle normal zz=1 a=1,2,3,4",       // unknown field
      "Rectangle normal a=1,2,3,99999999999",  // past 32 bits
      "Rectangle",                             // no mode
  };
  for (const char* line : bad) {
    EXPECT_THROW(gditest::ParseSceneCall(line), std::runtime_error) << line;
    try {
      gditest::ParseScenes(std::string("# seed 1: 1 calls\n") + line + "\n");
      ADD_FAILURE() << line;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(gditest::ParseScenes("# seed 1: 2 calls\nSetPixelV normal a=1,2\n"),
               std::runtime_error);
  EXPECT_THROW(gditest::ParseScenes("SetPixelV normal a=1,2\n"), std::runtime_error);
  EXPECT_THROW(gditest::ParseScenes("# seed x: 1 calls\n"), std::runtime_error);
}

TEST(GdiRandomSceneReader, PictureDecoderRefusesDamagedData) {
  std::vector<std::uint8_t> picture = {'S', 'B', 'R', 'L', 2, 0, 1, 0, 1, 9, 9, 9, 0, 0, 2};
  std::size_t at = 0;
  const Picture good = gditest::DecodeReference(picture, at);
  EXPECT_EQ(good.pixels, (std::vector<std::uint32_t>{0x090909, 0x090909}));
  EXPECT_EQ(at, picture.size());
  auto refused = [](std::vector<std::uint8_t> bytes) {
    std::size_t from = 0;
    EXPECT_THROW(gditest::DecodeReference(bytes, from), std::runtime_error);
  };
  refused({picture.begin(), picture.end() - 1});                   // cut short
  refused({'S', 'B', 'R', 'X', 2, 0, 1, 0, 1, 9, 9, 9, 0, 0, 2});  // not a picture
  refused({'S', 'B', 'R', 'L', 2, 0, 1, 0, 1, 9, 9, 9, 0, 0, 3});  // run past the row
  refused({'S', 'B', 'R', 'L', 2, 0, 1, 0, 1, 9, 9, 9, 0, 1, 2});  // colour not in the table
  refused({'S', 'B', 'R', 'L', 2, 0, 1, 0, 1, 9, 9, 9, 1});        // repeats a row not there
  EXPECT_THROW(gditest::ReadXzFile(dataPath("convert.py")), std::runtime_error);
}

}  // namespace
