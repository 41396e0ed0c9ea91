// Every frame the program builds, read by the printer: the two readings of
// the frames must agree on where each frame ends and what it asks for.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "printer_model.h"
#include "protocol/frames.h"
#include "pty_client.h"

namespace {

using vprinter::Bytes;
using vprinter_test::Hex;

struct Built {
    std::string what;
    Bytes frame;
    bool read;  // asks for a value, not a change
};

template <typename Build>
Built Make(const std::string& what, Build build) {
    morvane::FrameBuffer buf{};
    const morvane::Frame frame = build(buf);
    return {what, Bytes(buf, buf + frame.length), morvane::IsValueOperation(frame.operation)};
}

std::vector<Built> EveryFrame() {
    using namespace morvane;
    std::vector<Built> all = {
        Make("read name", [](FrameBuffer& b) { return BuildReadName(b); }),
        Make("read address", [](FrameBuffer& b) { return BuildReadAddress(b); }),
        Make("read password", [](FrameBuffer& b) { return BuildReadPassword(b); }),
        Make("name", [](FrameBuffer& b) { return BuildSetName(b, "Shop 7"); }),
        Make("longest name", [](FrameBuffer& b) { return BuildSetName(b, std::string(kMaxTextBytes, 'n')); }),
        Make("empty password", [](FrameBuffer& b) { return BuildSetPassword(b, ""); }),
        Make("longest password", [](FrameBuffer& b) { return BuildSetPassword(b, std::string(kMaxTextBytes, '9')); }),
        Make("position 0", [](FrameBuffer& b) { return BuildPosition(b, 0); }),
        Make("position -28", [](FrameBuffer& b) { return BuildPosition(b, -28); }),
        Make("position 255", [](FrameBuffer& b) { return BuildPosition(b, 255); }),
        Make("simplified", [](FrameBuffer& b) { return BuildChineseMode(b, 0); }),
        Make("traditional", [](FrameBuffer& b) { return BuildChineseMode(b, 1); }),
    };
    // An empty name goes out as 1D 46 72 00, the very bytes of the read:
    // the printer can only answer it as a read.
    all.push_back(Make("empty name", [](FrameBuffer& b) { return BuildSetName(b, ""); }));
    all.back().read = true;
    for (int s = 0; s <= static_cast<int>(ListSetting::PaperWidth); ++s) {
        const auto setting = static_cast<ListSetting>(s);
        all.push_back(Make("list setting " + std::to_string(s) + ", first item",
                           [&](FrameBuffer& b) { return BuildListSetting(b, setting, 0); }));
    }
    return all;
}

TEST(ProtocolFrames, EachIsRecognisedWhole) {
    for (const Built& built : EveryFrame()) {
        const Bytes& frame = built.frame;
        EXPECT_EQ(vprinter::FrameLength(frame.data(), frame.size()), frame.size()) << built.what << ": " << Hex(frame);
        // Byte by byte, as it comes off the line: complete at the last byte only.
        vprinter::FrameReader reader;
        Bytes got, skipped;
        std::size_t completedAt = 0;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (reader.Push(frame[i], &got, &skipped)) completedAt = i + 1;
        }
        EXPECT_EQ(completedAt, frame.size()) << built.what;
        EXPECT_EQ(Hex(got), Hex(frame)) << built.what;
        EXPECT_TRUE(skipped.empty()) << built.what << ": skipped " << Hex(skipped);
    }
}

TEST(ProtocolFrames, EachIsAnsweredInTheFormItExpects) {
    for (const Built& built : EveryFrame()) {
        vprinter::Settings settings;
        const vprinter::Answer answer = vprinter::AnswerFrame(built.frame, &settings);
        const Bytes& reply = answer.bytes;
        ASSERT_GE(reply.size(), 4u) << built.what;
        EXPECT_EQ(Hex(Bytes(reply.begin(), reply.begin() + 3)),
                  Hex(Bytes(built.frame.begin(), built.frame.begin() + 3)))
            << built.what << ": header and code";
        if (built.read) {
            EXPECT_TRUE(answer.isValue) << built.what;
            EXPECT_EQ(reply.size(), 4u + reply[3]) << built.what << ": " << Hex(reply);
        } else {
            // Each value built here is one the printer accepts.
            EXPECT_EQ(Hex(reply), Hex(Bytes{0x1D, 0x46, built.frame[2], 0x00})) << built.what;
            EXPECT_FALSE(settings.setCodes.empty()) << built.what << ": nothing stored";
        }
    }
}

}  // namespace
