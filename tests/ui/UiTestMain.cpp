// Registers the GDI+ start-up with GoogleTest before the cases run (gtest_main runs them).
#include "UiTestSupport.h"

namespace
{
const ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new uitest::GdiplusEnvironment);
}
