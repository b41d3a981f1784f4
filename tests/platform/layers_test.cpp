// The source folders are layers: a file includes headers of its own folder and
// of the folders below it, never of one above.  The few places where a lower
// folder must still reach a higher one are listed here with their reasons; a
// new upward include fails the check, and so does a listed one that is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Bottom to top.  A folder added to the tree takes its place here.
const std::vector<std::string> kLayers = {"platform", "stock",    "shell", "port", "terminal",
                                          "script",   "transfer", "addin", "app",  "tools"};
// Folders outside the layers (they may include any of them).
const std::vector<std::string> kOutside = {"tests", "bench", "docs", "scripts"};

struct Exception {
  const char* file;
  const char* header;
  const char* reason;
};
const Exception kExceptions[] = {
    {"port/tapisub.cpp", "terminal/dispatch.h",
     "the dialler hands the hang-up and the status refresh to the receive dispatcher's CLIENT hooks"},
    {"port/tapisub.cpp", "terminal/log.h", "the dialler starts the log at the connect line and ends it at hang-up"},
    {"port/tapisub.cpp", "terminal/mybitmap.h", "the dialler writes the connect line on the screen"},
    {"port/tapisub.cpp", "terminal/waiter.h", "the modem dialogue waits for the modem's answers with WAITER"},
    {"shell/frame_window.cpp", "terminal/log.h", "the frame's log menu commands and the status bar's log field"},
    {"shell/frame_window.cpp", "terminal/mybitmap.h", "the status bar shows whether the screen is scrolled back"},
    {"shell/frame_window.cpp", "terminal/terminal_view.h", "the frame's client area is the terminal view"},
    {"shell/config_dialog.cpp", "terminal/terminal_view.h",
     "the font chooser offers the fonts the terminal view can draw in cells"},
    {"shell/headless.cpp", "terminal/mybitmap.h", "the headless mirror reads the screen's lines"},
};

struct Include {
  std::string file, header;  // relative to the source root
  bool operator==(const Include&) const = default;
  friend void PrintTo(const Include& i, std::ostream* os) { *os << i.file << " -> " << i.header; }
};

int Rank(const std::string& folder) {
  auto it = std::find(kLayers.begin(), kLayers.end(), folder);
  return it == kLayers.end() ? -1 : static_cast<int>(it - kLayers.begin());
}

std::string FirstComponent(const std::string& path) { return path.substr(0, path.find('/')); }

// The quoted includes of a file, in order.
std::vector<std::string> QuotedIncludes(const fs::path& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line[p] != '#') continue;
    p = line.find_first_not_of(" \t", p + 1);
    if (p == std::string::npos || line.compare(p, 7, "include") != 0) continue;
    p = line.find_first_not_of(" \t", p + 7);
    if (p == std::string::npos || line[p] != '"') continue;
    const size_t end = line.find('"', p + 1);
    if (end != std::string::npos) out.push_back(line.substr(p + 1, end - p - 1));
  }
  return out;
}

struct Scan {
  std::vector<Include> upward;
  std::vector<std::string> unplaced;  // top-level folders with sources but no layer
};

// Scans every .cpp and .h under the root's top-level folders.  Hidden folders
// and build trees (a folder holding a CMakeCache.txt) are skipped.
Scan ScanTree(const fs::path& root) {
  Scan scan;
  std::vector<fs::path> tops;
  for (const auto& e : fs::directory_iterator(root))
    if (e.is_directory() && e.path().filename().string()[0] != '.' && !fs::exists(e.path() / "CMakeCache.txt"))
      tops.push_back(e.path());
  std::sort(tops.begin(), tops.end());
  for (const fs::path& top : tops) {
    const std::string folder = top.filename().string();
    if (std::find(kOutside.begin(), kOutside.end(), folder) != kOutside.end()) continue;
    const int rank = Rank(folder);
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(top))
      if (e.is_regular_file() && (e.path().extension() == ".cpp" || e.path().extension() == ".h"))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (rank < 0) {
      if (!files.empty()) scan.unplaced.push_back(folder);
      continue;
    }
    for (const fs::path& f : files)
      for (const std::string& header : QuotedIncludes(f))
        if (Rank(FirstComponent(header)) > rank)
          scan.upward.push_back({fs::relative(f, root).generic_string(), header});
  }
  return scan;
}

bool Excepted(const Include& inc) {
  return std::any_of(std::begin(kExceptions), std::end(kExceptions),
                     [&](const Exception& x) { return inc.file == x.file && inc.header == x.header; });
}

}  // namespace

TEST(Layers, NoFolderIncludesAHigherOne) {
  const Scan scan = ScanTree(QUILLNET_SOURCE_DIR);
  for (const Include& inc : scan.upward)
    EXPECT_TRUE(Excepted(inc)) << inc.file << " includes " << inc.header << ", and " << FirstComponent(inc.header)
                               << "/ is above " << FirstComponent(inc.file)
                               << "/: move what it needs down, or hand it in through a hook the higher folder installs";
  EXPECT_TRUE(scan.unplaced.empty()) << "folders with sources outside the layer order: "
                                     << testing::PrintToString(scan.unplaced);
}

TEST(Layers, EveryExceptionIsStillNeeded) {
  const Scan scan = ScanTree(QUILLNET_SOURCE_DIR);
  for (const Exception& x : kExceptions)
    EXPECT_NE(std::find(scan.upward.begin(), scan.upward.end(), Include{x.file, x.header}), scan.upward.end())
        << x.file << " no longer includes " << x.header << " upwards: remove its exception (" << x.reason << ")";
}

TEST(Layers, CheckFindsUpwardIncludesAndUnplacedFolders) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const fs::path root = dir.Path();
  const struct {
    const char* file;
    const char* text;
  } files[] = {
      {"platform/a.cpp", "#include \"platform/a.h\"\n#include <string>\n#include \"shell/config.h\"\n"},
      {"platform/a.h", "// #include \"app/x.h\" in a comment line does not count\n"},
      {"stock/s.h", "#pragma once\n#  include \"platform/ui.h\"\n  #include\t\"terminal/log.h\"\n"},
      {"shell/b.cpp", "#include \"stock/stock.h\"\n#include \"tests/support/x.h\"\n#include \"local.h\"\n"},
      {"tools/demohost/m.cpp", "#include \"app/x.h\"\n#include \"port/linecode.h\"\n"},
      {"tests/t.cpp", "#include \"tools/x.h\"\n"},
      {"samples/p.cpp", "#include \"platform/ui.h\"\n"},
      {"build-x/CMakeCache.txt", ""},
      {"build-x/platform/moc.cpp", "#include \"app/x.h\"\n"},
      {".hidden/platform/y.cpp", "#include \"app/x.h\"\n"},
  };
  for (const auto& f : files) {
    fs::create_directories((root / f.file).parent_path());
    ASSERT_TRUE(WriteWholeFile((root / f.file).string(), f.text)) << f.file;
  }
  const Scan scan = ScanTree(root);
  const std::vector<Include> want = {{"platform/a.cpp", "shell/config.h"}, {"stock/s.h", "terminal/log.h"}};
  EXPECT_EQ(scan.upward, want);
  EXPECT_EQ(scan.unplaced, std::vector<std::string>{"samples"});
}
