#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
  char tmpl[] = "/tmp/vellmar-test-XXXXXX";
  char* p = mkdtemp(tmpl);
  path = p ? p : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path != "/tmp") std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

void use_install_dir(const TempDir& dir) {
  std::string reg = dir.file("registry");
  write_file(reg, "[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=" + dir.path + "\n");
  setenv("VELLMAR_REGISTRY", reg.c_str(), 1);
}

bool fs_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}
