// A fresh temporary folder per test, removed afterwards, and small file helpers.
#pragma once
#include <string>

struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// Points the registry stand-in at a file in dir whose "Path" value is dir.
void use_install_dir(const TempDir& dir);
bool fs_exists(const std::string& path);
