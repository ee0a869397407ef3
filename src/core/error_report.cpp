#include "core/error_report.h"

#include "core/messages.h"

namespace calvex {
namespace {

// Codes whose message is shown as it stands.
bool ShownByItsText(Status code) {
  return code == 100 || (code >= 104 && code <= 128) || (code >= 133 && code <= 136) ||
         code == 131 || (code >= 139 && code <= 142) || (code >= 145 && code <= 149) ||
         code == 500 || code == 501 || code == 607 || code == 608 || (code >= 1000 && code <= 1008);
}

}  // namespace

std::string ErrorText(Status code, std::string_view argument) {
  if (!IsFailure(code)) return {};
  const int id = static_cast<int>(code);
  if (code == kOpenFailed || code == kCreateFailed ||
      (code == kSectionPastEnd && !argument.empty()))
    return FormatText("%s %s", std::string(MessageText(id)).c_str(), std::string(argument).c_str());
  if (code == kDoesNotExist || code == kLibraryLoadFailed) return FormatMessage(id, argument);
  if (ShownByItsText(code) && !MessageText(id).empty()) return std::string(MessageText(id));
  return FormatMessage(130, id);
}

void ReportError(ConversionContext& context, Status code, std::string_view argument) {
  if (!IsFailure(code)) return;
  const std::string text = ErrorText(code, argument);
  ConversionHost& host = context.host();
  if (context.flags().batchRunInProgress) {
    context.LogMessage(226);
    context.LogLine(text);
    context.flags().errorOccurred = true;
    host.ErrorSound();
    host.ErrorLogged(text);
  } else {
    host.ShowError(text);
  }
}

void ReportError(ConversionHost& host, Status code, std::string_view argument) {
  if (IsFailure(code)) host.ShowError(ErrorText(code, argument));
}

}  // namespace calvex
