// The main of every test program. CTest runs each test in its own process, several at once, with one
// $PEDAL_HOME per program: every test gets an empty home of its own below it, so stored values, slot files and
// stand-in records of one test (or of an earlier run) never reach another.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {
class PerTestHome : public testing::EmptyTestEventListener {
public:
    explicit PerTestHome(std::filesystem::path base) : base(std::move(base)) {}

    void OnTestStart(const testing::TestInfo& test) override {
        const std::filesystem::path home = base / (std::string(test.test_suite_name()) + "." + test.name());
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        setenv("PEDAL_HOME", home.c_str(), 1);
    }

private:
    std::filesystem::path base;
};
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const char* base = std::getenv("PEDAL_HOME");
    testing::UnitTest::GetInstance()->listeners().Append(
        new PerTestHome(base && *base ? base : PEDAL_TEST_OUT "/home"));
    return RUN_ALL_TESTS();
}
