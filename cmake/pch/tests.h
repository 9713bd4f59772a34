// Precompiled once for every test program, which are one source file each.
#include "widgets.h"
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
