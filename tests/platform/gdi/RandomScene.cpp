#include "tests/platform/gdi/RandomScene.h"

#include <charconv>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "tests/platform/gdi/GdiTestSupport.h"

using namespace win32;

namespace gditest {

namespace {

struct KindName {
  std::string_view name;
  SceneCall::Kind kind;
  std::size_t minValues;  // LineTo: at least two points, in pairs
  std::size_t maxValues;
};

constexpr KindName kKinds[] = {
    {"Rectangle", SceneCall::Kind::Rectangle, 4, 4},
    {"Ellipse", SceneCall::Kind::Ellipse, 4, 4},
    {"Arc0", SceneCall::Kind::Arc0, 4, 4},
    {"ArcR", SceneCall::Kind::ArcR, 8, 8},
    {"LineTo", SceneCall::Kind::LineTo, 4, 1000},
    {"SetPixelV", SceneCall::Kind::SetPixelV, 2, 2},
    {"InvertRect", SceneCall::Kind::InvertRect, 4, 4},
    {"FillRect", SceneCall::Kind::FillRect, 4, 4},
    {"BitBlt", SceneCall::Kind::BitBlt, 6, 6},
};

int toInt(std::string_view text, std::string_view field) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw std::runtime_error("bad number '" + std::string(text) + "' in " + std::string(field));
  }
  return value;
}

int inRange(int value, int low, int high, std::string_view field) {
  if (value < low || value > high) {
    throw std::runtime_error(std::string(field) + " out of range: " + std::to_string(value));
  }
  return value;
}

std::array<std::uint8_t, 8> toMask(std::string_view text) {
  if (text.size() != 16) throw std::runtime_error("mask is not 16 hex digits");
  std::array<std::uint8_t, 8> mask{};
  for (std::size_t i = 0; i < 8; ++i) {
    unsigned value = 0;
    const char* from = text.data() + 2 * i;
    const auto [end, error] = std::from_chars(from, from + 2, value, 16);
    if (error != std::errc() || end != from + 2) throw std::runtime_error("bad mask digit");
    mask[i] = static_cast<std::uint8_t>(value);
  }
  return mask;
}

std::vector<int> toValues(std::string_view text) {
  std::vector<int> values;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    values.push_back(toInt(text.substr(0, comma), "a"));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
  }
  return values;
}

void setField(SceneCall& call, std::string_view key, std::string_view value) {
  if (key == "bkm")
    call.bkMode = inRange(toInt(value, key), 1, 2, key);
  else if (key == "bk")
    call.bkColour = inRange(toInt(value, key), 0, 15, key);
  else if (key == "tx")
    call.textColour = inRange(toInt(value, key), 0, 15, key);
  else if (key == "ps")
    call.penStyle = inRange(toInt(value, key), 0, 5, key);
  else if (key == "pc")
    call.penColour = inRange(toInt(value, key), 0, 15, key);
  else if (key == "pw")
    call.penWidth = inRange(toInt(value, key), 0, 1, key);
  else if (key == "pa")
    call.penApi = inRange(toInt(value, key), 0, 1, key);
  else if (key == "bs")
    call.brushStyle = inRange(toInt(value, key), 0, 3, key);
  else if (key == "bc")
    call.brushColour = inRange(toInt(value, key), 0, 15, key);
  else if (key == "h")
    call.hatch = inRange(toInt(value, key), 0, 5, key);
  else if (key == "mask")
    call.mask = toMask(value);
  else if (key == "src")
    call.source = inRange(toInt(value, key), 0, 1, key);
  else if (key == "end")
    call.endPixel = inRange(toInt(value, key), 0, 1, key) == 1;
  else if (key == "a")
    call.values = toValues(value);
  else
    throw std::runtime_error("unknown field " + std::string(key));
}

// The blank-separated words of a line up to its note.
std::vector<std::string_view> wordsOf(std::string_view line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t start = line.find_first_not_of(" \t\r", at);
    if (start == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
    words.push_back(line.substr(start, end - start));
    at = end;
  }
  return words;
}

COLORREF palette(int n) {
  return PALETTEINDEX(static_cast<WORD>(n));
}

// The call's pen and brush, made, selected and afterwards released.
class Tools {
 public:
  Tools(HDC dc, const SceneCall& call, bool withBrush) : dc_(dc) {
    const auto style = static_cast<UINT>(call.penStyle);
    if (call.penApi == 0) {
      const LOGPEN log{style, {call.penWidth, 0}, palette(call.penColour)};
      pen_ = CreatePenIndirect(&log);
    } else {
      pen_ = CreatePen(call.penStyle, call.penWidth, palette(call.penColour));
    }
    brush_ = withBrush ? MakeBrush(call, pattern_) : CreateBrushIndirect(&kNull);
    if (pen_ == nullptr || brush_ == nullptr) throw std::runtime_error("cannot make the tools");
    oldPen_ = SelectObject(dc_, pen_);
    oldBrush_ = SelectObject(dc_, brush_);
  }
  ~Tools() {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    DeleteObject(pen_);
    DeleteObject(brush_);
    if (pattern_ != nullptr) DeleteObject(pattern_);
  }
  Tools(const Tools&) = delete;
  Tools& operator=(const Tools&) = delete;

  // The brush of bs/bc/h/mask; a pattern brush's bitmap goes to `pattern`,
  // to be deleted after the brush.
  static HBRUSH MakeBrush(const SceneCall& call, HBITMAP& pattern) {
    switch (call.brushStyle) {
      case 0: {
        const LOGBRUSH log{BS_SOLID, palette(call.brushColour), 0};
        return CreateBrushIndirect(&log);
      }
      case 2: {
        const LOGBRUSH log{BS_HATCHED, palette(call.brushColour),
                           static_cast<ULONG_PTR>(call.hatch)};
        return CreateBrushIndirect(&log);
      }
      case 3: {
        std::array<WORD, 8> rows{};
        for (std::size_t i = 0; i < 8; ++i) rows[i] = static_cast<WORD>(255 - call.mask[i]);
        pattern = CreateBitmap(8, 8, 1, 1, rows.data());
        const LOGBRUSH log{BS_PATTERN, palette(call.brushColour),
                           reinterpret_cast<ULONG_PTR>(pattern)};
        return CreateBrushIndirect(&log);
      }
      default:
        return CreateBrushIndirect(&kNull);
    }
  }

 private:
  static constexpr LOGBRUSH kNull{BS_NULL, 0, 0};
  HDC dc_;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
  HBITMAP pattern_ = nullptr;
  HGDIOBJ oldPen_ = nullptr;
  HGDIOBJ oldBrush_ = nullptr;
};

}  // namespace

SceneCall ParseSceneCall(const std::string& line) {
  const std::vector<std::string_view> words = wordsOf(line);
  if (words.size() < 2) throw std::runtime_error("a call needs a kind and a mode");
  SceneCall call;
  const KindName* kind = nullptr;
  for (const KindName& k : kKinds) {
    if (k.name == words[0]) kind = &k;
  }
  if (kind == nullptr) throw std::runtime_error("unknown call " + std::string(words[0]));
  call.kind = kind->kind;
  for (std::size_t w = 2; w < words.size(); ++w) {
    const std::size_t equals = words[w].find('=');
    if (equals == std::string_view::npos) {
      throw std::runtime_error("'" + std::string(words[w]) + "' is not key=value");
    }
    setField(call, words[w].substr(0, equals), words[w].substr(equals + 1));
  }
  const std::size_t n = call.values.size();
  if (n < kind->minValues || n > kind->maxValues || n % 2 != 0) {
    throw std::runtime_error(std::string(kind->name) + " with " + std::to_string(n) + " values");
  }
  return call;
}

std::vector<Scene> ParseScenes(const std::string& text) {
  std::vector<Scene> scenes;
  std::size_t expected = 0;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    try {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      if (line.rfind("#", 0) == 0) {
        if (!scenes.empty() && scenes.back().calls.size() != expected) {
          throw std::runtime_error("the scene before has the wrong number of calls");
        }
        int seed = 0;
        int calls = 0;
        char colon = 0;
        std::istringstream header(line.substr(1));
        std::string word;
        if (!(header >> word >> seed >> colon >> calls) || word != "seed" || colon != ':' ||
            calls < 0) {
          throw std::runtime_error("bad scene header");
        }
        scenes.push_back({seed, {}});
        expected = static_cast<std::size_t>(calls);
        continue;
      }
      if (scenes.empty()) throw std::runtime_error("a call before the first scene header");
      scenes.back().calls.push_back(ParseSceneCall(line));
    } catch (const std::runtime_error& e) {
      throw std::runtime_error("scene line " + std::to_string(number) + ": " + e.what());
    }
  }
  if (!scenes.empty() && scenes.back().calls.size() != expected) {
    throw std::runtime_error("the last scene has the wrong number of calls");
  }
  return scenes;
}

void PaintSprite(HDC sprite) {
  for (int by = 0; by < 6; ++by) {
    for (int bx = 0; bx < 8; ++bx) {
      HBRUSH brush = CreateSolidBrush(palette((bx + 3 * by) % 15 + 1));
      const RECT block{25 * bx, 25 * by, 25 * bx + 25, 25 * by + 25};
      FillRect(sprite, &block, brush);
      DeleteObject(brush);
    }
  }
}

void ReplayCall(const SceneCall& call, HDC dc, HDC sprite) {
  SetBkColor(dc, palette(call.bkColour));
  SetBkMode(dc, call.bkMode == 2 ? OPAQUE : TRANSPARENT);
  SetTextColor(dc, palette(call.textColour));
  const std::vector<int>& v = call.values;
  switch (call.kind) {
    case SceneCall::Kind::Rectangle: {
      Tools tools(dc, call, true);
      Rectangle(dc, v[0], v[1], v[2], v[3]);
      break;
    }
    case SceneCall::Kind::Ellipse: {
      Tools tools(dc, call, true);
      Ellipse(dc, v[0], v[1], v[2], v[3]);
      break;
    }
    case SceneCall::Kind::Arc0: {
      Tools tools(dc, call, false);
      Arc(dc, v[0], v[1], v[2], v[3], 0, 0, 0, 0);
      break;
    }
    case SceneCall::Kind::ArcR: {
      Tools tools(dc, call, false);
      Arc(dc, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
      break;
    }
    case SceneCall::Kind::LineTo: {
      {
        Tools tools(dc, call, false);
        MoveToEx(dc, v[0], v[1], nullptr);
        for (std::size_t k = 2; k + 1 < v.size(); k += 2) LineTo(dc, v[k], v[k + 1]);
      }
      if (call.endPixel) SetPixelV(dc, v[v.size() - 2], v[v.size() - 1], palette(call.penColour));
      break;
    }
    case SceneCall::Kind::SetPixelV:
      SetPixelV(dc, v[0], v[1], palette(call.penColour));
      break;
    case SceneCall::Kind::InvertRect: {
      const RECT rect{v[0], v[1], v[2], v[3]};
      InvertRect(dc, &rect);
      break;
    }
    case SceneCall::Kind::FillRect: {
      HBITMAP pattern = nullptr;
      HBRUSH brush = Tools::MakeBrush(call, pattern);
      const RECT rect{v[0], v[1], v[2], v[3]};
      FillRect(dc, &rect, brush);
      DeleteObject(brush);
      if (pattern != nullptr) DeleteObject(pattern);
      break;
    }
    case SceneCall::Kind::BitBlt:
      BitBlt(dc, v[0], v[1], v[2], v[3], call.source == 1 ? sprite : dc, v[4], v[5], SRCCOPY);
      break;
  }
}

}  // namespace gditest
