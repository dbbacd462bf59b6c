#include "registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kTestPath[] = L"SOFTWARE\\TlmRegistryTest";
constexpr wchar_t kTestPrefixed[] = L"HKLM:\\SOFTWARE\\TlmRegistryTest";

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int value : values)
        bytes.push_back(static_cast<BYTE>(value));
    return bytes;
}

std::vector<BYTE> WideBytes(const std::wstring &text)
{
    const BYTE *start = reinterpret_cast<const BYTE *>(text.data());
    return std::vector<BYTE>(start, start + text.size() * sizeof(wchar_t));
}

// Writes a value exactly as given (no terminator added) below the test key.
void RawSet(const wchar_t *subkey, const wchar_t *name, DWORD type, const std::vector<BYTE> &data)
{
    HKEY key = nullptr;
    std::wstring path = std::wstring(kTestPath) + (subkey[0] ? L"\\" : L"") + subkey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    // The system counts a NUL that follows string data as part of it; what follows here is not.
    std::vector<BYTE> padded = data;
    padded.insert(padded.end(), {0xFF, 0xFF});
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, padded.data(), static_cast<DWORD>(data.size())));
    RegCloseKey(key);
}

bool RawGet(HKEY root, const std::wstring &path, const wchar_t *name, DWORD *type, std::vector<BYTE> *data)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    data->assign(size, 0);
    ok = ok && RegQueryValueExW(key, name, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool RawKeyExists(HKEY root, const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Runs a command line and returns what it wrote to standard output.
std::string RunAndCapture(std::wstring command, DWORD *exitCode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char chunk[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, chunk, sizeof(chunk), &read, nullptr) && read != 0)
            output.append(chunk, read);
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestPath); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestPath); }
};

// --- paths --------------------------------------------------------------------------------------------

struct PathCase {
    const wchar_t *input;
    HKEY rootIn;
    HKEY root;
    const wchar_t *path;
};

TEST(RegistryPathTest, PrefixesSelectRootAndPath)
{
    const PathCase cases[] = {
        {L"HKLM:\\SOFTWARE\\X", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SOFTWARE\\X"},
        {L"hklm:SOFTWARE\\X", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SOFTWARE\\X"},
        {L"HKLM:/SOFTWARE\\X", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SOFTWARE\\X"},
        {L"HKLM:\\/\\SOFTWARE/X\\", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SOFTWARE/X\\"},
        {L"HKCU:\\Software\\A", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, L"Software\\A"},
        {L"HkCc:System", HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG, L"System"},
        {L"HKCR:.txt", HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, L".txt"},
        {L"HKU:\\.DEFAULT", HKEY_LOCAL_MACHINE, HKEY_USERS, L".DEFAULT"},
        {L"CCS:\\Services\\X", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\X"},
        {L"ccs:", HKEY_USERS, HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\"},
        {L"HKLM:", HKEY_USERS, HKEY_LOCAL_MACHINE, L""},
        {L"SOFTWARE\\X", HKEY_CURRENT_USER, HKEY_CURRENT_USER, L"SOFTWARE\\X"},
        {L"HKLMX:\\SOFTWARE", HKEY_CURRENT_USER, HKEY_CURRENT_USER, L"HKLMX:\\SOFTWARE"},
        {L"HKU\\.DEFAULT", HKEY_CURRENT_USER, HKEY_CURRENT_USER, L"HKU\\.DEFAULT"},
        {L"\\HKLM:SOFTWARE", HKEY_CURRENT_USER, HKEY_CURRENT_USER, L"\\HKLM:SOFTWARE"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.input, test.input + wcslen(test.input)));
        HKEY root = test.rootIn;
        std::wstring path = L"stale";
        CRegistry::ParsePath(test.input, &root, &path);
        EXPECT_EQ(test.root, root);
        EXPECT_EQ(test.path, path);
    }
}

TEST_F(RegistryTest, PrefixedKeysLandUnderTheirRoots)
{
    struct {
        const wchar_t *prefixed;
        HKEY root;
        const wchar_t *path;
    } cases[] = {
        {L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Lm", HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Lm"},
        {L"HKCU:Software\\TlmRegistryTest", HKEY_CURRENT_USER, L"Software\\TlmRegistryTest"},
        {L"HKCR:TlmRegistryTest", HKEY_CLASSES_ROOT, L"TlmRegistryTest"},
        {L"HKU:\\.DEFAULT\\Software\\TlmRegistryTest", HKEY_USERS, L".DEFAULT\\Software\\TlmRegistryTest"},
        {L"HKCC:\\Software\\TlmRegistryTest", HKEY_CURRENT_CONFIG, L"Software\\TlmRegistryTest"},
        {L"CCS:\\Services\\TlmRegistryTest", HKEY_LOCAL_MACHINE,
         L"SYSTEM\\CurrentControlSet\\Services\\TlmRegistryTest"},
    };
    DWORD marker = 100;
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.prefixed, test.prefixed + wcslen(test.prefixed)));
        {
            CRegistry key(test.prefixed);
            ASSERT_EQ(1, key.SetDword(L"Marker", ++marker));
        }
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(RawGet(test.root, test.path, L"Marker", &type, &data));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        ASSERT_EQ(4u, data.size());
        EXPECT_EQ(marker, *reinterpret_cast<DWORD *>(data.data()));
        EXPECT_EQ(1, CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, test.prefixed));
        EXPECT_FALSE(RawKeyExists(test.root, test.path));
    }
}

TEST_F(RegistryTest, SpellingsOfOnePathNameOneKey)
{
    CRegistry writer(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Same");
    ASSERT_EQ(1, writer.SetDword(L"Value", 7));
    for (const wchar_t *spelling : {L"hklm:SOFTWARE\\TlmRegistryTest\\Same", L"HKLM:/SOFTWARE\\TlmRegistryTest\\Same",
                                    L"Hklm:\\\\software\\tlmregistrytest\\same"}) {
        CRegistry reader(spelling, KEY_READ);
        DWORD value = 0;
        EXPECT_EQ(1, reader.GetDword(L"Value", &value));
        EXPECT_EQ(7u, value);
    }
    // Without a prefix the caller's root is kept.
    CRegistry plain(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Same", KEY_READ);
    DWORD value = 0;
    EXPECT_EQ(1, plain.GetDword(L"Value", &value));
    CRegistry elsewhere(HKEY_CURRENT_USER, L"SOFTWARE\\TlmRegistryTest\\Same", KEY_READ);
    EXPECT_EQ(0, elsewhere.Exists());
}

// --- reading ------------------------------------------------------------------------------------------

TEST_F(RegistryTest, ReadersAcceptOnlyTheirTypes)
{
    RawSet(L"", L"dword", REG_DWORD, Bytes({4, 3, 2, 1}));
    RawSet(L"", L"binary4", REG_BINARY, Bytes({4, 3, 2, 1}));
    RawSet(L"", L"shortdword", REG_DWORD, Bytes({4, 3}));
    RawSet(L"", L"qword", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
    RawSet(L"", L"sz", REG_SZ, WideBytes(std::wstring(L"12", 3)));
    RawSet(L"", L"expand", REG_EXPAND_SZ, WideBytes(std::wstring(L"%TEMP%", 7)));
    RawSet(L"", L"multi", REG_MULTI_SZ, WideBytes(std::wstring(L"a\0b\0", 5)));

    struct {
        const wchar_t *name;
        int dword, string, binary;
    } cases[] = {
        {L"dword", 1, 0, 0}, {L"binary4", 0, 0, 1}, {L"shortdword", 0, 0, 0}, {L"qword", 0, 0, 0},
        {L"sz", 0, 1, 0},    {L"expand", 0, 1, 0},  {L"multi", 0, 1, 0},      {L"missing", 0, 0, 0},
    };
    CRegistry key(kTestPrefixed, KEY_READ);
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.name, test.name + wcslen(test.name)));
        DWORD dword = 0xCCCCCCCC;
        EXPECT_EQ(test.dword, key.GetDword(test.name, &dword));
        EXPECT_EQ(test.dword ? 0x01020304u : 0xCCCCCCCCu, dword) << "untouched on failure";
        std::wstring text = L"unchanged";
        EXPECT_EQ(test.string, key.GetString(test.name, &text));
        if (!test.string) {
            EXPECT_EQ(L"unchanged", text);
        }
        BYTE binary[16] = {};
        DWORD size = sizeof(binary);
        EXPECT_EQ(test.binary, key.GetBinary(test.name, binary, &size));
        EXPECT_EQ(test.name != std::wstring(L"missing"), key.ValueExists(test.name));
    }
    std::wstring expand;
    EXPECT_EQ(1, key.GetString(L"expand", &expand));
    EXPECT_EQ(L"%TEMP%", expand) << "not expanded";
}

struct StringCase {
    const char *what;
    DWORD type;
    std::vector<BYTE> data;
    std::wstring expected;
};

TEST_F(RegistryTest, GetStringHandlesTerminatorsAndOddSizes)
{
    const std::vector<StringCase> cases = {
        {"trailing NULs dropped", REG_SZ, WideBytes(std::wstring(L"abc\0\0", 5)), L"abc"},
        {"no terminator at all", REG_SZ, WideBytes(L"abc"), L"abc"},
        {"embedded NUL kept", REG_SZ, WideBytes(std::wstring(L"a\0b\0", 4)), std::wstring(L"a\0b", 3)},
        {"multi-string keeps every NUL", REG_MULTI_SZ, WideBytes(std::wstring(L"a\0b\0\0", 5)),
         std::wstring(L"a\0b\0\0", 5)},
        {"expand string trims like a string", REG_EXPAND_SZ, WideBytes(std::wstring(L"%x%\0", 4)), L"%x%"},
        {"zero bytes", REG_SZ, {}, L""},
        {"one byte", REG_SZ, Bytes({'a'}), L""},
        {"odd size drops the half character", REG_SZ, Bytes({'a', 0, 'b', 0, 'c'}), L"ab"},
        {"odd multi-string", REG_MULTI_SZ, Bytes({'a', 0, 0, 0, 0}), std::wstring(L"a\0", 2)},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.what);
        RawSet(L"", L"value", test.type, test.data);
        CRegistry key(kTestPrefixed, KEY_READ);
        std::wstring text = L"stale";
        ASSERT_EQ(1, key.GetString(L"value", &text));
        EXPECT_EQ(test.expected, text);
    }
}

TEST_F(RegistryTest, GetStringToBufferNeedsRoomForDataAndNul)
{
    RawSet(L"", L"abc", REG_SZ, WideBytes(std::wstring(L"abc\0", 4)));
    RawSet(L"", L"empty", REG_SZ, {});
    RawSet(L"", L"odd", REG_SZ, Bytes({'x', 0, 'y'}));
    RawSet(L"", L"number", REG_DWORD, Bytes({1, 0, 0, 0}));
    CRegistry key(kTestPrefixed, KEY_READ);

    struct {
        const wchar_t *name;
        DWORD capacity;
        int result;
        std::wstring expected; // the buffer's string, or the untouched filler
    } cases[] = {
        {L"abc", 5, 1, L"abc"},     // four stored characters and a NUL
        {L"abc", 4, 0, L"#######"}, // no room for the NUL after the data
        {L"empty", 1, 1, L""},      {L"odd", 2, 1, L"x"}, {L"number", 8, 0, L"#######"}, {L"missing", 8, 0, L"#######"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.name, test.name + wcslen(test.name)) + " in " + std::to_string(test.capacity));
        wchar_t buffer[8];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        buffer[7] = L'\0';
        EXPECT_EQ(test.result, key.GetStringToBuffer(test.name, buffer, test.capacity));
        EXPECT_EQ(test.expected, std::wstring(buffer));
    }
}

TEST_F(RegistryTest, GetBinaryReportsSizeAndRefusesSmallBuffers)
{
    RawSet(L"", L"blob", REG_BINARY, Bytes({1, 2, 3, 4, 5, 6}));
    CRegistry key(kTestPrefixed, KEY_READ);
    BYTE buffer[6] = {};
    DWORD size = 4;
    EXPECT_EQ(0, key.GetBinary(L"blob", buffer, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(0, buffer[0]) << "untouched when too small";
    size = sizeof(buffer);
    ASSERT_EQ(1, key.GetBinary(L"blob", buffer, &size));
    EXPECT_EQ(Bytes({1, 2, 3, 4, 5, 6}), std::vector<BYTE>(buffer, buffer + size));
}

TEST_F(RegistryTest, QueryValueAndQueryInfoDescribeTheKey)
{
    RawSet(L"", L"a", REG_BINARY, Bytes({1, 2, 3}));
    RawSet(L"", L"longer-name", REG_DWORD, Bytes({1, 0, 0, 0}));
    RawSet(L"child1", L"x", REG_DWORD, Bytes({1, 0, 0, 0}));
    RawSet(L"child-two", L"x", REG_DWORD, Bytes({1, 0, 0, 0}));
    CRegistry key(kTestPrefixed, KEY_READ);

    DWORD type = 0, size = 99;
    EXPECT_EQ(1, key.QueryValue(L"a", &type, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(3u, size);
    size = 99;
    EXPECT_EQ(0, key.QueryValue(L"none", &type, &size));
    EXPECT_EQ(0u, size) << "zeroed first";

    DWORD subKeys = 0, longestSubKey = 0, longestClass = 0, values = 0, longestName = 0, longestData = 0, security = 0;
    FILETIME written = {};
    ASSERT_EQ(1, key.QueryInfo(&subKeys, &longestSubKey, &longestClass, &values, &longestName, &longestData, &security,
                               &written));
    EXPECT_EQ(2u, subKeys);
    EXPECT_EQ(wcslen(L"child-two"), longestSubKey);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(wcslen(L"longer-name"), longestName);
    EXPECT_EQ(4u, longestData);
    EXPECT_NE(0u, written.dwHighDateTime);

    CRegistry missing(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\none", KEY_READ);
    EXPECT_EQ(0, missing.QueryInfo(&subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

// --- GetAllValueData ----------------------------------------------------------------------------------

TEST_F(RegistryTest, GetAllValueDataPacksValuesAtTheirOwnLength)
{
    const std::map<std::wstring, std::vector<BYTE>> values = {
        {L"first", Bytes({0x11, 0x11, 0x11, 0x11})},
        {L"second", Bytes({0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22, 0x22})},
        {L"third", Bytes({0x33, 0x33})},
    };
    for (const auto &[name, data] : values)
        RawSet(L"Records", name.c_str(), REG_BINARY, data);
    CRegistry key(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Records", KEY_READ);

    DWORD length = 0, largest = 0, count = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), key.GetAllValueData(nullptr, &length, &largest, &count));
    EXPECT_EQ(24u, length) << "three values times the largest (8)";
    EXPECT_EQ(8u, largest);
    EXPECT_EQ(3u, count);

    std::vector<BYTE> small(23, 0xEE);
    length = static_cast<DWORD>(small.size());
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), key.GetAllValueData(small.data(), &length, &largest, &count));
    EXPECT_EQ(24u, length);
    EXPECT_EQ(std::vector<BYTE>(23, 0xEE), small) << "untouched";

    std::vector<BYTE> buffer(30, 0xEE);
    length = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(0u, key.GetAllValueData(buffer.data(), &length, &largest, &count));
    EXPECT_EQ(14u, length) << "the bytes copied, not the room asked for";

    // Packed in the system's enumeration order (which differs between systems); the rest of the
    // buffer is left as it was.
    std::vector<BYTE> expected;
    HKEY raw = key.GetHandle();
    ASSERT_NE(nullptr, raw);
    for (DWORD index = 0;; ++index) {
        wchar_t name[32];
        DWORD nameLength = 32;
        if (RegEnumValueW(raw, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const auto &data = values.at(name);
        expected.insert(expected.end(), data.begin(), data.end());
    }
    ASSERT_EQ(14u, expected.size());
    expected.resize(30, 0xEE);
    EXPECT_EQ(expected, buffer);
}

TEST_F(RegistryTest, GetAllValueDataOfEmptyAndMissingKeys)
{
    CRegistry empty(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Empty");
    ASSERT_EQ(1, empty.Create());
    BYTE buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    DWORD length = sizeof(buffer), largest = 9, count = 9;
    EXPECT_EQ(0u, empty.GetAllValueData(buffer, &length, &largest, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, largest);
    EXPECT_EQ(0u, length) << "nothing copied";

    CRegistry missing(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Missing", KEY_READ);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), missing.GetAllValueData(buffer, &length, &largest, &count));
}

TEST(RegistrySizeTest, PackedSizeRefusesWhatDoesNotFit32Bits)
{
    struct {
        DWORD count, largest;
        bool fits;
        DWORD size;
    } cases[] = {
        {0, 0, true, 0},
        {3, 8, true, 24},
        {0x10000, 0xFFFF, true, 0xFFFF0000},
        {0x10000, 0x10000, false, 0}, // exactly 4 GiB
        {0x80000001, 2, false, 0},    // wraps to 2 in 32 bits
        {0xFFFFFFFF, 0xFFFFFFFF, false, 0},
        {1, 0xFFFFFFFF, true, 0xFFFFFFFF},
    };
    for (const auto &test : cases) {
        DWORD size = 0;
        EXPECT_EQ(test.fits, CRegistry::PackedSize(test.count, test.largest, &size))
            << test.count << "x" << test.largest;
        if (test.fits) {
            EXPECT_EQ(test.size, size);
        }
    }
}

// --- writing ------------------------------------------------------------------------------------------

TEST_F(RegistryTest, WritersStoreExactBytes)
{
    CRegistry key(kTestPrefixed);
    ASSERT_EQ(1, key.SetDword(L"dword", 0xA1B2C3D4));
    ASSERT_EQ(1, key.SetString(L"sz", L"text"));
    ASSERT_EQ(1, key.SetString(L"expand", L"%TEMP%\\x", REG_EXPAND_SZ));
    ASSERT_EQ(1, key.SetString(L"multi", std::wstring(L"one\0two\0", 8), REG_MULTI_SZ));
    ASSERT_EQ(1, key.SetString(L"empty", L""));
    ASSERT_EQ(1, key.SetBinary(L"binary", "\x01\x02\x03", 3));
    ASSERT_EQ(1, key.SetBinary(L"nothing", nullptr, 0));
    EXPECT_EQ(0, key.SetString(L"badtype", L"x", REG_BINARY));
    EXPECT_EQ(0, key.ValueExists(L"badtype"));

    struct {
        const wchar_t *name;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {L"dword", REG_DWORD, Bytes({0xD4, 0xC3, 0xB2, 0xA1})},
        {L"sz", REG_SZ, WideBytes(std::wstring(L"text", 5))},
        {L"expand", REG_EXPAND_SZ, WideBytes(std::wstring(L"%TEMP%\\x", 9))},
        {L"multi", REG_MULTI_SZ, WideBytes(std::wstring(L"one\0two\0\0", 9))},
        {L"empty", REG_SZ, Bytes({0, 0})},
        {L"binary", REG_BINARY, Bytes({1, 2, 3})},
        {L"nothing", REG_BINARY, {}},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.name, test.name + wcslen(test.name)));
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(RawGet(HKEY_LOCAL_MACHINE, kTestPath, test.name, &type, &data));
        EXPECT_EQ(test.type, type);
        EXPECT_EQ(test.data, data);
    }
    std::wstring multi;
    ASSERT_EQ(1, key.GetString(L"multi", &multi));
    EXPECT_EQ(std::wstring(L"one\0two\0\0", 9), multi);
}

TEST_F(RegistryTest, VolatileKeyStaysVolatileThroughWrites)
{
    // A subkey of a volatile key must be volatile itself, which tells the two kinds apart.
    auto isVolatile = [](HKEY key) {
        HKEY child = nullptr;
        LONG status = RegCreateKeyExW(key, L"probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr);
        if (child != nullptr) {
            RegCloseKey(child);
            RegDeleteKeyW(key, L"probe");
        }
        return status == ERROR_CHILD_MUST_BE_VOLATILE;
    };

    // The parent exists already, as the service's key does; the volatile key goes below it.
    CRegistry parent(kTestPrefixed);
    ASSERT_EQ(1, parent.Create());
    CRegistry writer;
    ASSERT_EQ(1, writer.Create(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\VolatileData", REG_OPTION_VOLATILE, KEY_ALL_ACCESS));
    ASSERT_EQ(1, writer.SetDword(L"SessionId", 5));
    EXPECT_TRUE(isVolatile(writer.GetHandle()));

    // Another object that only opens the key re-creates it for writing; it stays volatile.
    CRegistry other(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\VolatileData");
    ASSERT_EQ(1, other.Open());
    ASSERT_EQ(1, other.SetString(L"OS Boot Logged", L"1"));
    EXPECT_TRUE(isVolatile(other.GetHandle()));

    CRegistry persistent(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Persistent");
    ASSERT_EQ(1, persistent.SetDword(L"x", 1));
    EXPECT_FALSE(isVolatile(persistent.GetHandle()));
}

TEST_F(RegistryTest, DeleteValueNeverCreatesTheKey)
{
    CRegistry missing(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\VolatileData");
    EXPECT_EQ(0, missing.DeleteValue(L"OS Boot Logged"));
    EXPECT_EQ(0, missing.Exists());
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\VolatileData"));

    CRegistry key(kTestPrefixed);
    ASSERT_EQ(1, key.SetDword(L"gone", 1));
    EXPECT_EQ(1, key.DeleteValue(L"gone"));
    EXPECT_EQ(0, key.ValueExists(L"gone"));
    EXPECT_EQ(0, key.DeleteValue(L"gone"));
}

TEST_F(RegistryTest, OpenCreateAndCloseFollowTheKeysLife)
{
    CRegistry key(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Life");
    EXPECT_EQ(0, key.Exists());
    EXPECT_EQ(0, key.Open());
    EXPECT_EQ(nullptr, key.GetHandle());
    EXPECT_EQ(static_cast<REGSAM>(MAXIMUM_ALLOWED), key.GetAccess());

    ASSERT_EQ(1, key.Create());
    HKEY created = key.GetHandle();
    EXPECT_NE(nullptr, created);
    EXPECT_EQ(1, key.Create()) << "already created and open";
    EXPECT_EQ(created, key.GetHandle());
    key.Close();
    EXPECT_EQ(1, key.Exists());
    EXPECT_EQ(1, key.Open());

    CRegistry empty;
    EXPECT_EQ(0, empty.Open());
    EXPECT_EQ(0, empty.Create());
    EXPECT_EQ(0, empty.SetDword(L"x", 1));

    // Open with new coordinates replaces the old ones.
    CRegistry moved;
    EXPECT_EQ(1, moved.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Life", KEY_READ));
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ), moved.GetAccess());
    EXPECT_EQ(0, moved.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\NotThere", KEY_READ));
}

TEST_F(RegistryTest, DeleteTreeRemovesKeyAndRefusesWholeRoots)
{
    RawSet(L"Tree\\Branch\\Leaf", L"x", REG_DWORD, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(1, CRegistry::DeleteTree(HKEY_CURRENT_USER, L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Tree"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Tree"));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, kTestPath));
    EXPECT_EQ(0, CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Tree"));

    // A path without prefix lies under the default root.
    RawSet(L"Plain", L"x", REG_DWORD, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(1, CRegistry::DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Plain"));
    EXPECT_FALSE(RawKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TlmRegistryTest\\Plain"));

    for (const wchar_t *whole : {L"HKLM:", L"HKCU:\\", L"", static_cast<const wchar_t *>(nullptr)})
        EXPECT_EQ(0, CRegistry::DeleteTree(HKEY_CURRENT_USER, whole));
    EXPECT_TRUE(RawKeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services"));
    EXPECT_TRUE(RawKeyExists(HKEY_CURRENT_USER, L"Software"));
}

// --- the system's own registry tool ------------------------------------------------------------------

// reg query's lines for the values of one key: name -> (type, data as printed).
std::map<std::string, std::pair<std::string, std::string>> RegQuery(const std::wstring &key)
{
    DWORD exitCode = 1;
    std::string output = RunAndCapture(L"\"" + SystemFolder() + L"\\reg.exe\" query \"" + key + L"\"", &exitCode);
    EXPECT_EQ(0u, exitCode) << output;
    std::map<std::string, std::pair<std::string, std::string>> values;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("    ", 0) != 0)
            continue;
        // "    name    TYPE    data" (four blanks between the columns)
        std::string rest = line.substr(4);
        size_t first = rest.find("    ");
        if (first == std::string::npos)
            continue;
        std::string name = rest.substr(0, first);
        rest = rest.substr(first + 4);
        size_t second = rest.find("    ");
        std::string type = rest.substr(0, second);
        std::string data = second == std::string::npos ? "" : rest.substr(second + 4);
        values[name] = {type, data};
    }
    return values;
}

TEST_F(RegistryTest, ValuesWrittenHereReadBackIdenticallyWithReg)
{
    CRegistry key(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\Cross");
    ASSERT_EQ(1, key.SetDword(L"Count", 0x2A));
    ASSERT_EQ(1, key.SetString(L"Name", L"hello world"));
    ASSERT_EQ(1, key.SetString(L"Path", L"%SystemRoot%\\logs", REG_EXPAND_SZ));
    ASSERT_EQ(1, key.SetString(L"List", std::wstring(L"alpha\0beta gamma\0", 17), REG_MULTI_SZ));
    const BYTE record[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    ASSERT_EQ(1, key.SetBinary(L"Record", record, sizeof(record)));

    auto values = RegQuery(L"HKLM\\SOFTWARE\\TlmRegistryTest\\Cross");
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"Count", {"REG_DWORD", "0x2a"}},
        {"Name", {"REG_SZ", "hello world"}},
        {"Path", {"REG_EXPAND_SZ", "%SystemRoot%\\logs"}},
        {"List", {"REG_MULTI_SZ", "alpha\\0beta gamma"}},
        {"Record", {"REG_BINARY", "DEADBEEF0001"}},
    };
    EXPECT_EQ(expected, values);
}

TEST_F(RegistryTest, ValuesWrittenByRegReadBackIdenticallyHere)
{
    const std::wstring key = L"HKLM\\SOFTWARE\\TlmRegistryTest\\FromReg";
    const std::wstring reg = L"\"" + SystemFolder() + L"\\reg.exe\" add \"" + key + L"\" /f /v ";
    for (const std::wstring &arguments : {
             std::wstring(L"Count /t REG_DWORD /d 4660"),
             std::wstring(L"Name /t REG_SZ /d \"two words\""),
             std::wstring(L"Path /t REG_EXPAND_SZ /d \"%TEMP%\\y\""),
             std::wstring(L"List /t REG_MULTI_SZ /d \"one\\0two\""),
             std::wstring(L"Record /t REG_BINARY /d 0102FF"),
         }) {
        DWORD exitCode = 1;
        std::string output = RunAndCapture(reg + arguments, &exitCode);
        ASSERT_EQ(0u, exitCode) << output;
    }

    CRegistry read(L"HKLM:\\SOFTWARE\\TlmRegistryTest\\FromReg", KEY_READ);
    DWORD count = 0;
    EXPECT_EQ(1, read.GetDword(L"Count", &count));
    EXPECT_EQ(4660u, count);
    std::wstring text;
    EXPECT_EQ(1, read.GetString(L"Name", &text));
    EXPECT_EQ(L"two words", text);
    EXPECT_EQ(1, read.GetString(L"Path", &text));
    EXPECT_EQ(L"%TEMP%\\y", text);
    EXPECT_EQ(1, read.GetString(L"List", &text));
    EXPECT_EQ(std::wstring(L"one\0two\0\0", 9), text);
    BYTE record[8] = {};
    DWORD size = sizeof(record);
    EXPECT_EQ(1, read.GetBinary(L"Record", record, &size));
    EXPECT_EQ(Bytes({1, 2, 0xFF}), std::vector<BYTE>(record, record + size));
}

} // namespace
