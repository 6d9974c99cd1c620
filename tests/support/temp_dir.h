#pragma once

#include <filesystem>
#include <string>

// A fresh folder under the system temp folder, removed with everything in it at destruction.
class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;
  const std::filesystem::path& Path() const { return path; }
  std::string operator/(const std::string& name) const { return (path / name).string(); }

 private:
  std::filesystem::path path;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);
