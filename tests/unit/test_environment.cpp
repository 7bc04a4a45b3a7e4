// The environment of every unit test process: lock waits are short, so
// that a lock held by another process is refused in a fraction of a second
// rather than after the programs' ten seconds. Tests about waiting itself
// set their own wait.
#include <gtest/gtest.h>

#include "rukglobal.h"

namespace {

class ShortLockWait : public ::testing::Environment {
public:
    void SetUp() override { go.m_nLockWait = 200; }
};

const ::testing::Environment* const s_pShortLockWait =
    ::testing::AddGlobalTestEnvironment(new ShortLockWait);

}  // namespace
