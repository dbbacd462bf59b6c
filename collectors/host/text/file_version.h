#pragma once
// The version resource of one executable file: its fixed file and product versions and the
// texts of its StringFileInfo block.
//
// Used on the stack: construct with a file name, Load once, read what is needed. Everything read
// lies inside the block the system returned; lengths the block states are checked before use.

#include <cstdint>
#include <string>

class CFileVersionInfo {
public:
    // fileName stays owned by the caller, who keeps it alive while the object lives.
    explicit CFileVersionInfo(const char *fileName);
    ~CFileVersionInfo();
    CFileVersionInfo(const CFileVersionInfo &) = delete;
    CFileVersionInfo &operator=(const CFileVersionInfo &) = delete;

    void Free();
    // 1 when the block was read, 0 otherwise.
    int Load();

    // "%u.%u.%u.%u" of the fixed file (product) version; empty when the block has no fixed part.
    void GetFixedVersion(std::string &version) const;
    void GetFixedProductVersion(std::string &version) const;

    // The entry's text, or empty.
    void GetString(const char *name, std::string &value) const;
    void GetCompanyName(std::string &value) const { GetString("CompanyName", value); }
    void GetProductName(std::string &value) const { GetString("ProductName", value); }
    void GetFileDescription(std::string &value) const { GetString("FileDescription", value); }
    void GetFileVersion(std::string &value) const { GetString("FileVersion", value); }
    void GetProductVersion(std::string &value) const { GetString("ProductVersion", value); }

    // The entry's text inside the block, through the file's first translation, then US English
    // in code pages 1200, 1252 and 0; null when none has it. At most *length characters (when
    // length is given) belong to it.
    const char *FindString(const char *name, uint32_t *length = nullptr) const;
    const char *QueryString(uint16_t language, uint16_t codePage, const char *name, uint32_t *length = nullptr) const;

private:
    struct FIXED_VERSION {
        uint32_t mostSignificant;
        uint32_t leastSignificant;
    };
    void FormatFixed(const FIXED_VERSION &version, std::string &text) const;

    const char *m_FileName;
    uint8_t *m_Data = nullptr;
    const struct tagVS_FIXEDFILEINFO *m_FixedInfo = nullptr;
    const uint16_t *m_Translations = nullptr;
    uint32_t m_TranslationsLength = 0;
};
