#include "settings/SettingsCodec.h"

#include <gtest/gtest.h>

namespace ew {
namespace {

struct ListCase {
    const char* stored;
    QStringList items;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << '"' << c.stored << '"';
}

class DecodeList : public ::testing::TestWithParam<ListCase> {};

TEST_P(DecodeList, GivesTheItemsInOrder) {
    EXPECT_EQ(decodeList(QString::fromUtf8(GetParam().stored)), GetParam().items);
}

// The writer's own texts, and what a search that starts one character after each item's
// first makes of doubled or leading commas.
INSTANTIATE_TEST_SUITE_P(WrittenTexts, DecodeList,
                         ::testing::Values(ListCase{"", {}},
                                           ListCase{"10.0.0.1,server2,", {"10.0.0.1", "server2"}},
                                           ListCase{"x,", {"x"}}, ListCase{",", {}},
                                           ListCase{",,", {","}}, ListCase{"a,,b,", {"a", ",b"}},
                                           ListCase{",a,", {",a"}},
                                           ListCase{" host a ,b,", {" host a ", "b"}}));

// A hand-edited store: text after the last comma is a last item, and the decoding ends.
INSTANTIATE_TEST_SUITE_P(TextAfterTheLastComma, DecodeList,
                         ::testing::Values(ListCase{"a", {"a"}}, ListCase{"abc", {"abc"}},
                                           ListCase{"a,b", {"a", "b"}},
                                           ListCase{"ab,c", {"ab", "c"}},
                                           ListCase{"a,b,c", {"a", "b", "c"}},
                                           ListCase{",,x", {",", "x"}}));

TEST(EncodeList, EveryItemIsFollowedByOneComma) {
    EXPECT_EQ(encodeList({}), QString());
    EXPECT_EQ(encodeList({"10.0.0.1", "server2"}), QStringLiteral("10.0.0.1,server2,"));
    // No escaping: the item a,b comes back as two items.
    EXPECT_EQ(encodeList({"a,b"}), QStringLiteral("a,b,"));
    EXPECT_EQ(decodeList(encodeList({"a,b"})), (QStringList{"a", "b"}));
}

TEST(SettingsCodec, BooleansAreWordsAndReadBackInAnyCaseOrAsNumbers) {
    EXPECT_EQ(boolText(true), QStringLiteral("True"));
    EXPECT_EQ(boolText(false), QStringLiteral("False"));
    for (const char* t : {"True", "TRUE", "true", "tRuE", "1", "-1", "7", "2.5"})
        EXPECT_EQ(parseBool(QString::fromLatin1(t)), true) << t;
    for (const char* t : {"False", "FALSE", "false", "fAlSe", "0", "-0", "0.0"})
        EXPECT_EQ(parseBool(QString::fromLatin1(t)), false) << t;
    for (const char* t : {"", "yes", "no", "Tru", "1x", "nan"})
        EXPECT_EQ(parseBool(QString::fromLatin1(t)), std::nullopt) << t;
}

TEST(SettingsCodec, IntegersAndCheckStatesOutsideTheirRangeDoNotConvert) {
    EXPECT_EQ(parseInt16(QStringLiteral("-32768")), std::int16_t{-32768});
    EXPECT_EQ(parseInt16(QStringLiteral("32767")), std::int16_t{32767});
    EXPECT_EQ(parseInt16(QStringLiteral(" 22 ")), std::int16_t{22});
    for (const char* t : {"32768", "-32769", "1.5", "1e3", "abc", "", "+", "0x10"})
        EXPECT_EQ(parseInt16(QString::fromLatin1(t)), std::nullopt) << t;
    EXPECT_EQ(parseCheckValue(QStringLiteral("2")), 2);
    for (const char* t : {"3", "-1", "1.0", "x"})
        EXPECT_EQ(parseCheckValue(QString::fromLatin1(t)), std::nullopt) << t;
    // Missing and not converting read alike; an empty text is present but does not convert.
    EXPECT_EQ(readInt16(std::nullopt, 9), 9);
    EXPECT_EQ(readInt16(QStringLiteral("70000"), 9), 9);
    EXPECT_EQ(readCheckValue(QString(), 0), 0);
    EXPECT_EQ(readBool(QStringLiteral("maybe"), true), true);
    EXPECT_EQ(readText(QString(), QStringLiteral("16")), QString());
    EXPECT_EQ(readText(std::nullopt, QStringLiteral("16")), QStringLiteral("16"));
}

} // namespace
} // namespace ew
