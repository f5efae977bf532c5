// The random GDI scenes of tests/data/gdi-random: reading their lines and
// replaying them through GDI. One call a line:
//   KIND MODE bkm=B bk=K tx=T ps=S pc=P pw=W pa=A bs=R bc=C h=H mask=M src=X end=E a=V1,...  # note
// Each field is described at its member of SceneCall below. Before every call
// the background colour, background mode and text colour are set from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace gditest {

struct SceneCall {
  enum class Kind {
    Rectangle,
    Ellipse,
    Arc0,
    ArcR,
    LineTo,
    SetPixelV,
    InvertRect,
    FillRect,
    BitBlt
  };
  Kind kind = Kind::SetPixelV;
  int bkMode = 2;                      // bkm: 2 OPAQUE, else TRANSPARENT
  int bkColour = 0;                    // bk: palette index
  int textColour = 0;                  // tx
  int penStyle = 0;                    // ps: PS_*
  int penColour = 0;                   // pc
  int penWidth = 1;                    // pw
  int penApi = 0;                      // pa: 0 CreatePenIndirect, 1 CreatePen
  int brushStyle = 1;                  // bs: 0 solid, 1 null, 2 hatched, 3 pattern
  int brushColour = 0;                 // bc
  int hatch = 0;                       // h: HS_*
  std::array<std::uint8_t, 8> mask{};  // pattern rows, 1 = brush colour
  int source = 0;                      // src: BitBlt from the canvas (0) or the sprite (1)
  bool endPixel = false;               // end: SetPixelV on the last point of a LineTo run
  std::vector<int> values;             // a
};

struct Scene {
  int seed = 0;
  std::vector<SceneCall> calls;
};

// One call line (the part after '#' is ignored); throws std::runtime_error
// naming what is wrong.
SceneCall ParseSceneCall(const std::string& line);

// Scenes text: "# seed N: K calls" headers, each followed by its K calls.
// Blank lines are skipped; throws std::runtime_error with the line number.
std::vector<Scene> ParseScenes(const std::string& text);

// The second DC of every scene: 200 x 150, painted with 8 x 6 blocks of
// 25 x 25, block (bx, by) in palette colour (bx + 3 by) mod 15 + 1.
void PaintSprite(win32::HDC sprite);

// Carries out one call on the canvas DC, with the sprite DC as a BitBlt source.
void ReplayCall(const SceneCall& call, win32::HDC canvas, win32::HDC sprite);

}  // namespace gditest
