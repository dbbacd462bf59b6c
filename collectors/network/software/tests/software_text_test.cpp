// The software list file, hot-fix install dates and the date forms of the installed-software group.
#include "software_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Items(const std::vector<SOFTWARE_LIST_ITEM> &items)
{
    std::string text;
    for (const SOFTWARE_LIST_ITEM &item : items)
        text += "[" + item.name + "|" + item.publisher + "|" + item.version + "|" + item.installLocation + "]";
    return text;
}

TEST(SoftwareList, Items)
{
    struct {
        const char *what;
        std::string text;
        std::string want;
    } cases[] = {
        {"two items",
         "Name : Tool One\nPublisher : Maker\nVersion : 1.2\nInstallLocation : C:\\One\n\nName : Tool Two\r\n"
         "Version : 2.0\r\n",
         "[Tool One|Maker|1.2|C:\\One][Tool Two||2.0|]"},
        {"lines outside items and before the first name are ignored",
         "Publisher : Nobody\nrandom text\n\nName : Only\n", "[Only|||]"},
        {"a key line without a colon or a value is skipped",
         "Name : A\nPublisher \nVersion :\nInstallLocation : \nVersion : 3\n", "[A||3|]"},
        {"a name line without a value begins no item", "Name\nPublisher : P\n\nName : B\n", "[B|||]"},
        {"the value begins two characters after the first colon", "Name :X:Y\nVersion :: 4\n", "[:Y|| 4|]"},
        {"keys are matched with their blank", "Name : C\nPublisherX : no\nVersion: no\n", "[C|||]"},
        {"a second Name line inside an item is not a key", "Name : D\nName : E\n", "[D|||]"},
        {"the empty line ends the item", "Name : F\n\nVersion : 9\n", "[F|||]"},
        {"an overlong line is skipped whole", "Name : G\nPublisher : " + std::string(2000, 'p') + "\nVersion : 1\n",
         "[G||1|]"},
        {"an overlong name line begins no item", "Name : " + std::string(2000, 'n') + "\nVersion : 1\n", ""},
        {"a NUL inside a value is kept inside it", std::string("Name : H\0I\n", 11), std::string("[H\0I|||]", 8)},
        {"empty text", "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.want, Items(ParseSoftwareList(c.text)));
    }
}

TEST(SoftwareList, ItemsAreBounded)
{
    std::string text;
    for (size_t i = 0; i < kSoftwareListMaxItems + 10; ++i)
        text += "Name : n" + std::to_string(i) + "\n\n";
    const auto items = ParseSoftwareList(text);
    ASSERT_EQ(kSoftwareListMaxItems, items.size());
    EXPECT_EQ("n" + std::to_string(kSoftwareListMaxItems - 1), items.back().name);
}

TEST(InstalledOn, Forms)
{
    struct {
        const char *text;
        INSTALLED_ON::Kind kind;
        int year, month, day;
        uint64_t fileTime;
    } cases[] = {
        {"3/15/2020", INSTALLED_ON::Date, 2020, 3, 15, 0},
        {"2020/3/15", INSTALLED_ON::Date, 2020, 3, 15, 0},
        {" 12/31/1999 extra", INSTALLED_ON::Date, 1999, 12, 31, 0},
        {"15/3/20", INSTALLED_ON::None, 0, 0, 0, 0},
        {"22/2/2022", INSTALLED_ON::None, 0, 0, 0, 0}, // day first: month 22 is no month
        {"2022/13/1", INSTALLED_ON::None, 0, 0, 0, 0},
        {"2022/12/32", INSTALLED_ON::None, 0, 0, 0, 0},
        {"0/0/2020", INSTALLED_ON::None, 0, 0, 0, 0},
        {"1/1/99999", INSTALLED_ON::None, 0, 0, 0, 0},
        {"-3/15/2020", INSTALLED_ON::None, 0, 0, 0, 0},
        {"01d5a0b3c7e48000", INSTALLED_ON::FileTime, 0, 0, 0, 0x01d5a0b3c7e48000ull},
        {"0x1D5A0B3C7E48000", INSTALLED_ON::FileTime, 0, 0, 0, 0x01d5a0b3c7e48000ull},
        {"0", INSTALLED_ON::None, 0, 0, 0, 0},
        {"1ffffffffffffffff", INSTALLED_ON::None, 0, 0, 0, 0}, // past 64 bits
        {"n/a", INSTALLED_ON::None, 0, 0, 0, 0},
        {"", INSTALLED_ON::None, 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const INSTALLED_ON got = ParseInstalledOn(c.text);
        EXPECT_EQ(c.kind, got.kind);
        EXPECT_EQ(c.year, got.date.year);
        EXPECT_EQ(c.month, got.date.month);
        EXPECT_EQ(c.day, got.date.day);
        EXPECT_EQ(c.fileTime, got.fileTime);
    }
}

TEST(SoftwareDate, DateAndTimeAndText)
{
    struct {
        SOFTWARE_DATE date;
        std::vector<uint8_t> bytes;
        const char *text;
    } cases[] = {
        {{2021, 5, 4, 13, 2, 9, 870}, {0x07, 0xE5, 5, 4, 13, 2, 9, 8}, "2021/05/04 13:02:09"},
        {{2021, 5, 4, 0, 0, 0, 0}, {0x07, 0xE5, 5, 4, 0, 0, 0, 0}, "2021/05/04"},
        {{2021, 5, 4, 0, 0, 1, 0}, {0x07, 0xE5, 5, 4, 0, 0, 1, 0}, "2021/05/04 00:00:01"},
        {{}, {0, 0, 0, 0, 0, 0, 0, 0}, "n/a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t bytes[8];
        std::memset(bytes, 0xEE, sizeof bytes);
        SoftwareDateAndTime(c.date, bytes);
        EXPECT_EQ(c.bytes, std::vector<uint8_t>(bytes, bytes + 8));
        EXPECT_EQ(c.text, SoftwareDateText(c.date));
    }
}

} // namespace
