// Failures of Peloria: every failure is an exception that carries the name of
// its class and a message, both as CP932 byte strings. Callers that show a
// failure use Message(); tests and the terminal modes may also look at
// ClassName().
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace peloria {

class Exception : public std::exception {
 public:
  Exception(std::string className, std::string message)
      : className_(std::move(className)), message_(std::move(message)) {}

  const std::string& ClassName() const noexcept { return className_; }
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string className_;
  std::string message_;
};

// Declares failure class `Name` derived from `Base`; its class name is "Name".
// The protected constructor lets further classes derive from it with their
// own names.
#define PELORIA_DECLARE_EXCEPTION(Name, Base)                               \
  class Name : public Base {                                                \
   public:                                                                  \
    explicit Name(std::string message) : Base(#Name, std::move(message)) {} \
                                                                            \
   protected:                                                               \
    Name(std::string className, std::string message)                        \
        : Base(std::move(className), std::move(message)) {}                 \
  }

// Failures of the platform layer itself.
PELORIA_DECLARE_EXCEPTION(EConvertError, Exception);  // text is no number, class mismatch
PELORIA_DECLARE_EXCEPTION(EStreamError, Exception);
PELORIA_DECLARE_EXCEPTION(EFOpenError, EStreamError);    // "ファイル %s は開けません"
PELORIA_DECLARE_EXCEPTION(EFCreateError, EStreamError);  // "ファイル %s を作成できません"
PELORIA_DECLARE_EXCEPTION(EReadError, EStreamError);     // a read delivered fewer bytes
PELORIA_DECLARE_EXCEPTION(EWriteError, EStreamError);    // a write stored fewer bytes
PELORIA_DECLARE_EXCEPTION(EMathError, Exception);
PELORIA_DECLARE_EXCEPTION(EZeroDivide, EMathError);  // x / 0 with x not 0
PELORIA_DECLARE_EXCEPTION(EInvalidOp, EMathError);   // 0 / 0 and other invalid operations
PELORIA_DECLARE_EXCEPTION(EOverflow, EMathError);    // a result beyond the extended range

}  // namespace peloria
