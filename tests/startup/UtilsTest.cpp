#include <gtest/gtest.h>

#include <thread>

#include "startup/Utils.h"
#include "support/TestSupport.h"

using namespace morvia;

TEST(Utils, HexTextOfBytes) {
    const std::uint8_t b[] = {0x3F, 0x46, 0x0D};
    EXPECT_EQ(Utils::BS2S(b, 3, 3), "3F460D");
    const std::uint8_t z[] = {0x00, 0xFF};
    EXPECT_EQ(Utils::BS2S(z, 2, 2), "00FF");
    EXPECT_EQ(Utils::BS2S(z, 2, 1), "00");
    EXPECT_EQ(Utils::BS2S(z, 2, 0), "");
    EXPECT_EQ(Utils::BS2S(z, 2, -4), "");
    EXPECT_EQ(Utils::BS2S(z, 2, 9), "00FF") << "a count past the array stops at its end";
}

TEST(Utils, BytesOfHexText) {
    EXPECT_EQ(Utils::S2BS("0a1F"), (Bytes{0x0A, 0x1F}));
    Bytes forty = Utils::S2BS(std::string(40, 'A'));
    ASSERT_EQ(forty.size(), 20u);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(forty[i], 0xAA);
    for (int i = 15; i < 20; ++i) EXPECT_EQ(forty[i], 0);
    EXPECT_EQ(Utils::S2BS("ABC"), (Bytes{0xAB})) << "odd length ignores the last character";
    EXPECT_EQ(Utils::C2B('G'), 0);
    EXPECT_EQ(Utils::C2B(' '), 0);
    EXPECT_EQ(Utils::C2B('g'), 0);
    EXPECT_EQ(Utils::C2B('f'), 15);
    EXPECT_EQ(Utils::ASCIIHEX2BYTE('B'), 11);
    EXPECT_EQ(Utils::ASCIIHEX2BYTE(0xC1), 0);
    EXPECT_EQ(Utils::BYTE2ASCIIHEX(10), 0x41);
    EXPECT_EQ(Utils::BYTE2ASCIIHEX(15), 0x46);
    EXPECT_EQ(Utils::BYTE2ASCIIHEX(3), '3');
}

TEST(Utils, DelayGoesThroughTheProgramsClock) {
    auto rec = std::make_shared<test::Recorder>();
    test::ScopedFakeSleeper s(rec);
    Utils::DelayT(5000);
    Utils::DelayT(0);
    EXPECT_EQ(rec->events(), (test::Journal{"W:5000"}));
}

TEST(Utils, ConsoleLinesFromManyThreadsStayWhole) {
    test::ConsoleCapture cap;
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([t] {
            for (int i = 0; i < 200; ++i) Utils::OutLine("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& t : ts) t.join();
    auto lines = cap.lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& l : lines) EXPECT_EQ(l.rfind("thread ", 0), 0u);
}
