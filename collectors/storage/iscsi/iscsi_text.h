#pragma once
// Texts the iSCSI readers make from what the initiator's WMI classes hand out: addresses and
// decimal counters. No windows.h, so that they are built and fuzzed natively.

#include <cstddef>
#include <cstdint>

// An address field holds at most this many bytes of text before its NUL.
constexpr size_t ISCSI_ADDRESS_TEXT_BYTES = 39;

// The 16 bytes of an IPv6 address as eight groups of four upper-case digits, the first run of
// zero groups after the first shortened ("FE80::0001"); at most 39 characters and a NUL.
void FormatIscsiIpv6(const uint8_t address[16], char text[ISCSI_ADDRESS_TEXT_BYTES + 1]);

// The value of the text's leading decimal digits (0 when it starts with none); a value beyond
// 64 bits stays at the largest 64-bit value rather than wrapping.
uint64_t DecimalTextToUInt64(const char *text);

// How many of the first length bytes of a UTF-8 text fit into maxBytes without splitting a
// character: a cut never leaves the first bytes of a multi-byte sequence behind.
size_t Utf8CutLength(const char *text, size_t length, size_t maxBytes);
