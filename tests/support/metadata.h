// What a correct update file for the Calyte QR carries, for tests and benchmarks to start from.
#pragma once

#include "updatefile/update_file.h"

namespace vestra_test {

inline vupdate::UpdateMetadata GoodMetadata() {
  vupdate::UpdateMetadata meta;
  meta.firmware = 0x01100000;
  meta.ccs = 0x01000000;
  meta.region = 1;
  meta.installer = 0x01000000;
  meta.vendor = "Norvale Co., Ltd.";
  meta.product = "Calyte QR";
  meta.serialMin = 0;
  meta.serialMax = 0xFFFFFFFF;
  return meta;
}

}  // namespace vestra_test
