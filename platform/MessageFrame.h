#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace Korvane
{
namespace Platform
{

// One typed entry of a message dictionary. Strings travel without a
// terminating NUL and must not contain one; data is any bytes.
struct MessageValue
{
    enum class Type : uint8_t
    {
        String = 1,
        Data = 2,
    };
    Type type = Type::Data;
    std::string bytes;

    static MessageValue String(std::string text) { return {Type::String, std::move(text)}; }
    static MessageValue Data(std::string bytes) { return {Type::Data, std::move(bytes)}; }
    bool operator==(const MessageValue& other) const
    {
        return type == other.type && bytes == other.bytes;
    }
};

using MessageDictionary = std::map<std::string, MessageValue>;

// What a frame carries: a message that wants no answer, a request that
// wants one, or the answer to the oldest request still unanswered on the
// same connection (answers come back in request order).
enum class FrameKind : uint8_t
{
    Message = 0,
    Request = 1,
    Reply = 2,
};

// Wire format of one message, all integers big-endian:
//   u32 payload length, u8 frame kind, then the payload:
//   u32 entry count, then per entry: u8 type, u32 key length, key bytes,
//   u32 value length, value bytes.
// Keys are unique and non-empty. Bounds keep a hostile peer from making the
// reader allocate without limit.
constexpr uint32_t kMaxFramePayload = 1024 * 1024;
constexpr uint32_t kMaxFrameEntries = 64;
constexpr uint32_t kMaxKeyLength = 256;
constexpr size_t kFrameHeaderSize = 5;

// The full frame (header and payload); empty when the dictionary breaks a
// bound (too many entries, key too long or empty, NUL in a string, payload
// too large).
std::string EncodeFrame(const MessageDictionary& dictionary, FrameKind kind);

// Reads a kFrameHeaderSize-byte header; false when the announced length
// exceeds kMaxFramePayload or the kind is unknown.
bool DecodeFrameHeader(const unsigned char* header, uint32_t& payloadLength, FrameKind& kind);

// Parses one payload. False for any malformed payload: truncated or trailing
// bytes, unknown type, bounds broken, duplicate key, NUL in a string.
bool DecodeFramePayload(const std::string& payload, MessageDictionary& dictionary);

// Splits a byte stream into frames. A malformed frame poisons the stream:
// once Next has answered Malformed it always does, since the frame boundary
// can no longer be trusted.
class FrameAssembler
{
  public:
    enum class Result
    {
        Incomplete,
        Frame,
        Malformed,
    };

    void Append(const char* bytes, size_t count);
    Result Next(MessageDictionary& dictionary, FrameKind& kind);

  private:
    std::string mBuffer;
    bool mPoisoned = false;
};

} // namespace Platform
} // namespace Korvane
