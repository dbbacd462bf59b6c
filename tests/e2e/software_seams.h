#pragma once
// What collector_e2e_host.exe puts in place for the software inventory under Wine: a root\cimv2
// connection that answers the classes Wine lacks from the system's own calls, and a small
// catalogue of files every prefix has.

// Replaces s_WMICimV2 (after it was made) and the catalogue.
void InstallSoftwareSeams();
