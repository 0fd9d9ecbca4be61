#include "platform/module.h"

#include <gtest/gtest.h>

#include <cstring>

namespace peloria {
namespace {

TEST(SharedLibraryTest, FunctionsAreFoundAndMissingPiecesFailWithTheLoadersMessage) {
  const TSharedLibrary libc("libc.so.6");
  const auto length = reinterpret_cast<decltype(&std::strlen)>(libc.Symbol("strlen"));
  EXPECT_EQ(length("peloria"), 7u);

  try {
    libc.Symbol("peloria_no_such_function");
    FAIL() << "a missing function was found";
  } catch (const EModuleError& failure) {
    EXPECT_NE(failure.Message().find("peloria_no_such_function"), std::string::npos);
  }
  try {
    TSharedLibrary("libpeloria-no-such-library.so.9");
    FAIL() << "a missing library was loaded";
  } catch (const EModuleError& failure) {
    EXPECT_NE(failure.Message().find("libpeloria-no-such-library.so.9"), std::string::npos);
  }
}

}  // namespace
}  // namespace peloria
