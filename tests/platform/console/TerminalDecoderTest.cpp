// The terminal decoder, bytes in, records out: one table row per sequence.
#include "platform/console/TerminalDecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace win32;
using win32::detail::CharacterForm;
using win32::detail::DecodedInput;
using win32::detail::TerminalDecoder;

// "key+ scan vk char state" (hex; + down, - up), "mouse col,row buttons flags
// state", "cursor col,row".
std::string describe(const INPUT_RECORD& record) {
  char text[96];
  if (record.EventType == KEY_EVENT) {
    const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
    std::snprintf(text, sizeof text, "key%c %x %x %x %x", key.bKeyDown != 0 ? '+' : '-',
                  key.wVirtualScanCode, key.wVirtualKeyCode, key.uChar.UnicodeChar,
                  static_cast<unsigned>(key.dwControlKeyState));
    return text;
  }
  const MOUSE_EVENT_RECORD& mouse = record.Event.MouseEvent;
  std::snprintf(text, sizeof text, "mouse %d,%d %x %x %x", mouse.dwMousePosition.X,
                mouse.dwMousePosition.Y, static_cast<unsigned>(mouse.dwButtonState),
                static_cast<unsigned>(mouse.dwEventFlags),
                static_cast<unsigned>(mouse.dwControlKeyState));
  return text;
}

std::vector<std::string> describeAll(const DecodedInput& out) {
  std::vector<std::string> lines;
  for (const INPUT_RECORD& record : out.records) lines.push_back(describe(record));
  for (const COORD& reply : out.cursorReplies) {
    lines.push_back("cursor " + std::to_string(reply.X) + "," + std::to_string(reply.Y));
  }
  for (const std::string& title : out.titleReplies) lines.push_back("title " + title);
  return lines;
}

// A key's press and the release made up right after it.
std::vector<std::string> press(const std::string& key) {
  return {"key+ " + key, "key- " + key};
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Row {
  const char* name;
  std::vector<std::string> chunks;  // fed one after another; "" is the reader's wait running out
  bool replyExpected;
  std::vector<std::string> expected;
  bool titleExpected = false;
  CharacterForm form = {};
  const char* terminal = nullptr;  // its terminfo description adds to the built-in table
};

// xterm's default Alt in a UTF-8 locale, and a terminal in a single-byte one.
constexpr CharacterForm kUtf8Meta{true, true};
constexpr CharacterForm kLatin1Meta{false, true};
constexpr CharacterForm kLatin1{false, false};

void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

class DecoderRows : public testing::TestWithParam<Row> {};

TEST_P(DecoderRows, BytesGiveTheseRecords) {
  const Row& row = GetParam();
  TerminalDecoder decoder;
  decoder.setCharacterForm(row.form);
  if (row.terminal != nullptr) {
    auto description = win32::detail::DescribeTerminal(row.terminal);
    ASSERT_TRUE(description.has_value()) << row.terminal << " has no terminfo entry";
    decoder.describe(*description);
  }
  if (row.replyExpected) decoder.expectCursorReply();
  if (row.titleExpected) decoder.expectTitleReply();
  DecodedInput out;
  std::size_t fed = 0;
  for (const std::string& chunk : row.chunks) {
    if (chunk.empty()) decoder.flush(out);
    decoder.feed(chunk.data(), chunk.size(), out);
    fed += chunk.size();
  }
  decoder.flush(out);
  EXPECT_EQ(describeAll(out), row.expected);
  EXPECT_EQ(decoder.bytesConsumed(), fed);
  EXPECT_EQ(decoder.bytesWaiting(), 0u);
}

const Row kRows[] = {
    {"LetterA", {"a"}, false, press("1e 41 61 0")},
    {"CapitalAIsShiftA", {"A"}, false, press("1e 41 41 10")},
    {"ExclamationIsShift1", {"!"}, false, press("2 31 21 10")},
    {"Digit", {"7"}, false, press("8 37 37 0")},
    {"Space", {" "}, false, press("39 20 20 0")},
    {"F1AsSs3", {"\x1bOP"}, false, press("3b 70 0 0")},
    {"ShiftF1", {"\x1b[1;2P"}, false, press("3b 70 0 10")},
    {"F12", {"\x1b[24~"}, false, press("58 7b 0 0")},
    {"Up", {"\x1b[A"}, false, press("48 26 0 100")},
    {"CtrlUp", {"\x1b[1;5A"}, false, press("48 26 0 108")},
    {"Delete", {"\x1b[3~"}, false, press("53 2e 0 100")},
    {"HomeAsXtermSends", {"\x1b[H"}, false, press("47 24 0 100")},
    {"HomeAsTmuxSends", {"\x1b[1~"}, false, press("47 24 0 100")},
    {"EndAsTmuxSends", {"\x1b[4~"}, false, press("4f 23 0 100")},
    {"EnterIsCr", {"\r"}, false, press("1c d d 0")},
    {"KeypadEnterIsLf", {"\n"}, false, press("1c d d 100")},
    {"KeypadEnterAsSs3", {"\x1bOM"}, false, press("1c d d 100")},
    {"BackspaceIsDel", {"\x7f"}, false, press("e 8 8 0")},
    {"Tab", {"\t"}, false, press("f 9 9 0")},
    {"CtrlA", {"\x01"}, false, press("1e 41 1 8")},
    {"AltX", {"\x1bx"}, false, press("2d 58 78 2")},
    {"LoneEscAfterTheWait", {"\x1b"}, false, press("1 1b 1b 0")},
    {"LatinSmallEAcuteInUtf8", {"\xc3\xa9"}, false, press("0 0 e9 0")},
    {"BeyondLatin1IsAQuestionMark", {"\xe2\x82\xac"}, false, press("0 0 3f 0")},
    {"TwoKeysInOneRead", {"ab"}, false, join({press("1e 41 61 0"), press("30 42 62 0")})},
    {"SplitEscapeSequence", {"\x1b", "[", "A"}, false, press("48 26 0 100")},
    {"SplitMouseReport", {"\x1b[<0;1", "0;5M"}, false, {"mouse 9,4 1 0 0"}},
    {"MousePress", {"\x1b[<0;10;5M"}, false, {"mouse 9,4 1 0 0"}},
    {"MousePressAndRelease",
     {"\x1b[<0;10;5M\x1b[<0;10;5m"},
     false,
     {"mouse 9,4 1 0 0", "mouse 9,4 0 0 0"}},
    {"RightButton", {"\x1b[<2;3;4M"}, false, {"mouse 2,3 2 0 0"}},
    {"MiddleButton", {"\x1b[<1;3;4M"}, false, {"mouse 2,3 4 0 0"}},
    {"MotionWithoutButton", {"\x1b[<35;11;6M"}, false, {"mouse 10,5 0 1 0"}},
    {"DragWithTheLeftButton",
     {"\x1b[<0;1;1M\x1b[<32;11;6M"},
     false,
     {"mouse 0,0 1 0 0", "mouse 10,5 1 1 0"}},
    {"WheelUp", {"\x1b[<64;3;4M"}, false, {"mouse 2,3 780000 4 0"}},
    {"WheelDown", {"\x1b[<65;3;4M"}, false, {"mouse 2,3 ff880000 4 0"}},
    {"CtrlClick", {"\x1b[<16;3;4M"}, false, {"mouse 2,3 1 0 8"}},
    {"CursorReplySwallowed", {"\x1b[24;80R"}, true, {"cursor 79,23"}},
    {"CursorReplyBetweenKeys",
     {"x\x1b[3;7Ry"},
     true,
     join({press("2d 58 78 0"), press("15 59 79 0"), {"cursor 6,2"}})},
    {"CursorReplySplitOverThreeReads", {"\x1b[2", "4;8", "0R"}, true, {"cursor 79,23"}},
    {"KeyWhileAReplyIsAwaited", {"\x1b[B"}, true, press("50 28 0 100")},
    {"PrivateCursorReply", {"\x1b[?5;9R"}, true, {"cursor 8,4"}},
    {"TruncatedCsiBecomesItsBytes",
     {"\x1b[1;"},
     false,
     join({press("1a db 5b 2"), press("2 31 31 0"), press("27 ba 3b 0")})},
    {"TruncatedMouseReport",
     {"\x1b[<0;10"},
     false,
     join({press("1a db 5b 2"), press("33 bc 3c 10"), press("b 30 30 0"), press("27 ba 3b 0"),
           press("2 31 31 0"), press("b 30 30 0")})},
    // No terminal key sends these; they are dropped whole.
    {"SequenceWithIntermediateBytesIsDropped", {"\x1b[24#85Rq"}, false, press("10 51 71 0")},
    {"SplitSequenceWithIntermediateBytesIsDropped",
     {"\x1b[?1", "/", "A", "q"},
     false,
     press("10 51 71 0")},
    {"EightBitCsiIsDropped",
     {"\x9b\x1b SSq"},
     false,
     join({press("39 20 20 2"), press("1f 53 53 10"), press("1f 53 53 10"), press("10 51 71 0")})},
    {"ContinuationByteLikeCsiStaysInItsCharacter",
     {"\xc4\x9bq"},
     false,
     join({press("0 0 3f 0"), press("10 51 71 0")})},
    {"SequenceWithTooLongANumberIsDropped",
     {"\x1b[" + std::string(40, '7') + "?1uq"},
     false,
     press("10 51 71 0")},
    // No terminal is 4096 cells wide: larger cells are taken as the last.
    {"NineDigitNumbersStillPass", {"\x1b[<0;123456789;2M"}, false, {"mouse 4094,1 1 0 0"}},
    {"LeadByteWaitedOutThenEightBitCsi", {"\xdf", "", "\x9b+R"}, false, press("0 0 3f 0")},
    {"ShiftTab", {"\x1b[Z"}, false, press("f 9 9 10")},
    {"CtrlAAsModifyOtherKeysSends", {"\x1b[27;5;97~"}, false, press("1e 41 1 8")},
    {"CtrlJByNumberIsNoKeypadEnter", {"\x1b[106;5u"}, false, press("24 4a a 8")},
    {"EscEscIsTwoEscKeys", {"\x1b\x1b"}, false, join({press("1 1b 1b 0"), press("1 1b 1b 0")})},
    {"ShiftF3WhileNoReplyIsAwaited", {"\x1b[1;2R"}, false, press("3d 72 0 10")},
    {"LateCursorReplyIsNoKey", {"\x1b[24;80R"}, false, {}},
    {"KeypadZeroInApplicationMode", {"\x1bOp"}, false, press("52 60 30 0")},
    {"UnknownSequenceIsDropped", {"\x1b[99xq"}, false, press("10 51 71 0")},
    {"SubfieldsAreDropped", {"\x1b[97:65;5uq"}, false, press("10 51 71 0")},
    {"Utf8CutShortIsOneBadCharacter",
     {"\xe2\x82q"},
     false,
     join({press("0 0 3f 0"), press("10 51 71 0")})},
    {"OverlongUtf8IsBad", {"\xe0\x81\x81q"}, false, join({press("0 0 3f 0"), press("10 51 71 0")})},
    {"SequenceCutByAControlIsDropped",
     {"\x1b[1;\rq"},
     false,
     join({press("1c d d 0"), press("10 51 71 0")})},
    {"AltOAfterTheWait",
     {"\x1bO", "", "q"},
     false,
     join({press("18 4f 4f 12"), press("10 51 71 0")})},
    {"TitleReplyEndedBySt",
     {"\x1b]lmy shell\x1b\\q"},
     false,
     join({press("10 51 71 0"), {"title my shell"}}),
     true},
    {"TitleReplyEndedByBelInPieces", {"\x1b]", "lé", "\x07"}, false, {"title \xc3\xa9"}, true},
    {"EmptyTitleReply", {"\x1b]l\x1b\\"}, false, {"title "}, true},
    {"OtherCommandIsDropped", {"\x1b]11;rgb:0/0/0\x07q"}, false, press("10 51 71 0"), true},
    {"AltBracketWhileNoTitleIsAwaited", {"\x1b]"}, false, press("1b dd 5d 2")},
    {"TitleReplyCutByEscStartsAKey", {"\x1b]lab\x1b[A"}, false, press("48 26 0 100"), true},
    {"UnfinishedTitleReplyIsDroppedAfterTheWait",
     {"\x1b]lab", "", "q"},
     false,
     press("10 51 71 0"),
     true},
    {"OverlongTitleReplyIsDropped",
     {"\x1b]l" + std::string(3000, 't') + "\x07q"},
     false,
     press("10 51 71 0"),
     true},
    {"OverlongSequenceIsDropped",
     {"\x1b[" + std::string(100, '1') + "Aq"},
     false,
     press("10 51 71 0")},
    // A sequence being dropped ends with the wait: the key after it is a key.
    {"OverlongUnendedSequenceThenAPause",
     {"\x1b[" + std::string(70, '1'), "", "A"},
     false,
     press("1e 41 41 10")},
    {"OverlongUnendedSequenceThenAControl",
     {"\x1b[" + std::string(70, '1') + "\r"},
     false,
     press("1c d d 0")},
    // The X10/normal form (GNU screen, the Linux console with gpm): ESC [ M,
    // then button, column and row, each + 32.
    {"X10Press", {"\x1b[M *%"}, false, {"mouse 9,4 1 0 0"}},
    {"X10PressAndRelease",
     {"\x1b[M *%\x1b[M#*%q"},
     false,
     join({{"mouse 9,4 1 0 0", "mouse 9,4 0 0 0"}, press("10 51 71 0")})},
    {"X10RightButtonAndDrag",
     {"\x1b[M\"!!\x1b[MB#$"},
     false,
     {"mouse 0,0 2 0 0", "mouse 2,3 2 1 0"}},
    {"X10WheelUp", {"\x1b[M`*%"}, false, {"mouse 9,4 780000 4 0"}},
    {"X10CtrlClick", {"\x1b[M0*%"}, false, {"mouse 9,4 1 0 8"}},
    {"X10LastColumn", {"\x1b[M \xff!"}, false, {"mouse 222,0 1 0 0"}},
    {"X10ColumnBeyondTheForm", {std::string("\x1b[M \0!", 6)}, false, {"mouse 222,0 1 0 0"}},
    {"X10SplitOverReads", {"\x1b[", "M ", "*%"}, false, {"mouse 9,4 1 0 0"}},
    {"X10CutByTheWaitIsNoKey", {"\x1b[M ", "", "q"}, false, press("10 51 71 0")},
    {"X10EightBitCsi", {"\x9bM *%"}, false, {"mouse 9,4 1 0 0"}},
    // urxvt's 1015 form: ESC [ button+32 ; column ; row M.
    {"Urxvt1015PressAndRelease",
     {"\x1b[32;10;5M\x1b[35;10;5M"},
     false,
     {"mouse 9,4 1 0 0", "mouse 9,4 0 0 0"}},
    {"Urxvt1015Wheel", {"\x1b[97;10;5M"}, false, {"mouse 9,4 ff880000 4 0"}},
    {"Urxvt1015MoveWithoutButton", {"\x1b[67;300;5M"}, false, {"mouse 299,4 0 1 0"}},
    // Buttons 8 and 9 (back, forward) and the horizontal wheel.
    {"SgrBackButton",
     {"\x1b[<128;3;4M\x1b[<128;3;4m"},
     false,
     {"mouse 2,3 8 0 0", "mouse 2,3 0 0 0"}},
    {"SgrForwardButton", {"\x1b[<129;3;4M"}, false, {"mouse 2,3 10 0 0"}},
    {"SgrButtonsTenAndElevenHaveNoRecord",
     {"\x1b[<130;3;4M\x1b[<131;3;4Mq"},
     false,
     press("10 51 71 0")},
    {"SgrWheelLeft", {"\x1b[<66;3;4M"}, false, {"mouse 2,3 ff880000 8 0"}},
    {"SgrWheelRight", {"\x1b[<67;3;4M"}, false, {"mouse 2,3 780000 8 0"}},
    // rxvt's and urxvt's own Shift, Ctrl and Alt forms.
    {"RxvtShiftUp", {"\x1b[a"}, false, press("48 26 0 110")},
    {"RxvtShiftLeft", {"\x1b[d"}, false, press("4b 25 0 110")},
    {"RxvtCtrlUp", {"\x1bOa"}, false, press("48 26 0 108")},
    {"RxvtCtrlRight", {"\x1bOc"}, false, press("4d 27 0 108")},
    {"RxvtShiftInsert", {"\x1b[2$"}, false, press("52 2d 0 110")},
    {"RxvtCtrlF1", {"\x1b[11^"}, false, press("3b 70 0 8")},
    {"RxvtCtrlShiftDelete", {"\x1b[3@"}, false, press("53 2e 0 118")},
    {"RxvtAltUp", {"\x1b\x1b[A"}, false, press("48 26 0 102")},
    {"RxvtAltCtrlUp", {"\x1b\x1bOa"}, false, press("48 26 0 10a")},
    {"RxvtAltF1", {"\x1b\x1b[11~"}, false, press("3b 70 0 2")},
    // rxvt's Shift+F3 sends what its terminfo calls F13 (kf13): F13 it is.
    {"RxvtShiftF3IsF13", {"\x1b[25~"}, false, press("0 7c 0 0")},
    {"EscEscThenALetter", {"\x1b\x1bx"}, false, join({press("1 1b 1b 0"), press("2d 58 78 2")})},
    {"ThreeEscs",
     {"\x1b\x1b\x1b"},
     false,
     join({press("1 1b 1b 0"), press("1 1b 1b 0"), press("1 1b 1b 0")})},
    // The Linux console: F1-F5, the keypad's 5 and Shift+Tab.
    {"LinuxF1", {"\x1b[[A"}, false, press("3b 70 0 0")},
    {"LinuxF5", {"\x1b[[E"}, false, press("3f 74 0 0")},
    {"LinuxUnknownBracketFormIsDropped", {"\x1b[[Zq"}, false, press("10 51 71 0")},
    {"LinuxKeypad5", {"\x1b[G"}, false, press("4c c 0 0")},
    {"LinuxShiftTab", {"\x1b\t"}, false, press("f 9 9 10")},
    // SS3 with xterm's modifier number.
    {"Ss3ShiftF1", {"\x1bO2P"}, false, press("3b 70 0 10")},
    {"Ss3CtrlKeypadPlus", {"\x1bO5k"}, false, press("4e 6b 2b 8")},
    {"Ss3DigitsCutByTheWait",
     {"\x1bO5", "", "q"},
     false,
     join({press("18 4f 4f 12"), press("6 35 35 0"), press("10 51 71 0")})},
    // Alt as the eighth bit, and as ESC before a UTF-8 character.
    {"AltAAsUtf8Meta", {"\xc3\xa1"}, false, press("1e 41 61 2"), false, kUtf8Meta},
    {"AltShiftAAsUtf8Meta", {"\xc3\x81"}, false, press("1e 41 41 12"), false, kUtf8Meta},
    {"AltAAsRawMeta", {"\xe1"}, false, press("1e 41 61 2"), false, kLatin1Meta},
    {"EAcuteAsLatin1", {"\xe9"}, false, press("0 0 e9 0"), false, kLatin1},
    {"AltBeforeUtf8Character", {"\x1b\xc3\xa9"}, false, press("0 0 e9 2")},
    // 8-bit introducers, as bytes and as UTF-8.
    {"EightBitCsiUp",
     {"\x9b"
      "A"},
     false,
     press("48 26 0 100")},
    {"EightBitSs3F1", {"\x8fP"}, false, press("3b 70 0 0")},
    {"Utf8EncodedCsiUp",
     {"\xc2\x9b"
      "A"},
     false,
     press("48 26 0 100")},
    {"Utf8EncodedCsiSplit", {"\xc2", "\x9b", "1;5A"}, false, press("48 26 0 108")},
    {"EightBitCsiInLatin1",
     {"\x9b"
      "B"},
     false,
     press("50 28 0 100"),
     false,
     kLatin1},
    {"EightBitCsiCutByTheWait",
     {"\x9b"
      "1",
      "", "q"},
     false,
     join({press("2 31 31 0"), press("10 51 71 0")})},
    // Controls typed with Ctrl and a sign, and Ctrl+Backspace.
    {"CtrlCaret", {"\x1e"}, false, press("7 36 1e 18")},
    {"CtrlUnderscore", {"\x1f"}, false, press("c bd 1f 18")},
    {"CtrlBackspaceIsBs", {"\x08"}, false, press("e 8 7f 8")},
    // Replies are taken for the queries asked, and dropped when nobody asked.
    // Captured from xterm 379 (mouse modes 1000 and 1002 only, so the X10/
    // normal form) and from rxvt-unicode 9.30 (1015 without 1006).
    {"XtermX10PressDragRelease",
     {"\x1b[M *%\x1b[M@.'\x1b[M#.'"},
     false,
     {"mouse 9,4 1 0 0", "mouse 13,6 1 1 0", "mouse 13,6 0 0 0"}},
    {"XtermX10BackButton",
     {"\x1b[M\xa0.'", "\x1b[M#.'"},
     false,
     {"mouse 13,6 8 0 0", "mouse 13,6 0 0 0"}},
    {"XtermSgrWheelLeftWithItsRelease",
     {"\x1b[<66;10;5M\x1b[<66;10;5m"},
     false,
     {"mouse 9,4 ff880000 8 0"}},
    {"XtermAnswersBothCursorQueries", {"\x1b[?1;1;1R\x1b[1;1R"}, true, {"cursor 0,0"}},
    {"XtermAltAIsUtf8Meta", {"\xc3\xa1"}, false, press("1e 41 61 2"), false, {}, "xterm"},
    {"UrxvtRightButton1015",
     {"\x1b[34;8;5M\x1b[35;8;5M"},
     false,
     {"mouse 7,4 2 0 0", "mouse 7,4 0 0 0"}},
    {"UrxvtShiftEnd", {"\x1b[8$"}, false, press("4f 23 0 110")},
    {"UrxvtCtrlHome", {"\x1b[7^"}, false, press("47 24 0 108")},
    // Keys as terminfo describes them, where the built-in table does not know
    // them; where it does (xterm's kf13 is its Shift+F1) it has the first word.
    {"SunF1FromTerminfo", {"\x1b[224z"}, false, press("3b 70 0 0"), false, {}, "sun"},
    {"SunHomeFromTerminfo", {"\x1b[214z"}, false, press("47 24 0 100"), false, {}, "sun"},
    {"SunBackspaceIsBs", {"\x08"}, false, press("e 8 8 0"), false, {}, "sun"},
    {"MachEndFromTerminfo", {"\x1b[Y"}, false, press("4f 23 0 100"), false, {}, "mach"},
    {"MachF5FromTerminfo", {"\x1bOT"}, false, press("3f 74 0 0"), false, {}, "mach"},
    {"MachInsertFromTerminfo", {"\x1b[@"}, false, press("52 2d 0 100"), false, {}, "mach"},
    {"AltWithADescribedKey", {"\x1b\x1b[220z"}, false, press("4f 23 0 102"), false, {}, "sun"},
    {"UnknownToBothIsDropped", {"\x1b[299zq"}, false, press("10 51 71 0"), false, {}, "sun"},
    {"XtermKf13IsShiftF1", {"\x1b[1;2P"}, false, press("3b 70 0 10"), false, {}, "xterm"},
    {"RxvtKf13IsF13", {"\x1b[25~"}, false, press("0 7c 0 0"), false, {}, "rxvt-unicode"},
    {"UnaskedPrivateCursorReplyIsDropped", {"\x1b[?5;9Rq"}, false, press("10 51 71 0")},
    {"PrivateReplyThenItsPlainEcho", {"\x1b[?5;9;1R\x1b[5;9R"}, true, {"cursor 8,4"}},
    {"ShiftF3AfterThePrivateReply",
     {"\x1b[?1;2R\x1b[1;2R\x1b[1;2R"},
     true,
     join({press("3d 72 0 10"), {"cursor 1,0"}})},
};

INSTANTIATE_TEST_SUITE_P(Terminal, DecoderRows, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST(TerminalDecoderTest, AnIncompleteSequenceWaitsForMoreOrForTheTimeout) {
  TerminalDecoder decoder;
  DecodedInput out;
  EXPECT_EQ(decoder.pendingTimeout(), -1);
  decoder.feed("\x1b[", 2, out);
  EXPECT_TRUE(out.records.empty());
  EXPECT_GT(decoder.pendingTimeout(), 0);
  decoder.feed("C", 1, out);
  EXPECT_EQ(out.records.size(), 2u);
  EXPECT_EQ(decoder.pendingTimeout(), -1);
}

// A flush of console input drops a half-read key, but a reply still awaited
// is still taken out (a row-1 reply would otherwise read as F3).
TEST(TerminalDecoderTest, DiscardingDropsWhatWaitsButKeepsTheRepliesAwaited) {
  TerminalDecoder decoder;
  DecodedInput out;
  decoder.expectCursorReply();
  decoder.feed("\x1b[1;", 4, out);
  decoder.discardPending();
  EXPECT_EQ(decoder.bytesWaiting(), 0u);
  EXPECT_EQ(decoder.pendingTimeout(), -1);
  decoder.feed("\x1b[1;17R", 7, out);
  EXPECT_EQ(describeAll(out), std::vector<std::string>{"cursor 16,0"});
  EXPECT_EQ(decoder.bytesConsumed(), 11u);
}

// Once the terminal has answered DECXCPR, a plain report before the private
// reply is the key it looks like (Shift+F3 typed just before a query).
TEST(TerminalDecoderTest, ATerminalThatAnswersPrivatelyHasNoPlainReplies) {
  TerminalDecoder decoder;
  DecodedInput out;
  decoder.expectCursorReply();
  const std::string first = "\x1b[?3;4R\x1b[3;4R";
  decoder.feed(first.data(), first.size(), out);
  decoder.expectCursorReply();
  const std::string second = "\x1b[1;2R\x1b[?5;9R\x1b[5;9R";
  decoder.feed(second.data(), second.size(), out);
  EXPECT_EQ(describeAll(out), join({press("3d 72 0 10"), {"cursor 3,2", "cursor 8,4"}}));
}

// A terminal described by terminfo is understood: every key its description
// names gives one key press.
TEST(TerminalDecoderTest, EveryKeyATerminalDescribesIsAKey) {
  for (const char* name : {"xterm", "xterm-256color", "screen", "tmux-256color", "rxvt-unicode",
                           "linux", "vt220", "sun", "mach", "hurd", "Eterm", "wsvt25", "cons25"}) {
    auto description = win32::detail::DescribeTerminal(name);
    if (!description) continue;  // not installed here
    for (const win32::detail::DescribedKey& key : description->keys) {
      SCOPED_TRACE(std::string(name) + " " + key.bytes.substr(1));
      TerminalDecoder decoder;
      decoder.describe(*description);
      DecodedInput out;
      decoder.feed(key.bytes.data(), key.bytes.size(), out);
      decoder.flush(out);
      ASSERT_EQ(out.records.size(), 2u);
      EXPECT_EQ(out.records[0].EventType, KEY_EVENT);
    }
  }
}

TEST(TerminalDecoderTest, NoDescriptionForAnUnknownTerminal) {
  EXPECT_FALSE(win32::detail::DescribeTerminal("no-such-terminal-here").has_value());
  EXPECT_FALSE(win32::detail::DescribeTerminal("").has_value());
  EXPECT_FALSE(win32::detail::DescribeTerminal(nullptr).has_value());
}

TEST(TerminalDecoderTest, ALongUnendedSequenceNeitherHangsNorLosesBytes) {
  TerminalDecoder decoder;
  DecodedInput out;
  std::string bytes = "\x1b[";
  bytes.append(5000, '1');
  decoder.feed(bytes.data(), bytes.size(), out);
  decoder.flush(out);
  EXPECT_EQ(decoder.bytesConsumed(), bytes.size());
  EXPECT_EQ(decoder.bytesWaiting(), 0u);
}

}  // namespace
