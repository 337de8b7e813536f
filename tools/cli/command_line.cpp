#include "tools/cli/command_line.h"

#include <algorithm>
#include <cstdio>

namespace cli {

void Tool::PrintVersion() const { std::printf("%s %s\n", name_.c_str(), VISTARO_VERSION); }

int Tool::Fail(int status, std::string_view message) const {
  std::fprintf(stderr, "%s: %.*s\n", name_.c_str(), static_cast<int>(message.size()),
               message.data());
  return status;
}

int Tool::UsageFailure(std::string_view message) const {
  std::fprintf(stderr, "%s: %.*s\n%s\nTry '%s --help' for more.\n", name_.c_str(),
               static_cast<int>(message.size()), message.data(), usageLine_.c_str(), name_.c_str());
  return kExitUsage;
}

bool Mentions(const std::vector<std::string_view>& args, std::string_view wanted) {
  return std::find(args.begin(), args.end(), wanted) != args.end();
}

ArgumentReader::ArgumentReader(int argc, const char* const* argv)
    : ArgumentReader(std::vector<std::string_view>(argv + std::min(argc, 1), argv + argc)) {}

ArgumentReader::Argument ArgumentReader::Next() {
  std::string_view text = args_[next_++];
  if (!optionsEnded_ && text == "--") {
    optionsEnded_ = true;
    if (AtEnd()) return {text, text, std::nullopt, true};
    text = args_[next_++];
  }
  Argument argument{text, text, std::nullopt, false};
  if (optionsEnded_ || text.size() < 2 || text[0] != '-') {
    argument.operand = true;
    return argument;
  }
  if (const auto eq = text.find('='); text.starts_with("--") && eq != std::string_view::npos) {
    argument.name = text.substr(0, eq);
    argument.inlineValue = text.substr(eq + 1);
  }
  return argument;
}

std::string_view ArgumentReader::ValueOf(const Argument& option) {
  if (option.inlineValue) return *option.inlineValue;
  if (AtEnd()) throw UsageError(std::string(option.name) + " needs a value");
  return args_[next_++];
}

void ArgumentReader::NoValue(const Argument& option) {
  if (option.inlineValue) throw UsageError(std::string(option.name) + " takes no value");
}

void ArgumentReader::Unknown(const Argument& argument) {
  throw UsageError("unknown argument '" + std::string(argument.text) + "'");
}

}  // namespace cli
