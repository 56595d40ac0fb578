#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "foundation/EventReportUnit.h"
#include "foundation/TextFormat.h"

namespace {

TEST(TextFormat, FillsStringAndIntegerPlaceholders) {
    EXPECT_EQ(FormatText("Start logging on machine %s.", {"PC1"}), "Start logging on machine PC1.");
    EXPECT_EQ(FormatText("drives found: %d", {3}), "drives found: 3");
    EXPECT_EQ(FormatText("%d %d", {-7, INT_MIN}), "-7 -2147483648");
    EXPECT_EQ(FormatText("%u", {std::uint32_t{4294967295u}}), "4294967295");
    EXPECT_EQ(FormatText("%x/%X", {255, 255u}), "ff/FF");
    EXPECT_EQ(FormatText("100%% %s", {std::string("sure")}), "100% sure");
    EXPECT_EQ(FormatText("no placeholders", {}), "no placeholders");
}

TEST(TextFormat, NegativeNumbersUnderUnsignedShowTheir32BitPattern) {
    EXPECT_EQ(FormatText("%u", {-1}), "4294967295");
    EXPECT_EQ(FormatText("%x", {-1}), "ffffffff");
}

TEST(TextFormat, WidthPrecisionAndJustification) {
    EXPECT_EQ(FormatText("[%5d]", {42}), "[   42]");
    EXPECT_EQ(FormatText("[%-5d]", {42}), "[42   ]");
    EXPECT_EQ(FormatText("[%.4d]", {-42}), "[-0042]");
    EXPECT_EQ(FormatText("[%.2s]", {"abcdef"}), "[ab]");
    EXPECT_EQ(FormatText("[%6s]", {"ab"}), "[    ab]");
}

TEST(TextFormat, MismatchesGiveNothingRatherThanAPartialText) {
    EXPECT_EQ(FormatText("%s and %s", {"one"}), std::nullopt); // too few arguments
    EXPECT_EQ(FormatText("%s", {"one", "two"}), std::nullopt); // too many
    EXPECT_EQ(FormatText("%d", {"text"}), std::nullopt);       // wrong kind
    EXPECT_EQ(FormatText("%s", {5}), std::nullopt);            // wrong kind
    EXPECT_EQ(FormatText("ends in %", {}), std::nullopt);      // lone percent
    EXPECT_EQ(FormatText("%q", {1}), std::nullopt);            // unknown type
    EXPECT_EQ(FormatText("%99999999d", {1}), std::nullopt);    // absurd width
    EXPECT_EQ(FormatText("%*d", {1, 2}), std::nullopt);        // star widths unsupported
}

TEST(TextFormat, UntrustedWideCharactersBecomeQuestionMarksBeforeAnyCodePage) {
    const struct {
        std::u16string text, safe;
    } cases[] = {
        {u"Caf\u00E9 \u4E2D.exe", u"Caf\u00E9 \u4E2D.exe"}, // letters stay
        {u"gpj\u202E.exe", u"gpj?.exe"},                    // a right-to-left override
        {u"a\u0085b\u200Bc\u2066d\uFEFF", u"a?b?c?d?"},     // C1, zero width, isolate, BOM
        {u"\U0001F600!", u"\U0001F600!"},                   // a pair stays whole
        {u"\xD83D!\xDE00", u"?!?"},                         // halves of a pair alone
        {u"end\xD83D", u"end?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceUntrustedCharacters(c.text), c.safe);
    }
}

} // namespace

TEST(EventText, ControlCharactersEscapedAndTheLengthBoundedBeforeEscaping) {
    EXPECT_EQ(EventText("E:\\x\r\nForged\x1b[0m"), "E:\\x\\x0D\\x0AForged\\x1B[0m");
    const std::string cut = EventText(std::string(5000, 'a'));
    EXPECT_EQ(cut, std::string(kMaxEventText - 3, 'a') + "...");
    const std::string controls = EventText(std::string(5000, '\n'));
    EXPECT_EQ(controls.size(), (kMaxEventText - 3) * 4 + 3); // never more than four times the bound
    EXPECT_EQ(EventText(std::string(kMaxEventText, 'b')), std::string(kMaxEventText, 'b'));
}
