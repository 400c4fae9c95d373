// The CPU time that control groups allow, read from a tree of group files made here.
#include <gtest/gtest.h>
#include <unistd.h>  // getpid

#include <filesystem>
#include <fstream>

#include "platform/os.h"

TEST(CpuQuotaProcessors, SmallestLimitAlongTheGroupsPath) {
  struct Case {
    std::optional<unsigned> processors;
    const char* selfGroups;
    std::vector<std::pair<const char*, const char*>> files;  // below the root, and their text
  };
  const std::vector<Case> cases = {
      {3, "0::/a/b\n", {{"a/b/cpu.max", "max 100000"}, {"a/cpu.max", "300000 100000"}}},
      {2, "0::/a/b\n", {{"a/b/cpu.max", "150000 100000\n"}, {"a/cpu.max", "400000 100000"}}},
      // A container that sees the host's path of its group: its own is the mount's.
      {1, "9:cpu:/do/1\n", {{"cpu/cpu.cfs_quota_us", "5"}, {"cpu/cpu.cfs_period_us", "9"}}},
      {2,
       "5:cpu,cpuacct:/s\n",
       {{"cpu,cpuacct/s/cpu.cfs_quota_us", "200000"},
        {"cpu,cpuacct/s/cpu.cfs_period_us", "100000"}}},
      {std::nullopt, "3:cpu:/\n", {{"cpu/cpu.cfs_quota_us", "-1"}, {"cpu/cpu.cfs_period_us", "1"}}},
      {std::nullopt, "4:cpuacct:/g\n", {{"cpuacct/g/cpu.cfs_quota_us", "100000"}}},
      {3, "no colon\n\n7:cpu\n0::/job", {{"job/cpu.max", "250000 100000"}}},  // no line end
  };
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("cellprod-groups-" + std::to_string(getpid()));
  for (const Case& c : cases) {
    fs::remove_all(root);
    for (const auto& [name, text] : c.files) {
      fs::create_directories((root / name).parent_path());
      std::ofstream(root / name) << text;
    }
    EXPECT_EQ(cpuQuotaProcessors(root.string(), c.selfGroups), c.processors) << c.selfGroups;
  }
  fs::remove_all(root);
}
