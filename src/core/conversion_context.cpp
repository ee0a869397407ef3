#include "core/conversion_context.h"

#include "core/messages.h"

namespace calvex {

void ConversionContext::LogLine(const std::string& line) {
  if (log_ != nullptr)
    log_->Line(line, host_);
  else
    host_.LogLine(line);
}

void ConversionContext::LogMessage(int id, const std::string& text) {
  LogLine(LogLineText(id, text));
}

}  // namespace calvex
