// host_os_probe.exe: one first host collection of the operating-system group in a process of its
// own, so that a test can run it under another Windows version of the prefix. Prints the scalars
// and the posted record, one "name=value" line each.
#include "blackbox_recorder.h"
#include "host_test_support.h"
#include "zdthost_collector.h"

#include "registry.h"
#include "service_parameters.h"
#include "store_writers.h"
#include "wmi.h"

#include <cstdio>

using namespace hosttest;

int main()
{
    InitCom();
    InitWMIConnection(&s_WMICimV2, kWmiCimV2Path);
    if (!InitDataStores())
        return 1;
    DATASTORE staging(false);
    s_ZDTHOSTDataCollector.Collect_zdtHoInfo(1, &staging);
    for (uint32_t scalar : {1u, 2u, 3u, 12u, 13u})
        printf("%u=%s\n", scalar, TextAt(&staging, EnterpriseOid({11, 2, 2, scalar, 0})).value_or("(none)").c_str());
    for (uint32_t scalar : {4u, 5u})
        printf("%u=%d\n", scalar, IntAt(&staging, EnterpriseOid({11, 2, 2, scalar, 0})).value_or(-99));
    DWORD type = 0;
    CRegistry(HKEY_LOCAL_MACHINE, L"SYSTEM\\ZORUROVID", KEY_READ).GetDword(L"HostOsType", &type);
    printf("HostOsType=%u\n", static_cast<unsigned>(type));
    for (const OS_INFO_POST &post : RecordedOsInfoPosts())
        printf("post=%u %u %u %s|%s|%u.%u.%u.%u sp%u\n", post.type, post.vendor, post.bits, post.osName.c_str(),
               post.osVersion.c_str(), post.major, post.minor, post.build, post.patch, post.servicePack);
    s_WMICimV2.reset();
    TermDataStores();
    UninitCom();
    return 0;
}
