#include "talvik/fileio.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "talvik-fileio-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  [[nodiscard]] std::string path(const std::string& name) const { return (dir_ / name).string(); }

  static std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  static void put(const std::string& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
  }

  [[nodiscard]] std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  fs::path dir_;
};

TEST_F(FileIo, WriteCreatesAndReplacesWholeContent) {
  const std::string target = path("map.enc");
  ASSERT_TRUE(talvik::write_file_atomic(target, std::string("long old content\0x", 19)));
  ASSERT_TRUE(talvik::write_file_atomic(target, "new"));
  EXPECT_EQ(slurp(target), "new");
  ASSERT_TRUE(talvik::write_file_atomic(target, ""));
  EXPECT_EQ(slurp(target), "");
  EXPECT_EQ(entries(), std::set<std::string>{"map.enc"});  // no temporary left behind
}

TEST_F(FileIo, WriteKeepsModeAndFollowsLinks) {
  const std::string target = path("real.bin");
  put(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink("real.bin", path("link.bin"));
  ASSERT_TRUE(talvik::write_file_atomic(path("link.bin"), "new"));
  EXPECT_TRUE(fs::is_symlink(path("link.bin")));
  EXPECT_EQ(slurp(target), "new");
  struct stat status {};
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(entries(), (std::set<std::string>{"link.bin", "real.bin"}));
}

// Failures that happen even for root: each leaves what was there untouched
// and no temporary file behind.
TEST_F(FileIo, FailedWriteLeavesTargetAndNoLeftovers) {
  fs::create_directory(path("occupied"));
  put(path("occupied/keep.txt"), "precious");
  put(path("plain"), "file");
  struct Case {
    std::string target;
    const char* message;
  };
  const Case cases[] = {
      {path("occupied"), "IO error: Is a directory (os error 21)"},
      {path("missing/out.enc"), "IO error: No such file or directory (os error 2)"},
      {path("plain/out.enc"), "IO error: Not a directory (os error 20)"},
      {std::string("out\0.enc", 8), "IO error: path contains a NUL byte"},
  };
  for (const auto& c : cases) {
    auto written = talvik::write_file_atomic(c.target, "replacement");
    ASSERT_FALSE(written) << c.target;
    EXPECT_EQ(written.error().text(), c.message);
  }
  EXPECT_EQ(slurp(path("occupied/keep.txt")), "precious");
  EXPECT_EQ(slurp(path("plain")), "file");
  EXPECT_EQ(entries(), (std::set<std::string>{"occupied", "plain"}));
}

TEST_F(FileIo, ReadWholeFiles) {
  std::string big(3 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 9));
  put(path("big"), big);
  EXPECT_EQ(*talvik::read_file(path("big")), big);
  put(path("empty"), "");
  EXPECT_EQ(*talvik::read_file(path("empty")), "");
  // Files whose size the kernel does not report up front are read to the end too.
  EXPECT_FALSE(talvik::read_file("/proc/self/status")->empty());

  EXPECT_EQ(talvik::read_file(path("absent")).error().text(), "IO error: No such file or directory (os error 2)");
  EXPECT_EQ(talvik::read_file(dir_.string()).error().text(), "IO error: Is a directory (os error 21)");
}

TEST_F(FileIo, TextMustBeUtf8) {
  put(path("arabic"), "\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8");
  EXPECT_EQ(*talvik::read_text_file(path("arabic")), "\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8");
  put(path("latin1"), "caf\xE9");
  EXPECT_EQ(talvik::read_text_file(path("latin1")).error().text(), "IO error: stream did not contain valid UTF-8");
  EXPECT_EQ(talvik::read_text_file(path("absent")).error().text(),
            "IO error: No such file or directory (os error 2)");
}

}  // namespace
