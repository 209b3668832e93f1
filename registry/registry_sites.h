// Where the registry job reports its failures.
#pragma once

#include "app/report.h"

namespace reg7140::site {

inline constexpr ReportSite kOpenPcmcia{
    241, "RegOpenKeyEx", "Unable to access PCMCIA Key on machine.", CodeSource::kCallResult};
inline constexpr ReportSite kOpenDevice{
    249, "RegOpenKeyEx", "ZV-7140 not previously installed on PC.", CodeSource::kCallResult};
inline constexpr ReportSite kOpenLogConfig{257, "RegOpenKeyEx",
                                           "Could not access ZV-7140 LogConfig on PCCARD 0.",
                                           CodeSource::kCallResult};
inline constexpr ReportSite kOpenInstance{276, "RegOpenKeyEx",
                                          "Could not access ZV-7140 configuration on PCCARD 0.",
                                          CodeSource::kCallResult};
inline constexpr ReportSite kNoRoom{
    314, "RegQueryValueEx", "Not enough room for Memory Base configuration.", CodeSource::kZero};
inline constexpr ReportSite kSetForcedConfig{
    341, "RegSetValueEx", "Could not override ForcedConfig parameter in ZV-7140 ENUM key.",
    CodeSource::kCallResult};
inline constexpr ReportSite kQueryDriver{352, "RegQueryValueEx",
                                         "Could not access driver parameter for ZV-7140.",
                                         CodeSource::kCallResult};
inline constexpr ReportSite kOpenClassKey{363, "RegOpenKeyEx", "Could not access ZV-7140 Net path.",
                                          CodeSource::kCallResult};
inline constexpr ReportSite kSetMemoryBase{
    370, "RegSetValueEx", "Could not add MemorybaseAddress parameter in ZV-7140 parameters.",
    CodeSource::kCallResult};
inline constexpr ReportSite kCreateOverride{
    377, "RegCreateKeyEx", "Could not create ZV-7140 override CIS key.", CodeSource::kCallResult};
inline constexpr ReportSite kSetOverride{
    390, "RegSetValueEx", "Could not set ZV-7140 override CIS value.", CodeSource::kCallResult};
inline constexpr ReportSite kFlushRegistry{394, "RegFlushKey", "Could not save the registry.",
                                           CodeSource::kCallResult};

}  // namespace reg7140::site
