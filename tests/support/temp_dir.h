// A temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/cp932.h"

namespace peloria::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "peloria-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as a program path (CP932), without a trailing "/".
  std::string cp932() const { return Cp932(path_.string()); }
  // Writes `bytes` to `name` in the folder and answers its path (the file
  // system's bytes, as the program opens files).
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path_ / name, std::ios::binary) << bytes;
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace peloria::testing
