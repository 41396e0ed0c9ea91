#include <gtest/gtest.h>

#include "harness.h"

int main(int argc, char** argv) {
    e2e::RemoveAbandonedRunFolders();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new e2e::WineEnvironment);
    return RUN_ALL_TESTS();
}
