#include "platform/MessageFrame.h"

#include <gtest/gtest.h>

#include <string>

using namespace Korvane::Platform;

namespace
{
MessageDictionary Request()
{
    return {{"source", MessageValue::String("updater")},
            {"message", MessageValue::Data(std::string("run \0x", 6))}};
}

std::string Payload(const std::string& frame)
{
    return frame.substr(kFrameHeaderSize);
}
} // namespace

TEST(MessageFrameTest, RoundTripsTypedEntries)
{
    const std::string frame = EncodeFrame(Request(), FrameKind::Request);
    ASSERT_FALSE(frame.empty());
    uint32_t length = 0;
    FrameKind kind = FrameKind::Message;
    ASSERT_TRUE(
        DecodeFrameHeader(reinterpret_cast<const unsigned char*>(frame.data()), length, kind));
    EXPECT_EQ(length, frame.size() - kFrameHeaderSize);
    EXPECT_EQ(kind, FrameKind::Request);
    MessageDictionary decoded;
    ASSERT_TRUE(DecodeFramePayload(Payload(frame), decoded));
    EXPECT_EQ(decoded, Request());
}

TEST(MessageFrameTest, RefusesDictionariesBreakingBounds)
{
    MessageDictionary tooMany;
    for (uint32_t index = 0; index <= kMaxFrameEntries; ++index)
        tooMany.emplace("k" + std::to_string(index), MessageValue::Data("v"));
    const MessageDictionary cases[] = {
        tooMany,
        {{std::string(kMaxKeyLength + 1, 'k'), MessageValue::Data("v")}},
        {{"", MessageValue::Data("v")}},
        {{"s", MessageValue::String(std::string("a\0b", 3))}},
        {{"big", MessageValue::Data(std::string(kMaxFramePayload, 'x'))}},
    };
    for (const MessageDictionary& dictionary : cases)
        EXPECT_TRUE(EncodeFrame(dictionary, FrameKind::Message).empty());
}

TEST(MessageFrameTest, RejectsMalformedPayloads)
{
    const std::string good = Payload(EncodeFrame(Request(), FrameKind::Request));
    std::string badType = good;
    badType[4] = 9;
    std::string duplicate =
        Payload(EncodeFrame({{"a", MessageValue::Data("1")}}, FrameKind::Message));
    duplicate[3] = 2;
    duplicate += duplicate.substr(4);
    const std::string cases[] = {
        "",        good.substr(0, good.size() - 1),    good + "x",
        badType,   std::string("\xff\xff\xff\xff", 4), std::string("\0\0\0\1\1\xff\xff\xff\xff", 9),
        duplicate,
    };
    for (const std::string& payload : cases)
    {
        MessageDictionary decoded{{"stale", MessageValue::Data("x")}};
        EXPECT_FALSE(DecodeFramePayload(payload, decoded)) << payload.size();
        EXPECT_TRUE(decoded.empty());
    }
}

TEST(MessageFrameTest, HeaderRefusesOversizedLengthAndUnknownKind)
{
    const unsigned char oversized[kFrameHeaderSize] = {0x00, 0x10, 0x00, 0x01, 0x00};
    const unsigned char unknownKind[kFrameHeaderSize] = {0, 0, 0, 4, 7};
    uint32_t length = 0;
    FrameKind kind = FrameKind::Message;
    EXPECT_FALSE(DecodeFrameHeader(oversized, length, kind));
    EXPECT_FALSE(DecodeFrameHeader(unknownKind, length, kind));
}

TEST(MessageFrameTest, AssemblerSplitsAStreamByteByByteAndStaysPoisoned)
{
    const std::string stream =
        EncodeFrame(Request(), FrameKind::Request) +
        EncodeFrame({{"message", MessageValue::Data("ok")}}, FrameKind::Reply);
    FrameAssembler assembler;
    int frames = 0;
    MessageDictionary dictionary;
    FrameKind kind = FrameKind::Message;
    for (char byte : stream)
    {
        assembler.Append(&byte, 1);
        while (assembler.Next(dictionary, kind) == FrameAssembler::Result::Frame)
            ++frames;
    }
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(kind, FrameKind::Reply);
    EXPECT_EQ(dictionary.at("message").bytes, "ok");

    const std::string garbage = "\xff\xff\xff\xff\x01garbage";
    assembler.Append(garbage.data(), garbage.size());
    EXPECT_EQ(assembler.Next(dictionary, kind), FrameAssembler::Result::Malformed);
    assembler.Append(stream.data(), stream.size());
    EXPECT_EQ(assembler.Next(dictionary, kind), FrameAssembler::Result::Malformed);
}
