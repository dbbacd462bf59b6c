#pragma once
// IP Helper table readers shared by the network watcher and the network collectors, and the rule
// that maps an interface row's state to the ifOperStatus the service reports.
//
// Every reader returns one block from malloc that the caller releases with free, or null. A
// table can grow between the size query and the read (an adapter arriving, a route added); the
// readers then ask for the new size and read again, a few times, instead of giving up.

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>

#include <functional>
#include <string>

// ifOperStatus values as the service stores them (RFC 2863 numbering); an administratively
// disabled interface is stored as 6, which no link trap reports.
constexpr DWORD kIfOperUp = 1;
constexpr DWORD kIfOperDown = 2;
constexpr DWORD kIfOperTesting = 3;
constexpr DWORD kIfOperUnknown = 4;
constexpr DWORD kIfOperAdminDown = 6;

// Rewrites the row's operational state in place as the service reports it.
void MapIfOperStatus(MIB_IFROW *row);

MIB_IFTABLE *AllocIfTable();                 // sorted; every row mapped by MapIfOperStatus
MIB_IPADDRTABLE *AllocIpAddrTable();         // sorted
MIB_IPFORWARDTABLE *AllocIpForwardTable();   // in the system's own order
IP_ADAPTER_ADDRESSES *AllocIpv6AdapterAddresses();
IP_ADAPTER_ADDRESSES *AllocAdapterAddresses();

// The reading rule the readers share. read(buffer, size) is one call of an IP Helper reader:
// the first call passes no buffer and must answer needMore with the size it needs; the block is
// then allocated and read. A read that answers needMore again (the table grew) is retried with
// the new size, at most kIpHelperReadAttempts reads in all. Any other failure gives null.
using IPHELPER_READ = std::function<DWORD(void *buffer, ULONG *size)>;
constexpr int kIpHelperReadAttempts = 4;
void *AllocIpHelperBlock(const IPHELPER_READ &read, DWORD needMore);

// The interface table as the system reports it (states not mapped), through the given reader.
MIB_IFTABLE *AllocIfTableWith(DWORD(WINAPI *getIfTable)(PMIB_IFTABLE, PULONG, BOOL), BOOL sort);

// A row's description: at most its stated length, at most the row's array and at most maxChars
// characters, ending at the first NUL.
std::string IfRowDescription(const MIB_IFROW &row, size_t maxChars = 255);
// The number of physical-address bytes of a row that lie inside its array.
DWORD IfRowPhysAddrLength(const MIB_IFROW &row);
