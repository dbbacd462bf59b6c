// The software inventory's portable rules: image paths, catalogue filters, texts and the
// processor rows of a usage sampling.
#include "software_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// A file system of a few files, with %SystemRoot% and %ProgramFiles% as on a server.
struct FakeSystem {
    std::set<std::wstring> files;
    std::optional<std::wstring> dll;

    static std::wstring Replace(std::wstring text, const std::wstring &from, const std::wstring &to)
    {
        for (size_t at = 0; (at = text.find(from, at)) != std::wstring::npos; at += to.size())
            text.replace(at, from.size(), to);
        return text;
    }

    IMAGE_PATH_IO Io()
    {
        IMAGE_PATH_IO io;
        io.expand = [](const std::wstring &text) -> std::optional<std::wstring> {
            std::wstring out = Replace(text, L"%SystemRoot%", L"C:\\windows");
            out = Replace(out, L"%systemroot%", L"C:\\windows");
            out = Replace(out, L"%ProgramFiles%", L"C:\\Program Files");
            if (out.size() > 260)
                return std::nullopt;
            return out;
        };
        io.exists = [this](const std::wstring &path) {
            for (const std::wstring &file : files)
                if (EqualsNoCase(file, path))
                    return true;
            return false;
        };
        io.serviceDll = [this] { return dll; };
        return io;
    }
};

TEST(ImagePathTest, Table)
{
    FakeSystem system;
    system.files = {L"C:\\windows\\system32\\drivers\\mountmgr.sys", L"C:\\windows\\system32\\drivers\\http.sys",
                    L"C:\\windows\\system32\\svchost.exe", L"C:\\windows\\system32\\svc.dll",
                    L"C:\\Program Files\\Vostrel-Quinbar\\TLM\\tool.exe", L"C:\\windows\\system32\\agent.exe",
                    L"C:\\apps\\Agent.exe"};
    struct {
        bool driver;
        const wchar_t *image;
        std::optional<std::wstring> dll;
        const wchar_t *expected;  // null: not found
    } cases[] = {
        {true, L"", {}, L"C:\\windows\\system32\\drivers\\mountmgr.sys"},
        {false, L"", {}, nullptr},
        {true, L"system32\\drivers\\mountmgr.sys", {}, L"C:\\windows\\system32\\drivers\\mountmgr.sys"},
        {true, L"\\SystemRoot\\system32\\drivers\\mountmgr.sys", {}, L"C:\\windows\\system32\\drivers\\mountmgr.sys"},
        {true, L"\\systemroot\\system32\\drivers\\mountmgr.sys", {}, L"C:\\windows\\system32\\drivers\\mountmgr.sys"},
        {true, L"\\??\\C:\\windows\\system32\\drivers\\http.sys", {}, L"C:\\windows\\system32\\drivers\\http.sys"},
        // A drive-letter path is absolute, not relative to the system root.
        {true, L"C:\\windows\\system32\\drivers\\http.sys", {}, L"C:\\windows\\system32\\drivers\\http.sys"},
        {true, L"  system32\\drivers\\http.sys \t", {}, L"C:\\windows\\system32\\drivers\\http.sys"},
        {false, L"\"C:\\apps\\Agent.exe\" -run now", {}, L"C:\\apps\\Agent.exe"},
        {false, L"\"C:\\apps\\Agent.exe -run", {}, nullptr},
        {false, L"C:\\Windows\\System32\\Agent.exe -run now", {}, L"c:\\windows\\system32\\agent.exe"},
        {false, L"C:\\Program Files\\Vostrel-Quinbar\\TLM\\tool.exe -k x", {},
         L"c:\\program files\\vostrel-quinbar\\tlm\\tool.exe"},
        {false, L"C:\\Program Files\\Vostrel-Quinbar\\TLM\\tool.exe", {},
         L"c:\\program files\\vostrel-quinbar\\tlm\\tool.exe"},
        {false, L"C:\\Program Files\\Vostrel-Quinbar\\TLM\\missing.exe -k", {}, nullptr},
        {false, L"%SystemRoot%\\System32\\svchost.exe -k netsvcs", {}, L"C:\\windows\\system32\\svchost.exe"},
        {false, L"%SystemRoot%\\System32\\svchost.exe", L"%SystemRoot%\\system32\\svc.dll",
         L"C:\\windows\\system32\\svc.dll"},
        {false, L"%SystemRoot%\\System32\\svchost.exe", {}, L"C:\\windows\\System32\\svchost.exe"},
    };
    const std::wstring tooLong = L"%SystemRoot%\\" + std::wstring(300, L'a');
    EXPECT_FALSE(ResolveImagePath(false, L"x", tooLong, system.Io()).has_value());
    for (const auto &c : cases) {
        system.dll = c.dll;
        const std::optional<std::wstring> got = ResolveImagePath(c.driver, L"mountmgr", c.image, system.Io());
        if (c.expected == nullptr)
            EXPECT_FALSE(got.has_value()) << std::string(c.image, c.image + wcslen(c.image));
        else
            EXPECT_EQ(got.value_or(L"(none)"), c.expected) << std::string(c.image, c.image + wcslen(c.image));
    }
}

TEST(CatalogueFilterTest, OsFilter)
{
    struct {
        int32_t filter, type;
        bool applies;
    } cases[] = {{0, 0, true}, {0, 59, true},      {2008, 22, true},  {2008, 37, true},  {2008, 26, false},
                 {2012, 26, true}, {2012, 38, true}, {2012, 37, false}, {2016, 55, true}, {2016, 57, true},
                 {2016, 59, false}, {22, 22, true},  {22, 37, false},  {2012, 0, false}};
    for (const auto &c : cases)
        EXPECT_EQ(OsFilterApplies(c.filter, c.type), c.applies) << c.filter << " " << c.type;
}

TEST(CatalogueFilterTest, Generation)
{
    struct {
        const wchar_t *product;
        int generation;
    } cases[] = {{L"Pelinor RX ZDT8 server", 8}, {L"Pelinor ZDT9", 9},  {L"ZDT10", 0},  {L"ZDT", 0},
                 {L"server ZDT 9", 0},          {L"no marker 9", 0},   {L"", 0},       {L"ZDT98", 9},
                 {L"zdt9", 0},                  {L"ZDT1ZDT9", 0}};
    for (const auto &c : cases)
        EXPECT_EQ(ServerGenerationFromProduct(c.product, L"ZDT"), c.generation)
            << std::string(c.product, c.product + wcslen(c.product));
}

TEST(SoftwareTextTest, Descriptions)
{
    EXPECT_EQ(SoftwareDescription("Mount Point Manager", "Wine", "cat"), "mount point manager");
    EXPECT_EQ(SoftwareDescription("mountmgr.SYS", "Wine", "cat"), "Wine");
    EXPECT_EQ(SoftwareDescription("", "Wine", "cat"), "Wine");
    EXPECT_EQ(SoftwareDescription("", "", "cat"), "cat");
    EXPECT_EQ(RunningSoftwareText("Agent.EXE", "Pelinor\xAE Agent\x99"), "Pelinor  Agent ");
    EXPECT_EQ(RunningSoftwareText("C:\\Apps\\Tool", ""), "c:\\apps\\tool");
    EXPECT_EQ(RunningSoftwareText("", ""), "");
}

TEST(SoftwareTextTest, RecordTexts)
{
    FILE_DATE date{2024, 3, 7, 9, 5, 1};
    uint8_t octets[7];
    DateToOctets(date, octets);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(octets), 7), std::string("\x07\xE8\x03\x07\x09\x05\x01", 7));
    EXPECT_EQ(DateToRecordText(date), "2024/03/07 09:05:01");
    const std::vector<PCI_FUNCTION> functions = {
        {"nic", 0x3B, 0x00020000}, {"disk", 1, 0}, {"nic", 0x3B, 0x00020001}, {"nicx", 4, 0}};
    EXPECT_EQ(PciLocationsOf("nic", functions), "0000:3B:02.0 0000:3B:02.1");
    EXPECT_EQ(PciLocationsOf("none", functions), "");
    EXPECT_EQ(FirstLastFlags(0, 1), 3);
    EXPECT_EQ(FirstLastFlags(0, 3), 1);
    EXPECT_EQ(FirstLastFlags(1, 3), 0);
    EXPECT_EQ(FirstLastFlags(2, 3), 2);
}

TEST(ProcessorSampleTest, Rows)
{
    PROCESSOR_SAMPLE sample;
    sample.Reset();
    sample.Add("0,0", 12, 3);
    sample.Add("0,_Total", 99, 99);
    sample.Add("0,1", 300, std::nullopt);  // the low 8 bits
    sample.Add("_Total", 20, 5);
    sample.Add("other", 77, 77);
    EXPECT_EQ(sample.Count(), 2u);
    EXPECT_EQ(sample.TotalUser(), 20);
    EXPECT_EQ(sample.TotalPrivileged(), 5);
    EXPECT_EQ(sample.Entries()[0], 12);
    EXPECT_EQ(sample.Entries()[1], 3);
    EXPECT_EQ(sample.Entries()[2], 300 & 0xFF);
    EXPECT_EQ(sample.Entries()[3], 0);

    sample.Reset();
    EXPECT_EQ(sample.Count(), 0u);
    for (int i = 0; i < 5000; ++i)
        sample.Add("0," + std::to_string(i), i % 100, 1);
    EXPECT_EQ(sample.Count(), 4096u);
    EXPECT_EQ(sample.Entries()[4095 * 2], 4095 % 100);
}

TEST(ProcessorSampleTest, Period)
{
    EXPECT_FALSE(UtilizationPeriodMinutes(std::nullopt));
    EXPECT_FALSE(UtilizationPeriodMinutes(0u));
    EXPECT_EQ(*UtilizationPeriodMinutes(5u), 5u);
    EXPECT_EQ(*UtilizationPeriodMinutes(2000u), 1440u);
}

} // namespace
