// Bytes from the helper's message channel, as either end reads them: split
// into frames, each frame decoded; every frame that decodes must encode back
// to a frame that decodes to the same dictionary.
#include "platform/MessageFrame.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace Korvane::Platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    MessageDictionary direct;
    DecodeFramePayload(std::string(bytes, size), direct);

    // Arrives in pieces of up to 7 bytes, as a socket may hand it over.
    FrameAssembler assembler;
    for (size_t at = 0; at < size;)
    {
        const size_t piece = std::min<size_t>(1 + (data[at] % 7), size - at);
        assembler.Append(bytes + at, piece);
        at += piece;
        MessageDictionary dictionary;
        FrameKind kind = FrameKind::Message;
        FrameAssembler::Result result;
        while ((result = assembler.Next(dictionary, kind)) == FrameAssembler::Result::Frame)
        {
            const std::string frame = EncodeFrame(dictionary, kind);
            if (frame.size() < kFrameHeaderSize)
                __builtin_trap();
            uint32_t length = 0;
            FrameKind again = FrameKind::Message;
            if (!DecodeFrameHeader(reinterpret_cast<const unsigned char*>(frame.data()), length,
                                   again) ||
                again != kind || length != frame.size() - kFrameHeaderSize)
                __builtin_trap();
            MessageDictionary decoded;
            if (!DecodeFramePayload(frame.substr(kFrameHeaderSize), decoded) ||
                !(decoded == dictionary))
                __builtin_trap();
            dictionary.clear();
        }
        if (result == FrameAssembler::Result::Malformed)
            break;
    }
    return 0;
}
