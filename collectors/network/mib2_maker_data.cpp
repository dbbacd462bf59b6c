// The installed-software group's names of the maker, this product's own choice: the publisher
// names its own packages carry, and name fragments of its own driver packages, which the group
// leaves out (the drivers are listed as running drivers instead).
#include "mib2_software.h"

const MIB2_MAKER_NAMES kMib2MakerNames = {
    L"VQ",
    L"Vostrel-Quinbar",
    {"ndx velmarine channel driver", "ndx velmarine nic driver", "ndx velmarine storage driver",
     "ndx velmarine chipset driver", "ndx velmarine management driver"},
};
