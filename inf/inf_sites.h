// Where the INF job reports its failures.
#pragma once

#include "app/report.h"

namespace reg7140::site {

inline constexpr ReportSite kInfNoWindir{481, "getenv", "Could not find Windows directory.",
                                         CodeSource::kZero};
inline constexpr ReportSite kInfPathTooLong{482, "getenv", "Path to NETZOR.INF file too long.",
                                            CodeSource::kWindowsError};
inline constexpr ReportSite kOpenInf{486, "fopen", "Could not open NETZOR.INF file.",
                                     CodeSource::kErrno};
inline constexpr ReportSite kCreateScratch{495, "fopen", "Could not create netzor.new file.",
                                           CodeSource::kErrno};
inline constexpr ReportSite kReadInf{506, "fgets", "Unexpected end of file.", CodeSource::kErrno};
inline constexpr ReportSite kNoModelLine{
    536, "NETZOR.INF", "Could not find support for ZV-7140 in netzor.new file.", CodeSource::kZero};
inline constexpr ReportSite kNoInstallAddReg{
    580, "NETZOR.INF", "Could not find AddReg in [pcmcia1.ndi] section.", CodeSource::kZero};
inline constexpr ReportSite kReposition{600, "fseek", "Could not reposition netzor.new file.",
                                        CodeSource::kErrno};
inline constexpr ReportSite kWriteOverrideBlock{
    636, "fputs", "Could not write override info to netzor.new file.", CodeSource::kErrno};
inline constexpr ReportSite kWriteOverrideEnd{
    642, "fputs", "Could not write override info to netzor.new file.", CodeSource::kErrno};
inline constexpr ReportSite kNoNdis3Line{
    686, "NETZOR.INF", "No ndis3 install section found in [ZVPCMCIA.ndi.reg].", CodeSource::kZero};
inline constexpr ReportSite kNoNdis3AddReg{
    716, "NETZOR.INF", "No AddReg value found in [ZVPCMCIA.ndis3] section.", CodeSource::kZero};
inline constexpr ReportSite kWriteMemoryBase{
    763, "fputs", "Could not write new key to netzor.new file.", CodeSource::kErrno};
inline constexpr ReportSite kWriteMemoryBaseEnd{
    768, "fputs", "Could not write new key to netzor.new file.", CodeSource::kErrno};
inline constexpr ReportSite kWriteLine{793, "fputs", "Could not write data to netzor.new file.",
                                       CodeSource::kErrno};
inline constexpr ReportSite kCloseScratch{793, "fclose", "Could not write data to netzor.new file.",
                                          CodeSource::kErrno};
inline constexpr ReportSite kReplaceInf{800, "rename", "Could not replace NETZOR.INF file.",
                                        CodeSource::kErrno};
inline constexpr ReportSite kDataAfterEofMark{
    802, "NETZOR.INF", "NETZOR.INF holds data after its end of file mark. File not replaced.",
    CodeSource::kZero};

}  // namespace reg7140::site
