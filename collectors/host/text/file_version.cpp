#include "file_version.h"

#include "host_text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

CFileVersionInfo::CFileVersionInfo(const char *fileName) : m_FileName(fileName) {}

CFileVersionInfo::~CFileVersionInfo()
{
    Free();
}

void CFileVersionInfo::Free()
{
    free(m_Data);
    m_Data = nullptr;
    m_FixedInfo = nullptr;
    m_Translations = nullptr;
    m_TranslationsLength = 0;
}

int CFileVersionInfo::Load()
{
    Free();
    if (m_FileName == nullptr)
        return 0;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(m_FileName, &handle);
    if (size == 0)
        return 0;
    m_Data = static_cast<uint8_t *>(calloc(size, 1));
    if (m_Data == nullptr)
        return 0;
    if (!GetFileVersionInfoA(m_FileName, 0, size, m_Data)) {
        Free();
        return 0;
    }

    // A root without a whole, signed fixed part has none.
    void *fixed = nullptr;
    UINT fixedLength = 0;
    if (VerQueryValueA(m_Data, "\\", &fixed, &fixedLength) && fixed != nullptr &&
        fixedLength >= sizeof(VS_FIXEDFILEINFO) && static_cast<VS_FIXEDFILEINFO *>(fixed)->dwSignature == 0xFEEF04BD)
        m_FixedInfo = static_cast<VS_FIXEDFILEINFO *>(fixed);

    // Only whole language and code-page pairs count.
    void *translations = nullptr;
    UINT translationsLength = 0;
    if (VerQueryValueA(m_Data, "\\VarFileInfo\\Translation", &translations, &translationsLength) &&
        translations != nullptr && translationsLength >= 4) {
        m_Translations = static_cast<const uint16_t *>(translations);
        m_TranslationsLength = translationsLength;
    }
    return 1;
}

void CFileVersionInfo::FormatFixed(const FIXED_VERSION &version, std::string &text) const
{
    FormatString(text, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(version.mostSignificant)),
                 static_cast<unsigned>(LOWORD(version.mostSignificant)),
                 static_cast<unsigned>(HIWORD(version.leastSignificant)),
                 static_cast<unsigned>(LOWORD(version.leastSignificant)));
}

void CFileVersionInfo::GetFixedVersion(std::string &version) const
{
    version.clear();
    if (m_FixedInfo != nullptr)
        FormatFixed({m_FixedInfo->dwFileVersionMS, m_FixedInfo->dwFileVersionLS}, version);
}

void CFileVersionInfo::GetFixedProductVersion(std::string &version) const
{
    version.clear();
    if (m_FixedInfo != nullptr)
        FormatFixed({m_FixedInfo->dwProductVersionMS, m_FixedInfo->dwProductVersionLS}, version);
}

const char *CFileVersionInfo::QueryString(uint16_t language, uint16_t codePage, const char *name,
                                          uint32_t *length) const
{
    if (m_Data == nullptr || name == nullptr)
        return nullptr;
    std::string subBlock;
    FormatString(subBlock, "\\StringFileInfo\\%04X%04X\\%s", static_cast<unsigned>(language),
                 static_cast<unsigned>(codePage), name);
    void *text = nullptr;
    UINT textLength = 0;
    if (!VerQueryValueA(m_Data, subBlock.c_str(), &text, &textLength) || text == nullptr || textLength == 0)
        return nullptr;
    if (length != nullptr)
        *length = textLength;
    return static_cast<const char *>(text);
}

const char *CFileVersionInfo::FindString(const char *name, uint32_t *length) const
{
    if (m_Translations != nullptr && m_TranslationsLength != 0)
        if (const char *text = QueryString(m_Translations[0], m_Translations[1], name, length))
            return text;
    for (uint16_t codePage : {uint16_t(1200), uint16_t(1252), uint16_t(0)})
        if (const char *text = QueryString(1033, codePage, name, length))
            return text;
    return nullptr;
}

void CFileVersionInfo::GetString(const char *name, std::string &value) const
{
    uint32_t length = 0;
    const char *text = FindString(name, &length);
    if (text == nullptr) {
        value.clear();
        return;
    }
    // The stated length bounds the text even when its NUL is missing.
    value.assign(text, strnlen(text, length));
}
