// The file version reader on resource-only libraries built by windres (bin/verfiles/).
#include "file_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string VerFile(const char *name)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder.resize(folder.find_last_of('\\') + 1);
    return folder + "verfiles\\" + name;
}

struct Texts {
    std::string company, product, description, fileVersion, productVersion, fixed, fixedProduct;
};

Texts Read(const std::string &path)
{
    CFileVersionInfo info(path.c_str());
    EXPECT_EQ(1, info.Load()) << path;
    Texts texts;
    info.GetCompanyName(texts.company);
    info.GetProductName(texts.product);
    info.GetFileDescription(texts.description);
    info.GetFileVersion(texts.fileVersion);
    info.GetProductVersion(texts.productVersion);
    info.GetFixedVersion(texts.fixed);
    info.GetFixedProductVersion(texts.fixedProduct);
    return texts;
}

TEST(FileVersionInfoTest, TranslationsAndFixedVersions)
{
    struct {
        const char *file;
        Texts expected;
    } cases[] = {
        // The file's own translation first; what it lacks comes from US English.
        {"german.dll", {"Beispielwerk GmbH", "Pr\xFC" "fstand", "Testdatei", "", "English only", "10.0.1.2", "3.4.5.6"}},
        {"us1200.dll", {"Code page 1200 Co", "", "", "1.2.3.4 (1200)", "", "1.2.3.4", "1.2.0.0"}},
        {"us1252.dll", {"Code page 1252 Co", "", "", "1.2.3.4 (1252)", "", "1.2.3.4", "1.2.0.0"}},
        {"us0.dll", {"Code page 0 Co", "", "", "1.2.3.4 (0)", "", "1.2.3.4", "1.2.0.0"}},
        // Without a translation table: 1200, then 1252, then 0.
        {"preference.dll", {"unicode", "ansi", "neutral", "", "", "65535.65535.65535.65535", "0.0.0.0"}},
        // A block without a fixed part still loads; its fixed versions are empty.
        {"nofixed.dll", {"Raw Co", "", "", "", "", "", ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const Texts got = Read(VerFile(c.file));
        EXPECT_EQ(c.expected.company, got.company);
        EXPECT_EQ(c.expected.product, got.product);
        EXPECT_EQ(c.expected.description, got.description);
        EXPECT_EQ(c.expected.fileVersion, got.fileVersion);
        EXPECT_EQ(c.expected.productVersion, got.productVersion);
        EXPECT_EQ(c.expected.fixed, got.fixed);
        EXPECT_EQ(c.expected.fixedProduct, got.fixedProduct);
    }
}

TEST(FileVersionInfoTest, QueryAndFindStrings)
{
    const std::string path = VerFile("german.dll");
    CFileVersionInfo info(path.c_str());
    ASSERT_EQ(1, info.Load());
    uint32_t length = 0;
    const char *english = info.QueryString(1033, 1200, "CompanyName", &length);
    ASSERT_NE(nullptr, english);
    EXPECT_EQ("Example Works Inc.", std::string(english, strnlen(english, length)));
    EXPECT_EQ(nullptr, info.QueryString(1033, 1252, "CompanyName"));
    EXPECT_EQ(nullptr, info.FindString("LegalCopyright"));
    std::string value = "old";
    info.GetString("LegalCopyright", value);
    EXPECT_EQ("", value);
}

TEST(FileVersionInfoTest, FilesWithoutVersionResource)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (const std::string &path : {std::string(self), VerFile("absent.dll"), std::string()}) {
        SCOPED_TRACE(path);
        CFileVersionInfo info(path.c_str());
        EXPECT_EQ(0, info.Load());
        EXPECT_EQ(nullptr, info.FindString("CompanyName"));
    }
    CFileVersionInfo none(nullptr);
    EXPECT_EQ(0, none.Load());
}

} // namespace
