// The name tables and formatting helpers that class formatters share.
#include "kdl_entry.h"
#include "kdl_format.h"
#include "kdl_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TableCase {
    const char *name;
    const char *(*lookup)(uint8_t);
    unsigned rows;
    const char *first;
    const char *last;
    const char *fallback;
};

TEST(NameTables, RowsThenFallbackForEveryIndexBeyond)
{
    const TableCase tables[] = {
        {"SensorLocationName", SensorLocationName, 16, "System", "Virtual", "Unknown"},
        {"PowerComponentName", PowerComponentName, 5, "Enclosure", "Power Subsystem", "Unknown"},
        {"AcLineEventName", AcLineEventName, 6, "Unknown", "AC Power Loss", "Unknown"},
        {"PowerOnDenialName", PowerOnDenialName, 4, "Lost Redundant Power",
         "Denied By Power Enclosure Management Board", "Unknown"},
        {"EnclosureSideName", EnclosureSideName, 3, "Unknown Location", "Right Side", "Unknown Location"},
        {"PowerConfigErrorName", PowerConfigErrorName, 5, "Unknown", "DC-to-DC Configuration Invalid", "Unknown"},
        {"PowerModuleFaultName", PowerModuleFaultName, 10, "Unknown", "Fan 2 failed or removed", "Unknown"},
        {"PowerBusName", PowerBusName, 3, "Unknown Location", "Power Bus B", "Unknown"},
        {"EnclosureComponentName", EnclosureComponentName, 19, "Chassis Slot 1", "Unknown", "Unknown"},
        {"ManagementBusDeviceName", ManagementBusDeviceName, 17, "oXB Management Controller", "9555 Mux",
         "Unknown"},
        {"ManagementBoardErrorName", ManagementBoardErrorName, 9, "I2C Error", "Unknown I2C Error", "Unknown"},
        {"PowerDenialReasonName", PowerDenialReasonName, 7, "Unknown", "Enclosure Error", "Unknown"},
    };
    for (const TableCase &c : tables) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.lookup(0), c.first);
        EXPECT_STREQ(c.lookup(static_cast<uint8_t>(c.rows - 1)), c.last);
        for (unsigned i = c.rows; i <= 255; ++i)
            ASSERT_STREQ(c.lookup(static_cast<uint8_t>(i)), c.fallback) << "index " << i;
    }
}

TEST(NameTables, RowsInTheMiddle)
{
    EXPECT_STREQ(SensorLocationName(4), "Memory");
    EXPECT_STREQ(SensorLocationName(12), "Backplane");
    EXPECT_STREQ(EnclosureSideName(7), "Unknown Location");
    EXPECT_STREQ(PowerBusName(3), "Unknown");
    EXPECT_STREQ(EnclosureComponentName(8), "Server Blade Management Module");
    EXPECT_STREQ(EnclosureComponentName(17), "RJ45 6 West");
    EXPECT_STREQ(ManagementBusDeviceName(11), "9544 Fuse Mux");
    EXPECT_STREQ(PowerModuleFaultName(5), "Fan 1 failed or removed");
    EXPECT_STREQ(PowerDenialReasonName(2), "Electronic Keying or I/O Configuration Error");
}

struct ValueCase {
    const char *(*lookup)(uint8_t);
    uint8_t value;
    const char *text;
};

TEST(NamesByValue, Table)
{
    const ValueCase cases[] = {
        {PowerSupplyFailureName, 0, "General Failure"},
        {PowerSupplyFailureName, 2, "Fan Failure"},
        {PowerSupplyFailureName, 3, "Unknown Failure"},
        {PowerSupplyFailureName, 4, "Unknown Failure"},
        {PowerSupplyFailureName, 9, "Voltage Channel Failure"},
        {PowerSupplyFailureName, 10, "Unknown Failure"},
        {PowerSupplyFailureName, 12, "Give Up On Startup"},
        {PowerSupplyFailureName, 15, "Input Power Loss or Unplugged Power Cord, Verify Power Supply Input"},
        {PowerSupplyFailureName, 16, "Unknown Failure"},
        {PowerSupplyFailureName, 254, "Unknown Failure"},
        {PowerSupplyFailureName, 255, "No Error"},
        {UpperLowerName, 0, "Unknown"},
        {UpperLowerName, 1, "Upper"},
        {UpperLowerName, 2, "Lower"},
        {UpperLowerName, 3, "Unknown"},
        {InterlockFaultPrefix, 0, "Unknown interlock type, "},
        {InterlockFaultPrefix, 3, "Power on fault, "},
        {InterlockFaultPrefix, 4, ""},
        {EnclosureTypeName, 4, "Server Blade Enclosure"},
        {EnclosureTypeName, 5, "Power Enclosure"},
        {EnclosureTypeName, 3, ""},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << unsigned(c.value) << " -> " << c.text);
        EXPECT_STREQ(c.lookup(c.value), c.text);
    }
}

TEST(ExternalInternalName, ByFirstByteOfClassData)
{
    const uint8_t external[] = {2}, internal[] = {3}, other[] = {4};
    EXPECT_STREQ(ExternalInternalName(KdlClassData(external, 1)), "External");
    EXPECT_STREQ(ExternalInternalName(KdlClassData(internal, 1)), "Internal");
    EXPECT_STREQ(ExternalInternalName(KdlClassData(other, 1)), "");
    EXPECT_STREQ(ExternalInternalName(KdlClassData()), "");
}

TEST(FormattingHelpers, Table)
{
    struct Case {
        const char *name;
        KdlField field;
        const char *text;
    };
    const Case cases[] = {
        {"byte 0", FormatByteOrUnknown(0), "0"},
        {"byte 254", FormatByteOrUnknown(254), "254"},
        {"byte 255", FormatByteOrUnknown(255), "Unknown"},
        {"dword", FormatDwordOrUnknown(4294967294u), "4294967294"},
        {"dword all ones", FormatDwordOrUnknown(0xFFFFFFFFu), "Unknown"},
        {"char", FormatCharOrUnknown('B'), "B"},
        {"char FF", FormatCharOrUnknown(0xFF), "Unknown"},
        {"hex byte", FormatHexByte(0xAB), "ab"},
        {"hex byte small", FormatHexByte(7), "07"},
        {"hex 32", FormatHex32(0xABC), "0x00000ABC"},
        {"temperature 40", FormatTemperature(40), "40C"},
        {"temperature 255", FormatTemperature(255), "Unknown"},
        {"port", FormatPortName('1', 'I'), "1I"},
        {"chassis unknown", FormatChassisName(255, ""), "Unknown"},
        {"chassis number", FormatChassisName(2, ""), "2"},
        {"chassis without name", FormatChassisName(2, nullptr), "2"},
        {"chassis name", FormatChassisName(7, "A"), "A"},
        {"chassis prefix", FormatChassisPrefix("C1"), "Chassis C1, "},
        {"chassis prefix empty", FormatChassisPrefix(""), ""},
        {"chassis prefix null", FormatChassisPrefix(nullptr), ""},
        {"SATA device", FormatStorageDevice(1, 4, 1), "SATA Device, Box 1, Bay 4"},
        {"SAS device", FormatStorageDevice(2, 5, 2), "SAS Device, Box 2, Bay 5"},
        {"SAS expander", FormatStorageDevice(3, 6, 5), "SAS Expander, Box 3, Bay 6"},
        {"switch expander", FormatStorageDevice(3, 6, 16), "Switch Expander"},
        {"unknown type", FormatStorageDevice(3, 6, 17), "Unknown Device Type"},
        {"SAS controller", FormatStorageDevice(3, 6, 254), "SAS Controller"},
        {"other type", FormatStorageDevice(3, 6, 9), "Unknown Device Type 0x09, Box 3, Bay 6"},
        {"other type big", FormatStorageDevice(255, 0, 0xC3), "Unknown Device Type 0xC3, Box 255, Bay 0"},
        {"squeeze inner", SqueezeSpaces("  a \t b  "), "a b"},
        {"squeeze runs", SqueezeSpaces("\r\nx\v\fy\n"), "x y"},
        {"squeeze only space", SqueezeSpaces(" \t "), ""},
        {"squeeze nothing", SqueezeSpaces("abc"), "abc"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(c.field.c_str(), c.text);
    }
}

TEST(FormatControllerLocation, FromTwoStringsAndSlot)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> data;
        uint8_t slot;
        const char *text;
    };
    const Case cases[] = {
        {"both empty", {9, 0, 0}, 3, "Slot 3"},
        {"chassis only", {9, 'C', '1', 0, 0}, 255, "Chassis C1, Slot Unknown"},
        {"slot name only", {9, 0, 'E', 'm', 'b', 'e', 'd', 'd', 'e', 'd', 0}, 3, "Embedded"},
        {"both", {9, 'C', '1', 0, 'B', 'a', 'y', 0}, 3, "Chassis C1, Bay"},
        // The entry ends inside the chassis name: no slot name follows.
        {"cut in chassis", {9, 'C', '1'}, 4, "Chassis C1, Slot 4"},
        {"no strings at all", {9}, 0, "Slot 0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KdlClassData d(c.data.data(), c.data.size());
        EXPECT_STREQ(FormatControllerLocation(d, 1, c.slot).c_str(), c.text);
    }
}

TEST(FormatEnclosureId, SerialOrAddress)
{
    const uint8_t bytes[] = {4, 0x01, 0x2A};
    KdlClassData d(bytes, sizeof bytes);
    EXPECT_STREQ(FormatEnclosureId("-12", d).c_str(), "Enclosure Address 012A");
    EXPECT_STREQ(FormatEnclosureId("", d).c_str(), "Enclosure Address 012A");
    EXPECT_STREQ(FormatEnclosureId(nullptr, d).c_str(), "Enclosure Address 012A");
    EXPECT_STREQ(FormatEnclosureId("\xC3\xA9t", d).c_str(), "Enclosure Address 012A");
    EXPECT_STREQ(FormatEnclosureId("5CZ123", d).c_str(), "Enclosure Serial Number 5CZ123");
    EXPECT_STREQ(FormatEnclosureId("z0123456789abcdefXYZ", d).c_str(), "Enclosure Serial Number z0123456789abcde");
    // Address bytes past the end of a short entry read as zero.
    KdlClassData shortData(bytes, 2);
    EXPECT_STREQ(FormatEnclosureId("", shortData).c_str(), "Enclosure Address 0100");
}

TEST(BigEndianValue, CountsAndBounds)
{
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    KdlClassData d(bytes, sizeof bytes);
    EXPECT_EQ(BigEndianValue(d, 0, 2), 0x1234u);
    EXPECT_EQ(BigEndianValue(d, 0, 0), 0u);
    EXPECT_EQ(BigEndianValue(d, 0, 4), 0x12345678u);
    EXPECT_EQ(BigEndianValue(d, 0, 6), 0x56789ABCu);
    // Bytes past the end count as zero: the value still shifts.
    EXPECT_EQ(BigEndianValue(d, 4, 3), 0x9ABC00u);
    EXPECT_EQ(BigEndianValue(d, 0, 255), 0u);
}

TEST(SqueezeSpaces, LongSourceIsCutWithoutTrailingBlank)
{
    std::string source;
    while (source.size() < 3000)
        source += "ab  ";
    KdlField squeezed = SqueezeSpaces(source.c_str());
    size_t length = std::strlen(squeezed.c_str());
    EXPECT_LE(length, kKdlTextSize - 1);
    EXPECT_GE(length, kKdlTextSize - 3);
    EXPECT_NE(squeezed.c_str()[length - 1], ' ');
    EXPECT_EQ(std::string(squeezed.c_str(), 6), "ab ab ");
}

} // namespace
