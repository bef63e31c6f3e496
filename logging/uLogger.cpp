#include "logging/uLogger.h"

#include <cstdio>

#include "support/DateTime.h"

namespace lumo {

bool SplitLoggerParam(const std::string& param, std::string& name, std::string& value) {
    const auto eq = param.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    name = param.substr(0, eq);
    value = param.substr(eq + 1);
    return true;
}

bool LoggerParamIsTrue(const std::string& value) { return value != "False"; }

TLogger::TLogger(std::uint8_t NiveauMax, std::int32_t LogSpecifique,
                 const TLoggerParams& /*Params*/, bool InsertTime,
                 const std::string& FormatDateTime, bool InsertNiveauLog)
    : NiveauMax(NiveauMax),
      InsertTime(InsertTime),
      FormatDateTime(FormatDateTime),
      LogSpecifique(LogSpecifique),
      InsertNiveauLog(InsertNiveauLog) {}

TLogger::~TLogger() = default;

void TLogger::Log(const std::string& text, std::uint8_t level, std::int32_t specific) {
    const bool wanted =
        (LogSpecifique == 0 && specific >= 0) || specific == LogSpecifique || LogSpecifique == -1;
    if (!wanted || level > NiveauMax) return;

    std::string prefix;
    if (InsertNiveauLog) {
        char tag[8];
        std::snprintf(tag, sizeof tag, "[%3.3d] ", static_cast<int>(level));
        prefix = tag;
    }
    if (InsertTime) prefix = lumo::FormatDateTime(FormatDateTime, Now()) + ": " + prefix;
    LastLevel = level;
    DoLog(prefix + text);
}

}  // namespace lumo
