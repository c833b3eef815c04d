// The agreement marker's file helpers: whole-file reads, replace-by-rename writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/small_file.hpp"
#include "gtest/gtest.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class SmallFileTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("small_file_test." + std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Path(const std::string& name) const { return (m_dir / name).string(); }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(m_dir), {}));
  }
  fs::path m_dir;
};

TEST_F(SmallFileTest, ReadsWholeFilesOfAnySize) {
  for (const std::string& content : {std::string(), std::string("1"), std::string("1\n"),
                                    std::string(300, 'x') + std::string(1, '\0') + "end"}) {
    std::ofstream(Path("f"), std::ios::binary | std::ios::trunc) << content;
    EXPECT_EQ(ReadSmallFile(Path("f")), content);
  }
}

// Bytes this process has read through read() and its kin so far.
uint64_t BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A 1 GiB file (sparse: it costs no disk) that begins like the agreement marker is judged by
// its size, without its bulk being read, also behind a symbolic link.
TEST_F(SmallFileTest, JudgesAHugeFileWithoutReadingIt) {
  {
    std::ofstream(Path("huge"), std::ios::binary) << "1";
  }
  fs::resize_file(Path("huge"), uint64_t{1} << 30);
  fs::create_symlink(Path("huge"), Path("link"));
  for (const char* name : {"huge", "link"}) {
    const uint64_t before = BytesReadSoFar();
    const SmallFileRead read = ReadBoundedFile(Path(name), 1);
    EXPECT_FALSE(read.ok) << name;
    EXPECT_EQ(read.content, "") << name;
    EXPECT_LT(BytesReadSoFar() - before, uint64_t{64} << 10) << name;
  }
}

TEST_F(SmallFileTest, ReadsNothingFromWhatIsNotARegularFile) {
  EXPECT_EQ(ReadSmallFile(Path("missing")), "");
  EXPECT_EQ(ReadSmallFile(m_dir.string()), "");
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadSmallFile(Path("fifo")), "");  // returns at once instead of waiting for a writer
}

TEST_F(SmallFileTest, BoundedReadsSayWhyTheyRefuse) {
  std::ofstream(Path("four"), std::ios::binary) << "1234";
  fs::create_symlink(Path("four"), Path("link"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    size_t limit;
    bool followLink;
    std::string problem;  // empty: read whole
  };
  const Case cases[] = {
      {Path("four"), 4, false, ""},
      {Path("four"), 3, true, "it holds more than 3 bytes"},
      {Path("link"), 4, true, ""},
      {Path("link"), 4, false, "it is a symbolic link, which is not followed"},
      {Path("fifo"), 4, true, "it is a FIFO, not a regular file"},
      {m_dir.string(), 4, true, "it is a folder, not a regular file"},
      {"/dev/zero", 4, true, "it is a character device, not a regular file"},
      {Path("missing"), 4, true, "No such file or directory"},
  };
  for (const Case& c : cases) {
    const SmallFileRead r = ReadBoundedFile(c.path, c.limit, c.followLink);
    EXPECT_EQ(r.ok, c.problem.empty()) << c.path;
    EXPECT_EQ(r.problem, c.problem) << c.path;
    EXPECT_EQ(r.content, r.ok ? "1234" : "") << c.path;
  }
}

TEST_F(SmallFileTest, WritesExactlyTheTextAndReplaces) {
  ASSERT_TRUE(WriteSmallFile(Path("m"), "1\n2"));
  EXPECT_EQ(Slurp(Path("m")), "1\n2");
  ASSERT_TRUE(WriteSmallFile(Path("m"), "1"));
  EXPECT_EQ(Slurp(Path("m")), "1");
  EXPECT_EQ(Entries(), 1u);  // no temporary file left behind
}

TEST_F(SmallFileTest, ReplacesAPlantedLinkWithoutFollowingIt) {
  std::ofstream(Path("target")) << "keep";
  fs::create_symlink(Path("target"), Path("m"));
  ASSERT_TRUE(WriteSmallFile(Path("m"), "1"));
  EXPECT_EQ(Slurp(Path("target")), "keep");
  EXPECT_FALSE(fs::is_symlink(Path("m")));
  EXPECT_EQ(Slurp(Path("m")), "1");

  // A dangling link is no different.
  fs::create_symlink(Path("nowhere"), Path("d"));
  ASSERT_TRUE(WriteSmallFile(Path("d"), "1"));
  EXPECT_FALSE(fs::exists(Path("nowhere")));
}

TEST_F(SmallFileTest, FailsCleanlyWhereNothingCanBeWritten) {
  EXPECT_FALSE(WriteSmallFile(Path("no/such/folder/m"), "1"));
  fs::create_directory(Path("dir"));
  EXPECT_FALSE(WriteSmallFile(Path("dir"), "1"));  // a folder in the marker's place stays
  EXPECT_TRUE(fs::is_directory(Path("dir")));
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(SmallFileTest, MakesUserFoldersPrivately) {
  const std::string nested = Path("a/b/c");
  ASSERT_TRUE(MakeUserFolder(nested));
  EXPECT_TRUE(fs::is_directory(nested));
  struct stat info {};
  ASSERT_EQ(stat(nested.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(MakeUserFolder(nested));  // already there
  std::ofstream(Path("file")) << "x";
  EXPECT_FALSE(MakeUserFolder(Path("file/sub")));
}

}  // namespace
}  // namespace fw
