// The event manifest as the service programs carry it: read out of qzrtlm.exe and qzrtlm_sim.exe
// through their resource directories by the independent reader, held against the event list and
// the manifest file, and every event's message rendered from the program's message table.
#include "EventLogMessages.h"
#include "manifest_expectations.h"
#include "module_text.h"
#include "wevt_reader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> FileBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ServiceProgram : public ::testing::TestWithParam<const wchar_t *> {
protected:
    void SetUp() override
    {
        path = BesideBin(GetParam());
        file = FileBytes(path);
        ASSERT_FALSE(file.empty());
        std::string error;
        ASSERT_TRUE(wevtread::FindResourceBytes(wevtread::Bytes{file.data(), file.size()}, u"WEVT_TEMPLATE", &resource,
                                           &error))
            << error;
        ASSERT_TRUE(wevtread::ReadManifest(resource, &manifest, &error)) << error;
    }
    std::wstring path;
    std::vector<uint8_t> file;
    wevtread::Bytes resource;
    wevtread::Manifest manifest;
};

TEST_P(ServiceProgram, CarriesTheEventManifest)
{
    manifest_expect::ExpectManifest(manifest);
}

TEST_P(ServiceProgram, ResourceIsTheOneTheLoaderFinds)
{
    // The reader's walk of the resource directory and the system's own find the same bytes.
    UniqueModule module = LoadAsData(path);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"WEVT_TEMPLATE");
    ASSERT_NE(found, nullptr);
    DWORD size = SizeofResource(module.get(), found);
    const void *data = LockResource(LoadResource(module.get(), found));
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, resource.size);
    EXPECT_EQ(std::memcmp(data, resource.data, size), 0);
}

TEST_P(ServiceProgram, ManifestFileNamesWhatTheProgramCarries)
{
    std::string xml = manifest_expect::ReadFileText(BesideBin(L"bin\\qzrtlmevents.man"));
    ASSERT_FALSE(xml.empty());
    manifest_expect::ExpectFileMatches(xml, manifest);
}

TEST_P(ServiceProgram, EveryEventHasItsMessage)
{
    UniqueModule module = LoadAsData(path);
    ASSERT_NE(module, nullptr);
    for (const wevtread::Event &e : manifest.events) {
        SCOPED_TRACE(testing::Message() << std::hex << e.message);
        std::wstring text = Render(module.get(), e.message);
        ASSERT_GT(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    }
    // The names the manifest gives its provider, channel and levels.
    EXPECT_EQ(Render(module.get(), manifest.providerMessage), L"NDX Velmarine Management Service");
    EXPECT_EQ(Render(module.get(), manifest.channels.at(0).message), L"System");
    const wchar_t *levels[] = {L"Error", L"Warning", L"Information"};
    for (size_t i = 0; i < manifest.levels.size() && i < 3; ++i)
        EXPECT_EQ(Render(module.get(), manifest.levels[i].message), levels[i]);
}

TEST_P(ServiceProgram, RendersManifestEventsWithTheirData)
{
    UniqueModule module = LoadAsData(path);
    ASSERT_NE(module, nullptr);
    struct Case {
        uint16_t value;
        std::vector<const wchar_t *> strings;
        const wchar_t *text;
    };
    const Case cases[] = {
        {100, {}, L"The service process has started.\r\n"},
        {102, {L"ndxtlm"}, L"The ndxtlm service failed to initialize.\r\n"},
        {110, {L"30", L"Thermal."},
         L"The out of band management system will gracefully shutdown the system in 30 seconds. Thermal.\r\n"},
        {112, {L"By user."},
         L"The out of band management system has cancelled the planned graceful shutdown or reboot. By user.\r\n"},
        {258, {L"7", L"1", L"3", L"Text"}, L"Description of Event ID 7, KDL Class Code 1, Event Code 3: Text\r\n"},
        {0x110D, {L"7", L"17", L"3", L"Text"}, L"Description of Event ID 7, KDL Class Code 17, Event Code 3: Text\r\n"},
        {0x2A06, {L"7", L"42", L"3", L"Text"}, L"Description of Event ID 7: (REPAIRED) Text\r\n"},
        {0xFF0F, {L"7", L"255", L"3", L"Text"}, L"Description of Event ID 7, KDL Class Code 255, Event Code 3: Text\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        const wevtread::Event *event = nullptr;
        for (const wevtread::Event &e : manifest.events)
            if (e.value == c.value)
                event = &e;
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(Render(module.get(), event->message, c.strings), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, ServiceProgram, ::testing::Values(L"bin\\qzrtlm.exe", L"bin\\qzrtlm_sim.exe"),
                         [](const testing::TestParamInfo<const wchar_t *> &info) {
                             return std::string(info.index == 0 ? "Product" : "Simulation");
                         });

TEST(MessageLibrary, NamesTheManifestsLevelsAndChannel)
{
    // The event log renders level and channel names from the registered message file too.
    UniqueModule library = LoadAsData(BesideBin(L"eventmsg\\EventLogMessages.dll"));
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(Render(library.get(), 0x50000002), L"Error");
    EXPECT_EQ(Render(library.get(), 0x50000003), L"Warning");
    EXPECT_EQ(Render(library.get(), 0x50000004), L"Information");
    EXPECT_EQ(Render(library.get(), 0x90000001), L"System");
    EXPECT_EQ(Render(library.get(), 0x90000002), L"NDX Velmarine Management Service");
    EXPECT_EQ(Render(library.get(), MSG_SERVICE_PROCESS_STARTED), L"The service process has started.\r\n");
}

} // namespace
