#include "storage/DebugLogFile.h"
#include <gtest/gtest.h>
TEST(DebugLogFile, Placeholder) { SUCCEED(); }
