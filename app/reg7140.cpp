// reg7140: gives the installed ZV-7140 PC Card adapter a 4 KB shared-memory window.
#include "app/run.h"
#include "platform/native.h"

int main(int argc, char** argv) {
  reg7140::NativeMachine native;
  return reg7140::run(native.machine(), argc, argv);
}
