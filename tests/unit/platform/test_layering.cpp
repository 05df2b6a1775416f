// The platform layer stands on nothing above it: no file of platform/ includes a header of the
// programs' own areas.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

TEST(Layering, PlatformIncludesOnlyItselfAndTheSystem) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(VELLMAR_SOURCE_DIR) / "platform")) {
    std::string ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("#include \"", 0) != 0) continue;
      EXPECT_EQ(line.rfind("#include \"platform/", 0), 0u) << entry.path().filename() << ": " << line;
    }
  }
  EXPECT_GT(files, 10);
}

}  // namespace
