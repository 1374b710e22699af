// UPDATER_LOG comes from the environment: any text must parse without harm.
#include "basictools/logger/LogChannelConfig.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::ostringstream warnings;
    Korvane::ParseLogChannels(std::string(reinterpret_cast<const char*>(data), size), warnings);
    return 0;
}
