// A fresh folder per test, removed afterwards, and helpers to write and read files in it.
#pragma once

#include <string>
#include <string_view>

namespace qm::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
    void write(std::string_view name, std::string_view content) const;
    std::string read(std::string_view name) const;

  private:
    std::string path_;
};

}  // namespace qm::test
