// TarnPort.ini as people write it: with Notepad's byte-order mark, spaces,
// comments, any letter case, and lines the library cannot read.
#include <gtest/gtest.h>

#include <string>

#include "libs/tarnport/ini_parse.h"

namespace {

using tarnport::IniEntries;
using tarnport::ParsePortsSection;

std::string Show(const IniEntries& entries) {
    std::string out;
    for (const auto& [key, value] : entries) out += key + "=" + value + ";";
    return out;
}

TEST(IniParse, WhatNotepadWritesIsRead) {
    const struct {
        const char* why;
        const char* text;
        const char* expected;
    } cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF[Ports]\r\nUSB1=Z:\\a\r\n", "USB1=Z:\\a;"},
        {"spaces around =", "[Ports]\n  USB1 \t=  Z:\\a b  \n", "USB1=Z:\\a b;"},
        {"comments", "; one\n[Ports]\n# two\n;USB2=x\nUSB1=y\n", "USB1=y;"},
        {"any case", "[pOrTs]\nusb1=Z:\\a\nLpt2=Z:\\b\n", "USB1=Z:\\a;LPT2=Z:\\b;"},
        {"later line wins, empty value unmaps", "[Ports]\nUSB1=a\nUSB2=b\nUSB1=c\nUSB2=\n", "USB1=c;"},
        {"quoted value", "[Ports]\nUSB1=\"Z:\\with space\"\n", "USB1=Z:\\with space;"},
        {"other sections", "[Other]\nUSB1=a\n[Ports]\nUSB2=b\n[More]\nUSB3=c\n", "USB2=b;"},
    };
    for (const auto& c : cases) EXPECT_EQ(Show(ParsePortsSection(c.text)), c.expected) << c.why;
}

TEST(IniParse, UnreadableLineIsSkippedAndTheOthersStand) {
    const char* const garbage[] = {"[Ports", "[", "]", "=x", "no equals sign", "\xEF\xBB\xBF", "[Ports]]x"};
    for (const char* line : garbage) {
        const std::string text = std::string("[Ports]\nUSB1=a\n") + line + "\nUSB2=b\n";
        EXPECT_EQ(Show(ParsePortsSection(text)), "USB1=a;USB2=b;") << "after \"" << line << "\"";
    }
}

}  // namespace
