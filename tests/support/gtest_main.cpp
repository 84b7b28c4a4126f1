#include "TestEnv.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// GoogleTest entry point with a Qt event loop available and isolated folders.
// Tests that await coroutines drive the loop with QCoro::waitFor.
int main(int argc, char** argv)
{
    dh::test::isolateEnvironment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
