// A sample of the instrument model as the codec takes it: where its bytes
// lie once the sample block is placed, how they are coded, which book
// decodes them.
#pragma once

#include <cstdint>

#include "audio/samples.h"
#include "bank/instrument_set.h"

namespace zaft {

inline SampleSource sampleSourceOf(const Sample& sample, int64_t tblOffset) {
  SampleSource source;
  source.codec = sample.codec;
  source.start = tblOffset + sample.base;
  source.len = sample.len;
  source.hasBook = sample.hasBook;
  source.book = sample.book;
  return source;
}

}  // namespace zaft
