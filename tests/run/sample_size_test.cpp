#include "run/sample_size.h"

#include <gtest/gtest.h>

namespace {

using lotrix::ConvertSampleSize;

struct Accepted {
  const char* text;
  int value;
};

TEST(SampleSize, AcceptsWhatTheUserMeant) {
  const Accepted cases[] = {
      {"30", 30},
      {"030", 30},
      {" 30 ", 30},
      {"\t30\t", 30},
      // Any white space that a paste brings along: a line break, a no-break space, an
      // ideographic space.
      {"30\r\n", 30},
      {"\u00A030\u00A0", 30},
      {"\u300030\u2009", 30},
      {"+7", 7},
      {"-5", -5},
      {"0", 0},
      {"-0", 0},
      {"32767", 32767},
      {"-32768", -32768},
      {"5.", 5},
      {".5", 0},
      {"000000000012", 12},
  };
  for (const auto& [text, value] : cases) {
    const auto size = ConvertSampleSize(text, ".");
    ASSERT_TRUE(size) << text;
    EXPECT_EQ(*size, value) << text;
  }
}

TEST(SampleSize, RoundsHalvesToEven) {
  const Accepted cases[] = {
      {"30.5", 30},         {"31.5", 32},         {"2.5", 2},       {"3.5", 4},
      {"0.5", 0},           {"1.5", 2},           {"-2.5", -2},     {"-3.5", -4},
      {"2.50", 2},          {"2.501", 3},         {"2.4999999", 2}, {"32767.4", 32767},
      {"-32768.5", -32768}, {"-32767.5", -32768},
  };
  for (const auto& [text, value] : cases) {
    const auto size = ConvertSampleSize(text, ".");
    ASSERT_TRUE(size) << text;
    EXPECT_EQ(*size, value) << text;
  }
}

TEST(SampleSize, UsesTheLocalesDecimalSeparator) {
  EXPECT_EQ(*ConvertSampleSize("30,5", ","), 30);
  EXPECT_EQ(*ConvertSampleSize("31,5", ","), 32);
  EXPECT_FALSE(ConvertSampleSize("30.5", ","));
  // Arabic decimal separator: more than one byte in UTF-8.
  EXPECT_EQ(*ConvertSampleSize("7\xd9\xab"
                               "5",
                               "\xd9\xab"),
            8);
}

TEST(SampleSize, TextThatIsNoNumberIsATypeMismatch) {
  for (const char* text :
       {"", "   ", "abc", "3 0", "--5", "+-5", "- 5", ".", "1e3", "30x", "x30", "0x1F", "3.0.0",
        "\u00A0", "3\u00A00", "\uFF13\uFF10" /* full-width digits */}) {
    const auto size = ConvertSampleSize(text, ".");
    ASSERT_FALSE(size) << text;
    EXPECT_EQ(size.error().number, 13) << text;
    EXPECT_EQ(size.error().description, "Type mismatch");
  }
  EXPECT_NE(ConvertSampleSize("abc", ".").error().detail.find("\"abc\""), std::string::npos);
  EXPECT_NE(ConvertSampleSize("", ".").error().detail.find("empty"), std::string::npos);
}

TEST(SampleSize, NumbersOutOfRangeOverflow) {
  for (const char* text :
       {"32768", "-32769", "32767.5", "-32768.6", "99999999999999999999", "1000000.0"}) {
    const auto size = ConvertSampleSize(text, ".");
    ASSERT_FALSE(size) << text;
    EXPECT_EQ(size.error().number, 6) << text;
    EXPECT_EQ(size.error().description, "Overflow");
  }
  const auto detail = ConvertSampleSize("32768", ".").error().detail;
  EXPECT_NE(detail.find("-32768 to 32767"), std::string::npos) << detail;
}

}  // namespace
