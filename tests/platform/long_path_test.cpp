// The long form of full Windows paths, through which names beyond 260 characters open.
#include <gtest/gtest.h>

#include "platform/os.h"

TEST(LongPathForm, DrivesSharesAndFormsAlreadyLong) {
  const wchar_t* cases[][2] = {{L"C:\\d\\r.asc", L"\\\\?\\C:\\d\\r.asc"},
                               {L"\\\\srv\\share\\r", L"\\\\?\\UNC\\srv\\share\\r"},
                               {L"\\\\?\\C:\\r", L"\\\\?\\C:\\r"},
                               {L"\\\\.\\NUL", L"\\\\.\\NUL"}};
  for (const auto& [full, form] : cases) EXPECT_EQ(longPathForm(full), form);
}
