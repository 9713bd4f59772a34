#include "platform/NotificationCenter.h"

#include <gtest/gtest.h>

TEST(NotificationCenter, placeholder) { SUCCEED(); }
