#include "inf/inserted_text.h"

namespace reg7140 {

namespace {

// The hex rows keep the letter case the adapter's INF files have always carried, and the blanks
// that pad every line to the same width.
constexpr char kOverrideLines[kOverrideLineCount][kOverrideSlotSize] = {
    "; OVERRIDE FOR 4K RAM WINDOW\n",  "HKR,Override,0000,1,\\       \n",
    "00,04,00,00, \\              \n", "00,20,00,00, \\              \n",
    "24,00,00,00, \\              \n", "02,00,00,00, \\              \n",
    "01,00,0c,00, \\              \n", "00,00,00,00, \\              \n",
    "00,00,00,00, \\              \n", "e0,ff,20,00, \\              \n",
    "00,00,ff,ff, \\              \n", "00,00,00,00, \\              \n",
    "45,00,00,00, \\              \n", "14,00,00,00, \\              \n",
    "04,00,00,00, \\              \n", "00,00,00,00, \\              \n",
    "ff,ff,00,00, \\              \n", "30,00,00,00, \\              \n",
    "34,00,00,00, \\              \n", "01,00,00,00, \\              \n",
    "01,00,14,00, \\              \n", "00,00,00,00, \\              \n",
    "00,00,00,00, \\              \n", "00,00,00,00, \\              \n",
    "00,F0,FF,FF, \\              \n", "00,10,00,00, \\              \n",
    "00,00,00,00, \\              \n", "FF,FF,FF,FF, \\              \n",
    "00,00,00,00, \\              \n", "02,00,00,00, \\              \n",
    "00,00,00,00, \\              \n", "19,00,00,00, \\              \n",
    "7c,89,00,00, \\              \n", "00,00,02,00, \\              \n",
    "32,32,32,02, \\              \n", "f0,03,00,00, \\              \n",
    "00,00,00,3f, \\              \n", "03,          \\              \n",
    "00,00,00,00                \n",
};

}  // namespace

std::string_view override_line(std::size_t index) {
  if (index >= kOverrideLineCount) return {};
  return std::string_view(kOverrideLines[index]);
}

}  // namespace reg7140
