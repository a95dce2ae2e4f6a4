// _ltoa: the documented examples, the extremes, agreement with
// std::to_chars over random values in every radix, and bad radixes.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <random>
#include <string>

#include "gui/widgets/number/gui_ltoa.h"

namespace {

std::string ltoa(int32_t v, int radix)
{
    char buf[40];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(_ltoa(v, buf, radix), buf);
    return buf;
}

std::string reference(int32_t v, int radix)
{
    char buf[40];
    auto r = radix == 10 ? std::to_chars(buf, buf + sizeof buf, v, radix)
                         : std::to_chars(buf, buf + sizeof buf, uint32_t(v), radix);
    return std::string(buf, r.ptr);
}

TEST(LtoaTest, ExamplesAndExtremes)
{
    EXPECT_EQ(ltoa(0, 10), "0");
    EXPECT_EQ(ltoa(-255, 10), "-255");
    EXPECT_EQ(ltoa(255, 16), "ff");
    EXPECT_EQ(ltoa(-1, 16), "ffffffff");
    EXPECT_EQ(ltoa(INT32_MIN, 10), "-2147483648");
    EXPECT_EQ(ltoa(INT32_MAX, 10), "2147483647");
    EXPECT_EQ(ltoa(INT32_MIN, 16), "80000000");
    EXPECT_EQ(ltoa(-1, 2), std::string(32, '1'));   // 32 digits and the zero fill 33 bytes
    EXPECT_EQ(ltoa(35, 36), "z");
    EXPECT_EQ(ltoa(-1, 36), "1z141z3");
}

TEST(LtoaTest, AgreesWithToCharsInEveryRadix)
{
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    for (int radix = 2; radix <= 36; ++radix) {
        for (int i = 0; i < 3000; ++i) {
            const int32_t v = i < 40 ? int32_t(i - 20) : any(rng);
            ASSERT_EQ(ltoa(v, radix), reference(v, radix)) << v << " radix " << radix;
        }
    }
}

TEST(LtoaTest, RadixOutsideTwoToThirtySixGivesEmptyText)
{
    for (int radix : {0, 1, 37, -10, 1000}) EXPECT_EQ(ltoa(12345, radix), "") << radix;
    EXPECT_EQ(_ltoa(5, nullptr, 10), nullptr);
}

}  // namespace
