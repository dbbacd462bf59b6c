// The event generator, run at build time on the build machine:
//   evtgen mc FILE          the message-table source
//   evtgen wevt FILE        the event manifest resource
//   evtgen man FILE         the manifest file
//   evtgen names FILE       adds the names of levels, channel and provider to the compiled
//                           message table FILE, in place
#include "evtgen.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Where the manifest first says the resource and messages are; the installer rewrites it to the
// installed program's path.
const char kInstalledProgram[] = "%ProgramFiles%\\Vostrel-Quinbar\\TLM\\Service\\qzrtlm.exe";

bool WriteFile(const char *path, const void *data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "evtgen: cannot write %s\n", path);
        std::remove(path);
        return false;
    }
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: evtgen mc FILE | wevt FILE | man FILE | names FILE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return Usage();
    const evtable::EventTable &table = evtable::TheEventTable();
    const char *what = argv[1], *path = argv[2];
    try {
        if (std::strcmp(what, "mc") == 0 && argc == 3) {
            std::string text = evtgen::MessageSource(table);
            return WriteFile(path, text.data(), text.size()) ? 0 : 1;
        }
        if (std::strcmp(what, "wevt") == 0 && argc == 3) {
            std::vector<uint8_t> blob = evtgen::ManifestResource(table);
            return WriteFile(path, blob.data(), blob.size()) ? 0 : 1;
        }
        if (std::strcmp(what, "man") == 0 && argc == 3) {
            std::string text = evtgen::ManifestXml(table, kInstalledProgram);
            return WriteFile(path, text.data(), text.size()) ? 0 : 1;
        }
        if (std::strcmp(what, "names") == 0 && argc == 3) {
            std::ifstream in(path, std::ios::binary);
            std::vector<uint8_t> messages((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::string error;
            if (!in.good() && !in.eof()) {
                std::fprintf(stderr, "evtgen: cannot read %s\n", path);
                return 1;
            }
            if (!evtgen::AddMessages(messages, table.NamedMessages(), &error)) {
                std::fprintf(stderr, "evtgen: %s: %s\n", path, error.c_str());
                return 1;
            }
            return WriteFile(path, messages.data(), messages.size()) ? 0 : 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "evtgen: %s\n", e.what());
        return 1;
    }
    return Usage();
}
