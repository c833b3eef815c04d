#pragma once
// A folder of its own under the system's temporary folder, removed with everything in it when
// the test is done, whatever the test's outcome.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fw::test {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix = "ferrowipe-test") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const {
    return (std::filesystem::path(m_path) / name).string();
  }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(*this / name, std::ios::binary) << content;
  }
  // A sparse image of `size` bytes.
  void Image(const std::string& name, int64_t size) const {
    std::ofstream(*this / name, std::ios::binary).close();
    std::filesystem::resize_file(*this / name, static_cast<uintmax_t>(size));
  }
#ifdef FIXTURES_DIR
  void CopyFixture(const std::string& fixture, const std::string& name) const {
    std::filesystem::copy_file(std::string(FIXTURES_DIR) + "/drives/" + fixture, *this / name);
  }
#endif

 private:
  std::string m_path;
};

}  // namespace fw::test
