// What the unit tests of src/system share: a fixture that resets the Win32
// fake before each test, and the queries under test.
#pragma once

#include <gtest/gtest.h>

#include "win32_fake.h"
#include "windows_queries.h"

namespace lystrel {

class SystemTest : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    fake::Win32Fake& win32 = fake::Fake();
    WindowsSystemQueries queries;
};

}  // namespace lystrel
