#include "temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

CTempDir::CTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "plowview-test-XXXXXX").string();
  if (char* made = ::mkdtemp(pattern.data())) path = made;
}

CTempDir::~CTempDir() {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
