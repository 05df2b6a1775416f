// The platform layer stands on nothing above it: no file of platform/ includes a header of the
// programs' own areas. The web server's modules include only modules below them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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

// The modules of service/web/ from the bottom up, each with its layer: the request state (0),
// the form parser, session table, template renderer and system pages (1), request handling (2),
// the server (3). A module includes its own header, headers of lower layers, and headers of its
// own layer listed before it; so every arrow points down and none closes a circle.
struct WebModule {
  const char* name;
  int layer;
};
constexpr WebModule kWebModules[] = {
    {"request_state", 0}, {"form_data", 1}, {"session", 1}, {"asp_template", 1}, {"system_pages", 1},
    {"http_request", 2},  {"tls_context", 3}, {"http_server", 3},
};

int web_module_index(const std::string& name) {
  for (size_t i = 0; i < std::size(kWebModules); ++i)
    if (name == kWebModules[i].name) return int(i);
  return -1;
}

TEST(Layering, WebModulesIncludeOnlyModulesBelowThem) {
  namespace fs = std::filesystem;
  const std::string prefix = "#include \"service/web/";
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(VELLMAR_SOURCE_DIR) / "service" / "web")) {
    std::string ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    ++files;
    int self = web_module_index(entry.path().stem().string());
    ASSERT_GE(self, 0) << entry.path().filename() << " is in no layer";
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind(prefix, 0) != 0) continue;
      size_t end = line.find(".h\"", prefix.size());
      ASSERT_NE(end, std::string::npos) << entry.path().filename() << ": " << line;
      int target = web_module_index(line.substr(prefix.size(), end - prefix.size()));
      ASSERT_GE(target, 0) << entry.path().filename() << ": " << line;
      bool below = kWebModules[target].layer < kWebModules[self].layer ||
                   (kWebModules[target].layer == kWebModules[self].layer && target <= self);
      EXPECT_TRUE(below) << entry.path().filename() << ": " << line;
    }
  }
  EXPECT_GT(files, 10);
}

}  // namespace
