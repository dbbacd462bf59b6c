// The values of the software inventory that are this product's own choice, kept together here.
// They are not the maker's lists: the catalogue names only this product's own files, and the
// keywords are words of this product's own names.
#include "zdthost_software.h"

SW_VER_ENTRY g_ShippedSwVerTable[] = {
    {3, "qzrtlm.exe", "NDX Velmarine Management Service",
     "%ProgramFiles%\\Vostrel-Quinbar\\TLM\\Service\\qzrtlm.exe", 0, 0},
    {4, "netvarix.dll", "NDX Velmarine Management Service",
     "%ProgramFiles%\\Vostrel-Quinbar\\TLM\\Service\\netvarix.dll", 0, 0},
    {0, nullptr, nullptr, nullptr, 0, 0},
};

// The word that the maker's product names carry right before the server generation.
const wchar_t kGenerationMarker[] = L"ZDT";

// The maker's short name, the first word of its full name, the product family's abbreviation
// and name; in this order.
const char *const kMakerNameKeywords[4] = {"vostrel-quinbar", "vostrel", "ndx", "velmarine"};

// The maker's folder and its management folder.
const char *const kMakerPathKeywords[2] = {"vostrel-quinbar", "\\tlm\\"};

// The two words of the maker's name, its short name, the service's own product, and the
// service's two program names.
const char *const kMakerProductKeywords[6] = {"vostrel", "quinbar", "vostrel-quinbar",
                                              "ndx velmarine management service", "ndxtlm", "qzrtlm"};
