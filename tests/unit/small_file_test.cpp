// The agreement marker's file helpers: whole-file reads, replace-by-rename writes.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <functional>

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

// What stands in the file's place is replaced only when it is a regular file or a link: a
// report named /dev/null, as root, once became a JSON file.
TEST_F(SmallFileTest, NeverReplacesWhatIsNoRegularFile) {
  struct Case {
    const char* name;
    std::function<bool(const std::string&)> make;
    std::string problem;
  };
  const Case cases[] = {
      {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; },
       "it is a FIFO, not a regular file"},
      {"folder", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; },
       "it is a folder, not a regular file"},
      {"null", [](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; },
       "it is a character device, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.make(Path(c.name))) continue;  // a device node needs root
    struct stat before {};
    ASSERT_EQ(lstat(Path(c.name).c_str(), &before), 0);
    const size_t entries = Entries();
    EXPECT_EQ(FileTargetProblem(Path(c.name)), c.problem);
    EXPECT_EQ(WriteFileAtomically(Path(c.name), "{}\n"), c.problem);
    struct stat after {};
    ASSERT_EQ(lstat(Path(c.name).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(Entries(), entries);  // no sibling left behind
  }
}

// A folder nobody may write to, even root: a read-only mount when root, a mode otherwise.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& path) : m_path(path) {
    fs::create_directory(path);
    m_mounted = geteuid() == 0 && mount("tmpfs", path.c_str(), "tmpfs", MS_RDONLY, nullptr) == 0;
    if (!m_mounted) chmod(path.c_str(), 0555);
  }
  ~ReadOnlyFolder() {
    if (m_mounted) umount2(m_path.c_str(), MNT_DETACH);
    chmod(m_path.c_str(), 0700);
  }
  bool ReadOnly() const { return m_mounted || geteuid() != 0; }

 private:
  std::string m_path;
  bool m_mounted = false;
};

TEST_F(SmallFileTest, APlaceThatCannotTakeTheFileIsNamedBeforeAnythingIsWritten) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("dir"));
  std::ofstream(Path("old")) << "old";
  fs::create_symlink(Path("old"), Path("link"));
  const ReadOnlyFolder readOnly(Path("ro"));
  std::string deep = m_dir.string();
  while (deep.size() < PATH_MAX) deep += "/" + std::string(200, 'd');
  const std::string room = std::to_string(NAME_MAX - 7);
  const struct {
    std::string path;
    std::string problem;  // the start of it; empty: the place is fine
  } cases[] = {
      {"", "no file name given"},
      {Path("dir"), "it is a folder, not a regular file"},
      {Path("dir/"), "it is a folder, not a regular file"},
      {Path("fifo"), "it is a FIFO, not a regular file"},
      {Path("link"), "it is a symbolic link, which is not followed"},
      {Path(std::string(NAME_MAX - 6, 'n')), "the name is too long: 249 bytes, at most " + room},
      {deep + "/r.json", "the path is too long"},
      {Path("missing/r.json"), "no folder " + Path("missing/") + ": No such file or directory"},
      {Path("fifo/r.json"), "no folder " + Path("fifo/") + ": Not a directory"},
      {Path("ro/r.json"), readOnly.ReadOnly() ? "the folder " + Path("ro/") + " is not writable" : ""},
      {Path(std::string(NAME_MAX - 7, 'n')), ""},
      {Path("old"), ""},
      {Path("dir/new.json"), ""},
  };
  const size_t entries = Entries();
  for (const auto& c : cases) {
    const std::string problem = FileTargetProblem(c.path);
    EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem) << c.path.substr(0, 100);
    EXPECT_EQ(problem.empty(), c.problem.empty()) << c.path.substr(0, 100) << ": " << problem;
  }
  EXPECT_EQ(Entries(), entries);
  EXPECT_TRUE(fs::is_empty(Path("dir")));
  // What the check allows, the write does; the link in the file's own place is replaced.
  EXPECT_EQ(WriteFileAtomically(Path(std::string(NAME_MAX - 7, 'n')), "1"), "");
  EXPECT_EQ(WriteFileAtomically(Path("dir/new.json"), "1"), "");
}

// Raised for a user, the process follows no link of that user's on the way to the marker or a
// saved report; links of its own rights (root's, when raised) are the system's.
TEST_F(SmallFileTest, LinksOfAnotherUserOnTheWayAreNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "a link of another user needs root to be made";
  fs::create_directory(Path("real"));
  std::ofstream(Path("real/m")) << "1";
  fs::create_directory_symlink(Path("real"), Path("theirs"));
  ASSERT_EQ(lchown(Path("theirs").c_str(), 65534, 65534), 0);
  fs::create_directory_symlink(Path("real"), Path("own"));
  const std::string refused = "it is a symbolic link, which is not followed";

  EXPECT_EQ(WriteFileAtomically(Path("theirs/m"), "2"), refused);
  EXPECT_EQ(WriteFileAtomically(Path("theirs/sub/m"), "2"), refused);
  EXPECT_FALSE(MakeUserFolder(Path("theirs/sub")));
  EXPECT_EQ(ReadUserFile(Path("theirs/m"), 10).problem, refused);
  EXPECT_EQ(FileTargetProblem(Path("theirs/m")), "no folder " + Path("theirs/") + ": " + refused);
  EXPECT_EQ(Slurp(Path("real/m")), "1");
  EXPECT_FALSE(fs::exists(Path("real/sub")));

  EXPECT_EQ(ReadUserFile(Path("own/m"), 10).content, "1");
  EXPECT_TRUE(MakeUserFolder(Path("own/sub")));
  EXPECT_EQ(WriteFileAtomically(Path("theirs/m"), "3", {}, FolderLinks::Follow), "");
  EXPECT_EQ(Slurp(Path("real/m")), "3");
}

TEST_F(SmallFileTest, FilesInAFolderAreReadOnlyFromWithinIt) {
  fs::create_directory(Path("set"));
  std::ofstream(Path("set/id")) << "1234";
  std::ofstream(Path("outside")) << "1234";
  fs::create_directory_symlink(Path("set"), Path("set/loop"));
  fs::create_symlink(Path("outside"), Path("set/out"));
  const std::string set = Path("set");
  EXPECT_EQ(ReadFileInFolder(set, "id", 10).content, "1234");
  EXPECT_EQ(ReadFileInFolder(set, "./id", 10).content, "1234");
  for (const auto& [name, problem] : std::initializer_list<std::pair<std::string, std::string>>{
           {"../outside", "it lies outside the folder"},
           {Path("outside"), "it lies outside the folder"},
           {"out", "it is a symbolic link, which is not followed"},
           {"loop/id", "it is a symbolic link, which is not followed"},
       }) {
    EXPECT_EQ(ReadFileInFolder(set, name, 10).problem, problem) << name;
  }
}

}  // namespace
}  // namespace fw
