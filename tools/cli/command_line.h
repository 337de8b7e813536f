#pragma once

// What every command-line tool shares: reading options in one form
// ("--name value", "--name=value", flags, "--" before operands), and saying
// what went wrong in one voice, with the exit statuses scripts rely on.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Every tool exits with this status when its command line is wrong.
inline constexpr int kExitUsage = 2;

// A command line the tool cannot act on: `what()` says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One tool's name and usage line, for its messages.
class Tool {
 public:
  Tool(std::string name, std::string usageLine)
      : name_(std::move(name)), usageLine_(std::move(usageLine)) {}

  const std::string& Name() const { return name_; }
  const std::string& UsageLine() const { return usageLine_; }

  // "NAME VERSION" on standard output.
  void PrintVersion() const;
  // "NAME: MESSAGE" on standard error; returns `status`.
  int Fail(int status, std::string_view message) const;
  // The reason, the usage line and where to read more, on standard error;
  // returns kExitUsage.
  int UsageFailure(std::string_view message) const;

 private:
  std::string name_;
  std::string usageLine_;
};

// Whether `wanted` stands anywhere on the line (a value included): such
// requests as --version win over whatever else is wrong.
bool Mentions(const std::vector<std::string_view>& args, std::string_view wanted);

// The arguments after the program name, one at a time. An argument is an
// operand when it does not start with '-' (or is "-" alone, standard input),
// or comes after "--".
class ArgumentReader {
 public:
  struct Argument {
    std::string_view text;  // as given
    std::string_view name;  // an option's name, without any "=value"
    std::optional<std::string_view> inlineValue;
    bool operand = false;
  };

  explicit ArgumentReader(std::vector<std::string_view> args) : args_(std::move(args)) {}
  ArgumentReader(int argc, const char* const* argv);

  bool AtEnd() const { return next_ >= args_.size(); }
  // The next argument, skipping the "--" that ends the options.
  Argument Next();

  // The option's value: the text after '=' or else the next argument.
  // Throws "NAME needs a value".
  std::string_view ValueOf(const Argument& option);
  // Throws "NAME takes no value" when the option was given one.
  static void NoValue(const Argument& option);
  // Throws "unknown argument 'TEXT'".
  [[noreturn]] static void Unknown(const Argument& argument);

 private:
  std::vector<std::string_view> args_;
  std::size_t next_ = 0;
  bool optionsEnded_ = false;
};

}  // namespace cli
