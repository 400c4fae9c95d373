// The CPU time that control groups allow, read from a tree of group files made here.
#include <gtest/gtest.h>
#include <unistd.h>  // getpid

#include <filesystem>
#include <fstream>

#include "platform/os.h"

TEST(CpuQuotaProcessors, SmallestLimitAlongTheGroupsPath) {
  struct Case {
    const char* selfGroups;
    std::vector<std::pair<const char*, const char*>> files;  // below the root, and their text
    std::optional<unsigned> processors;
  };
  const std::vector<Case> cases = {
      {"0::/job\n", {{"job/cpu.max", "150000 100000\n"}}, 2},
      {"0::/job\n", {{"job/cpu.max", "max 100000\n"}}, std::nullopt},
      {"0::/a/b\n", {{"a/b/cpu.max", "max 100000\n"}, {"a/cpu.max", "300000 100000\n"}}, 3},
      {"0::/a/b\n", {{"a/b/cpu.max", "100000 100000\n"}, {"a/cpu.max", "400000 100000\n"}}, 1},
      // A container that sees the host's path of its group: its own is the mount's.
      {"5:cpuacct,cpu:/docker/1f\n0::/\n",
       {{"cpu,cpuacct/cpu.cfs_quota_us", "50000\n"}, {"cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
       1},
      {"3:cpu:/\n2:cpuacct:/\n",
       {{"cpu/cpu.cfs_quota_us", "-1\n"}, {"cpu/cpu.cfs_period_us", "100000\n"}},
       std::nullopt},
      {"4:cpuacct:/g\n", {{"cpuacct/g/cpu.cfs_quota_us", "100000\n"}}, std::nullopt},
      {"", {}, std::nullopt},
      {"no colon\n\n7:cpu\n0::/job", {{"job/cpu.max", "250000 100000"}}, 3},  // no line end
  };
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("cellprod-groups-" + std::to_string(getpid()));
  for (const Case& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root);
    for (const auto& [name, text] : c.files) {
      fs::create_directories((root / name).parent_path());
      std::ofstream(root / name) << text;
    }
    EXPECT_EQ(cpuQuotaProcessors(root.string(), c.selfGroups), c.processors) << c.selfGroups;
  }
  fs::remove_all(root);
}
