// Rewrites a manifest file as the installer does on a machine where the product lies under
// C:\Program Files: rewrite_manifest IN OUT. For checking the rewrite's output with XML tools.
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "manifest_rewrite.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: rewrite_manifest IN OUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << tlmca::RewriteManifest(text, "C:\\Program Files\\Vostrel-Quinbar\\TLM\\Service\\qzrtlmevents.man",
                                  "NDX Velmarine Management Service", "qzrtlm.exe");
    return out ? 0 : 1;
}
