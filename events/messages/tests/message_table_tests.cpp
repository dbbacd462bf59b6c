// The message library and the service program's own message table, read as the event log reads
// them: loaded as a data file, each text rendered with FormatMessageW and the event's strings.
#include "EventLogMessages.h"
#include "module_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// Every identifier in a module's message table, read from the MESSAGETABLE resource itself.
std::set<DWORD> MessageIds(HMODULE module)
{
    std::set<DWORD> ids;
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MESSAGETABLE);
    if (resource == nullptr)
        return ids;
    HGLOBAL loaded = LoadResource(module, resource);
    DWORD size = SizeofResource(module, resource);
    auto *data = static_cast<const MESSAGE_RESOURCE_DATA *>(LockResource(loaded));
    if (data == nullptr || size < sizeof(DWORD) ||
        (size - sizeof(DWORD)) / sizeof(MESSAGE_RESOURCE_BLOCK) < data->NumberOfBlocks)
        return ids;
    for (DWORD b = 0; b < data->NumberOfBlocks; ++b)
        for (DWORD id = data->Blocks[b].LowId; id <= data->Blocks[b].HighId; ++id)
            ids.insert(id);
    return ids;
}

const wchar_t kFull[] = L"Description of Event ID 7, KDL Class Code 2, Event Code 1: Fan Failure\r\n";

class MessageLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = LoadAsData(BesideBin(L"eventmsg\\EventLogMessages.dll"));
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
    }
    UniqueModule library;
};

struct ServiceText {
    DWORD id;
    std::vector<const wchar_t *> strings;
    const wchar_t *text;
};

const ServiceText kServiceTexts[] = {
    {MSG_SERVICE_PROCESS_STARTED, {}, L"The service process has started.\r\n"},
    {MSG_SERVICE_PROCESS_STOPPED, {}, L"The service process has stopped.\r\n"},
    {MSG_SERVICE_INIT_FAILED, {L"ndxtlm"}, L"The ndxtlm service failed to initialize.\r\n"},
    {MSG_SERVICE_DISPATCHER_FAILED, {}, L"The service process failed to initialize.\r\n"},
    {MSG_SERVICE_EXCEPTION, {L"C0000017"}, L"The service encountered an unexpected exception C0000017.\r\n"},
    {MSG_SERVICE_SUBSYSTEM_FAILED, {L"\"SMBIOS\""}, L"The \"SMBIOS\" subsystem failed to initialize.\r\n"},
    {MSG_OOB_SHUTDOWN_PLANNED, {L"30", L"Thermal."},
     L"The out of band management system will gracefully shutdown the system in 30 seconds. Thermal.\r\n"},
    {MSG_OOB_REBOOT_PLANNED, {L"5", L"Update."},
     L"The out of band management system will gracefully reboot the system in 5 seconds. Update.\r\n"},
    {MSG_OOB_SHUTDOWN_CANCELLED, {L"By user."},
     L"The out of band management system has cancelled the planned graceful shutdown or reboot. By user.\r\n"},
};

TEST_F(MessageLibrary, RendersEveryServiceText)
{
    // The identifiers the host reports its events with.
    EXPECT_EQ(MSG_SERVICE_PROCESS_STARTED, 0x41010064u);
    EXPECT_EQ(MSG_SERVICE_SUBSYSTEM_FAILED, 0xC1010069u);
    for (const ServiceText &t : kServiceTexts) {
        SCOPED_TRACE(testing::Message() << std::hex << t.id);
        EXPECT_EQ(Render(library.get(), t.id, t.strings), t.text);
    }
}

TEST_F(MessageLibrary, RendersHardwareEventsWithTheirStrings)
{
    struct Case {
        DWORD id;
        const wchar_t *text;
    };
    const Case cases[] = {
        {0x81010209, kFull},
        {0x41010202, kFull},
        {0xC1012A0F, kFull},
        {0x41010102, kFull},
        {0xC101FF0F, kFull},
        {0xC101110D, kFull},
        {0x4101110E, kFull},
        // A repaired event names its text, not its class.
        {0x41012A06, L"Description of Event ID 7: (REPAIRED) Fan Failure\r\n"},
        {0x41010306, L"Description of Event ID 7: (REPAIRED) Fan Failure\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        EXPECT_EQ(Render(library.get(), c.id, {L"7", L"2", L"1", L"Fan Failure"}), c.text);
    }
}

TEST_F(MessageLibrary, RendersTheCategories)
{
    // The source is registered with 16 categories; hardware events are written in category 6.
    for (DWORD category = 1; category <= 16; ++category) {
        SCOPED_TRACE(category);
        EXPECT_FALSE(Render(library.get(), category, {}).empty());
    }
    EXPECT_EQ(Render(library.get(), 6, {}), L"Hardware Event\r\n");
    DWORD error = 0;
    EXPECT_EQ(Render(library.get(), 17, {}, &error), L"");
}

TEST_F(MessageLibrary, HoldsExactlyTheCategoriesAndEventsOfTheService)
{
    std::set<DWORD> expected;
    for (DWORD category = 1; category <= 16; ++category)
        expected.insert(category);
    for (const ServiceText &t : kServiceTexts)
        expected.insert(t.id);
    expected.insert(0x41010102);
    std::vector<unsigned> classes;
    for (unsigned c = 2; c <= 14; ++c)
        classes.push_back(c);
    for (unsigned c : {17, 18, 19, 20, 32, 33, 34, 36, 37, 38, 39, 40, 41, 42, 255})
        classes.push_back(c);
    for (unsigned c = 50; c <= 59; ++c)
        classes.push_back(c);
    for (unsigned c : classes) {
        expected.insert(0x41010000 | c << 8 | 2);
        expected.insert(0x41010000 | c << 8 | 3);
        expected.insert(0x41010000 | c << 8 | 6);
        expected.insert(0x81010000 | c << 8 | 9);
        expected.insert(0xC1010000 | c << 8 | 15);
    }
    expected.insert(0xC101110D);
    expected.insert(0x4101110E);
    // The names of the event manifest's levels, channel and provider.
    for (DWORD name : {0x50000002u, 0x50000003u, 0x50000004u, 0x90000001u, 0x90000002u})
        expected.insert(name);
    ASSERT_EQ(expected.size(), 16u + 202u + 5u);
    EXPECT_EQ(MessageIds(library.get()), expected);
}

TEST_F(MessageLibrary, UnknownIdentifierHasNoText)
{
    DWORD error = 0;
    EXPECT_EQ(Render(library.get(), 0x41010F02, {L"7", L"15", L"1", L"x"}, &error), L""); // class 15
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(Render(library.get(), 0x00000202, {L"7", L"2", L"1", L"x"}, &error), L""); // no severity bits
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST_F(MessageLibrary, IsAResourceOnlyLibrary)
{
    // Loaded for real (not as data) it runs no code and imports nothing.
    UniqueModule loaded(LoadLibraryW(BesideBin(L"eventmsg\\EventLogMessages.dll").c_str()));
    ASSERT_NE(loaded, nullptr);
    auto *base = reinterpret_cast<const BYTE *>(loaded.get());
    auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.Size != 0) {
        // The linker may leave an import directory that holds only its terminating descriptor.
        auto *first = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
        EXPECT_EQ(first->Name, 0u);
    }
    EXPECT_NE(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].Size, 0u);
}

TEST(ServiceProgram, CarriesTheSameMessageTable)
{
    UniqueModule library = LoadAsData(BesideBin(L"eventmsg\\EventLogMessages.dll"));
    UniqueModule program = LoadAsData(BesideBin(L"bin\\qzrtlm.exe"));
    ASSERT_NE(library, nullptr);
    ASSERT_NE(program, nullptr);
    std::set<DWORD> ids = MessageIds(program.get());
    EXPECT_EQ(ids, MessageIds(library.get()));
    EXPECT_EQ(Render(program.get(), MSG_SERVICE_PROCESS_STARTED, {}), L"The service process has started.\r\n");
    EXPECT_EQ(Render(program.get(), 0x81010209, {L"7", L"2", L"1", L"Fan Failure"}), kFull);
}

} // namespace
