#include <gtest/gtest.h>

#include <random>
#include <string>

#include "startup/SettingsReader.h"

using namespace morvia;
using Table = SettingsReader::Table;

TEST(SettingsReader, LinesKeysSeparatorsAndComments) {
    Table t = SettingsReader::parse(
        "# a comment\n"
        "! another = comment\n"
        "\n"
        "   \t  \n"
        "Verbose=YES\n"
        "  UserNote : Studio A  \n"
        "DVDCOMPort\t/dev/ttyUSB0\n"
        "TCOffset   =   01:00:00:00\n"
        "Empty\n"
        "EmptyEq=\n"
        "Twice==x\n"
        "  # indented comment\n"
        "a:b=c\n"
        "verbose=lower\n");
    EXPECT_EQ(t.at("Verbose"), "YES");
    EXPECT_EQ(t.at("UserNote"), "Studio A  ") << "trailing blanks belong to the value";
    EXPECT_EQ(t.at("DVDCOMPort"), "/dev/ttyUSB0");
    EXPECT_EQ(t.at("TCOffset"), "01:00:00:00");
    EXPECT_EQ(t.at("Empty"), "");
    EXPECT_EQ(t.at("EmptyEq"), "");
    EXPECT_EQ(t.at("Twice"), "=x") << "only one separator is skipped";
    EXPECT_EQ(t.at("a"), "b=c");
    EXPECT_EQ(t.at("verbose"), "lower") << "keys are case-sensitive";
    EXPECT_EQ(t.size(), 9u);
    EXPECT_EQ(t.count("#"), 0u);
    EXPECT_EQ(t.count("!"), 0u);
}

TEST(SettingsReader, LastOccurrenceWinsAndLineEndsMix) {
    Table t = SettingsReader::parse("StartTitle=3\r\nStartTitle=7\rUserNote=one\nUserNote=two");
    EXPECT_EQ(t.at("StartTitle"), "7");
    EXPECT_EQ(t.at("UserNote"), "two") << "the last line needs no line end";
    EXPECT_EQ(t.size(), 2u);
}

TEST(SettingsReader, Escapes) {
    Table t = SettingsReader::parse(
        "tabs=a\\tb\\nc\\rd\n"
        "uni=\\u0041\\u00e9\\u20AC\n"
        "other=\\q\\\\\\#\\ x\n"
        "key\\ with\\=odd\\:chars = v\n"
        "surrogates=\\uD83D\\uDE00|\\uD83D|\\uDE00\n"
        "short=\\u12G4\\u41\n"
        "formfeed=\\f\n");
    EXPECT_EQ(t.at("tabs"), "a\tb\nc\rd");
    EXPECT_EQ(t.at("uni"), "A\xC3\xA9\xE2\x82\xAC") << "characters come back as UTF-8";
    EXPECT_EQ(t.at("other"), "q\\# x");
    EXPECT_EQ(t.at("key with=odd:chars"), "v");
    EXPECT_EQ(t.at("surrogates"), "\xF0\x9F\x98\x80|\xEF\xBF\xBD|\xEF\xBF\xBD")
        << "a surrogate pair is one character; lone surrogates are U+FFFD";
    EXPECT_EQ(t.at("short"), "u12G4u41") << "a \\u without four hex digits stands for u";
    EXPECT_EQ(t.at("formfeed"), "f");
}

TEST(SettingsReader, ContinuationLines) {
    Table t = SettingsReader::parse(
        "long=first \\\n"
        "      second\\\r\n"
        "\t third\n"
        "even=ends in backslash\\\\\n"
        "next=x\n"
        "comment=\\\n"
        "  # not a comment here\n"
        "# a comment ends with a backslash \\\n"
        "after=y\n"
        "stop=a\\\n"
        "\n"
        "orphan\n"
        "eof=z\\");
    EXPECT_EQ(t.at("long"), "first secondthird");
    EXPECT_EQ(t.at("even"), "ends in backslash\\");
    EXPECT_EQ(t.at("next"), "x");
    EXPECT_EQ(t.at("comment"), "# not a comment here");
    EXPECT_EQ(t.at("after"), "y") << "a comment line never continues";
    EXPECT_EQ(t.at("stop"), "a") << "an empty line ends the continuation";
    EXPECT_EQ(t.at("orphan"), "");
    EXPECT_EQ(t.at("eof"), "z") << "a backslash at the end of the input is dropped";
}

TEST(SettingsReader, BytesAreLatin1) {
    std::string file = "UserNote=Caf\xE9 \xFF\x80\n";
    file += std::string("nul=a") + '\0' + "b\n";
    file += "\xC4key=v\n";
    Table t = SettingsReader::parse(file);
    EXPECT_EQ(t.at("UserNote"), "Caf\xC3\xA9 \xC3\xBF\xC2\x80");
    EXPECT_EQ(t.at("nul"), std::string("a\0b", 3));
    EXPECT_EQ(t.at("\xC3\x84key"), "v");
    EXPECT_EQ(SettingsReader::utf8Length(t.at("UserNote")), 7u);
    EXPECT_EQ(SettingsReader::utf8Prefix(t.at("UserNote"), 4), "Caf\xC3\xA9");
    EXPECT_EQ(SettingsReader::utf8Prefix("abc", 10), "abc");
    EXPECT_EQ(SettingsReader::utf8Prefix("abc", 0), "");
}

TEST(SettingsReader, HugeFileAndLongValues) {
    std::string file;
    file.reserve(24u << 20);
    for (int i = 0; i < 200000; ++i) file += "Key" + std::to_string(i % 1000) + "=value " + std::to_string(i) + "\n";
    file += "Big=" + std::string(8u << 20, 'x') + "\\\n   " + std::string(1000, 'y') + "\n";
    Table t = SettingsReader::parse(file);
    EXPECT_EQ(t.size(), 1001u);
    EXPECT_EQ(t.at("Key999"), "value 199999");
    ASSERT_EQ(t.at("Big").size(), (8u << 20) + 1000u);
    EXPECT_EQ(t.at("Big").back(), 'y');

    std::string manyBackslashes(1u << 20, '\\');
    Table b = SettingsReader::parse("k=" + manyBackslashes + "\nz=1\n");
    EXPECT_EQ(b.at("k"), std::string(1u << 19, '\\')) << "an even run is escaped backslashes, no continuation";
    EXPECT_EQ(b.at("z"), "1");
}

TEST(SettingsReader, BinaryGarbageNeverBreaksIt) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::string specials = "\\u=: \t\r\n#!0aF";
    for (int round = 0; round < 300; ++round) {
        std::string file(static_cast<std::size_t>(rng() % 4000), '\0');
        for (auto& c : file) c = (rng() % 3 == 0) ? specials[rng() % specials.size()] : static_cast<char>(byte(rng));
        Table t = SettingsReader::parse(file);
        for (const auto& [k, v] : t) {
            // Everything that comes back is well-formed UTF-8.
            for (const std::string* s : {&k, &v}) {
                std::size_t i = 0;
                while (i < s->size()) {
                    auto c = static_cast<unsigned char>((*s)[i]);
                    std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
                    ASSERT_TRUE(c < 0x80 || c >= 0xC2) << "no stray continuation byte";
                    ASSERT_LE(i + len, s->size());
                    for (std::size_t k2 = 1; k2 < len; ++k2)
                        ASSERT_EQ(static_cast<unsigned char>((*s)[i + k2]) & 0xC0, 0x80);
                    i += len;
                }
            }
        }
    }
    EXPECT_TRUE(SettingsReader::parse("").empty());
    EXPECT_EQ(SettingsReader::parse("\\").at(""), "") << "a lone backslash is an empty key";
    EXPECT_EQ(SettingsReader::parse("\\\\").at("\\"), "");
    EXPECT_EQ(SettingsReader::parse("=v").at(""), "v");
    EXPECT_EQ(SettingsReader::parse("k=\\u").at("k"), "u");
}
