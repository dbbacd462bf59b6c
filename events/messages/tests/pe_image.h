// A minimal PE32+ file whose only section holds a resource tree with one resource, for tests that
// read resources out of a program file without a program at hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file bytes; the resource has the named type, name 1 and language 0x409. The tree first lists
// a message-table type (11), which the resource is not.
std::vector<uint8_t> PeWithResource(const std::u16string &type, const std::vector<uint8_t> &data);
