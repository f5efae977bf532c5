#include "platform/console/TerminalDescription.h"

#include <strings.h>

// Its header declares C functions without saying so to C++.
extern "C" {
#include <unibilium.h>
}

#include <cstdlib>
#include <memory>
#include <string_view>

namespace win32::detail {
namespace {

struct NamedSymbol {
  unibi_string capability;
  KeySymbol symbol;
  int modifiers;
};

constexpr NamedSymbol kSymbols[] = {
    {unibi_key_btab, KeySymbol::Tab, kModShift},
    {unibi_key_up, KeySymbol::Up, 0},
    {unibi_key_down, KeySymbol::Down, 0},
    {unibi_key_left, KeySymbol::Left, 0},
    {unibi_key_right, KeySymbol::Right, 0},
    {unibi_key_home, KeySymbol::Home, 0},
    {unibi_key_end, KeySymbol::End, 0},
    {unibi_key_ic, KeySymbol::Insert, 0},
    {unibi_key_dc, KeySymbol::Delete, 0},
    {unibi_key_ppage, KeySymbol::PageUp, 0},
    {unibi_key_npage, KeySymbol::PageDown, 0},
    {unibi_key_b2, KeySymbol::Begin, 0},
    {unibi_key_enter, KeySymbol::KeypadEnter, 0},
    {unibi_key_sr, KeySymbol::Up, kModShift},  // terminfo's "scroll backward" key
    {unibi_key_sf, KeySymbol::Down, kModShift},
    {unibi_key_sleft, KeySymbol::Left, kModShift},
    {unibi_key_sright, KeySymbol::Right, kModShift},
    {unibi_key_shome, KeySymbol::Home, kModShift},
    {unibi_key_send, KeySymbol::End, kModShift},
    {unibi_key_sic, KeySymbol::Insert, kModShift},
    {unibi_key_sdc, KeySymbol::Delete, kModShift},
    {unibi_key_sprevious, KeySymbol::PageUp, kModShift},
    {unibi_key_snext, KeySymbol::PageDown, kModShift},
};

// terminfo numbers the function keys F1 to F24 as kf1 to kf24 (a terminal
// whose Shift+F1 sends kf13 has it read as F13, as its description says).
constexpr unibi_string kFunctionKeys[] = {
    unibi_key_f1,  unibi_key_f2,  unibi_key_f3,  unibi_key_f4,  unibi_key_f5,  unibi_key_f6,
    unibi_key_f7,  unibi_key_f8,  unibi_key_f9,  unibi_key_f10, unibi_key_f11, unibi_key_f12,
    unibi_key_f13, unibi_key_f14, unibi_key_f15, unibi_key_f16, unibi_key_f17, unibi_key_f18,
    unibi_key_f19, unibi_key_f20, unibi_key_f21, unibi_key_f22, unibi_key_f23, unibi_key_f24,
};

struct Destroy {
  void operator()(unibi_term* term) const { unibi_destroy(term); }
};

void addKey(const unibi_term* term, unibi_string capability, const TerminalKey& key,
            TerminalDescription& description) {
  const char* bytes = unibi_get_str(term, capability);
  if (bytes != nullptr && bytes[0] != '\0') description.keys.push_back({bytes, key});
}

bool namesUtf8(std::string_view locale) {
  const std::size_t dot = locale.find('.');
  if (dot == std::string_view::npos) return true;
  std::string codeset(locale.substr(dot + 1, locale.find('@') - dot - 1));
  return ::strcasecmp(codeset.c_str(), "UTF-8") == 0 || ::strcasecmp(codeset.c_str(), "utf8") == 0;
}

}  // namespace

std::optional<TerminalDescription> DescribeTerminal(const char* name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
  const std::unique_ptr<unibi_term, Destroy> term(unibi_from_term(name));
  if (term == nullptr) return std::nullopt;
  TerminalDescription description;
  for (const NamedSymbol& row : kSymbols) {
    addKey(term.get(), row.capability, KeyOfSymbol(row.symbol, row.modifiers), description);
  }
  for (int number = 1; number <= 24; ++number) {
    addKey(term.get(), kFunctionKeys[number - 1], FunctionKey(number, 0), description);
  }
  const char* backspace = unibi_get_str(term.get(), unibi_key_backspace);
  if (backspace != nullptr && backspace[0] != '\0' && backspace[1] == '\0') {
    description.backspace = static_cast<unsigned char>(backspace[0]);
  }
  const char* metaOn = unibi_get_str(term.get(), unibi_meta_on);
  description.eightBitMeta = metaOn != nullptr && metaOn[0] != '\0';
  return description;
}

bool LocaleIsUtf8() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return namesUtf8(value);
  }
  return true;
}

}  // namespace win32::detail
