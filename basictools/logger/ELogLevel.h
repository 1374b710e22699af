#pragma once

enum ELogLevel
{
    eLogDebug = 0,
    eLogInfo,
    eLogNotice,
    eLogWarning,
    eLogError,
    eLogExcept,
    eLogAssert,
};

constexpr int kLogLevelCount = 7;

// Level names as they appear in a log line, indexed by ELogLevel.
extern const char* const DicoLog[kLogLevelCount];
