#include "platform/MessageFrame.h"

namespace Korvane
{
namespace Platform
{
namespace
{
void AppendU32(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>((value >> 24) & 0xff));
    out.push_back(static_cast<char>((value >> 16) & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
    out.push_back(static_cast<char>(value & 0xff));
}

uint32_t ReadU32(const unsigned char* bytes)
{
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

class PayloadReader
{
  public:
    explicit PayloadReader(const std::string& payload) : mPayload(payload) {}

    bool ReadU32Value(uint32_t& value)
    {
        if (Remaining() < 4)
            return false;
        value = ReadU32(reinterpret_cast<const unsigned char*>(mPayload.data() + mOffset));
        mOffset += 4;
        return true;
    }
    bool ReadByte(uint8_t& value)
    {
        if (Remaining() < 1)
            return false;
        value = static_cast<uint8_t>(mPayload[mOffset++]);
        return true;
    }
    bool ReadBytes(uint32_t length, std::string& out)
    {
        if (Remaining() < length)
            return false;
        out.assign(mPayload, mOffset, length);
        mOffset += length;
        return true;
    }
    size_t Remaining() const { return mPayload.size() - mOffset; }

  private:
    const std::string& mPayload;
    size_t mOffset = 0;
};

bool IsValidType(uint8_t type)
{
    return type == static_cast<uint8_t>(MessageValue::Type::String) ||
           type == static_cast<uint8_t>(MessageValue::Type::Data);
}

bool IsValidEntry(const std::string& key, const MessageValue& value)
{
    if (key.empty() || key.size() > kMaxKeyLength)
        return false;
    return value.type != MessageValue::Type::String || value.bytes.find('\0') == std::string::npos;
}
} // namespace

std::string EncodeFrame(const MessageDictionary& dictionary, FrameKind kind)
{
    if (dictionary.size() > kMaxFrameEntries)
        return std::string();
    std::string payload;
    AppendU32(payload, static_cast<uint32_t>(dictionary.size()));
    for (const auto& [key, value] : dictionary)
    {
        if (!IsValidEntry(key, value) || value.bytes.size() > kMaxFramePayload)
            return std::string();
        payload.push_back(static_cast<char>(value.type));
        AppendU32(payload, static_cast<uint32_t>(key.size()));
        payload += key;
        AppendU32(payload, static_cast<uint32_t>(value.bytes.size()));
        payload += value.bytes;
        if (payload.size() > kMaxFramePayload)
            return std::string();
    }
    std::string frame;
    frame.reserve(kFrameHeaderSize + payload.size());
    AppendU32(frame, static_cast<uint32_t>(payload.size()));
    frame.push_back(static_cast<char>(kind));
    frame += payload;
    return frame;
}

bool DecodeFrameHeader(const unsigned char* header, uint32_t& payloadLength, FrameKind& kind)
{
    payloadLength = ReadU32(header);
    const uint8_t kindByte = header[4];
    if (kindByte > static_cast<uint8_t>(FrameKind::Reply))
        return false;
    kind = static_cast<FrameKind>(kindByte);
    return payloadLength <= kMaxFramePayload;
}

bool DecodeFramePayload(const std::string& payload, MessageDictionary& dictionary)
{
    dictionary.clear();
    if (payload.size() > kMaxFramePayload)
        return false;
    PayloadReader reader(payload);
    uint32_t count = 0;
    if (!reader.ReadU32Value(count) || count > kMaxFrameEntries)
        return false;
    for (uint32_t index = 0; index < count; ++index)
    {
        uint8_t type = 0;
        uint32_t keyLength = 0;
        uint32_t valueLength = 0;
        std::string key;
        MessageValue value;
        if (!reader.ReadByte(type) || !IsValidType(type) || !reader.ReadU32Value(keyLength) ||
            keyLength > kMaxKeyLength || !reader.ReadBytes(keyLength, key) ||
            !reader.ReadU32Value(valueLength) || !reader.ReadBytes(valueLength, value.bytes))
        {
            dictionary.clear();
            return false;
        }
        value.type = static_cast<MessageValue::Type>(type);
        if (!IsValidEntry(key, value) ||
            !dictionary.emplace(std::move(key), std::move(value)).second)
        {
            dictionary.clear();
            return false;
        }
    }
    if (reader.Remaining() != 0)
    {
        dictionary.clear();
        return false;
    }
    return true;
}

void FrameAssembler::Append(const char* bytes, size_t count)
{
    if (!mPoisoned)
        mBuffer.append(bytes, count);
}

FrameAssembler::Result FrameAssembler::Next(MessageDictionary& dictionary, FrameKind& kind)
{
    if (mPoisoned)
        return Result::Malformed;
    if (mBuffer.size() < kFrameHeaderSize)
        return Result::Incomplete;
    uint32_t length = 0;
    if (!DecodeFrameHeader(reinterpret_cast<const unsigned char*>(mBuffer.data()), length, kind))
    {
        mPoisoned = true;
        mBuffer.clear();
        return Result::Malformed;
    }
    if (mBuffer.size() - kFrameHeaderSize < length)
        return Result::Incomplete;
    const std::string payload = mBuffer.substr(kFrameHeaderSize, length);
    mBuffer.erase(0, kFrameHeaderSize + length);
    if (!DecodeFramePayload(payload, dictionary))
    {
        mPoisoned = true;
        mBuffer.clear();
        return Result::Malformed;
    }
    return Result::Frame;
}

} // namespace Platform
} // namespace Korvane
