#include "http/chunked_body.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table_rows.h"

namespace {

// Decodes `bytes` handed over in pieces of `piece` bytes.
std::string Decode(http::ChunkedDecoder& decoder, std::string bytes, std::size_t piece) {
  std::string data;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    data.append(bytes.data() + at, decoder.Decode(bytes.data() + at, n));
  }
  return data;
}

TEST(ChunkedDecoder, DecodesWhateverTheSplitAndRefusesWhatIsNoChunk) {
  using State = http::ChunkedDecoder::State;
  for (const testsupport::Row& row : testsupport::TableRows(
#include "chunked_bodies.rows"
           )) {
    ASSERT_EQ(row.size(), 3u) << row[0];
    const State expected = row[2] == "done"   ? State::kDone
                           : row[2] == "more" ? State::kBody
                                              : State::kMalformed;
    for (const std::size_t piece : {std::size_t{1} << 20, std::size_t{1}, std::size_t{3}}) {
      http::ChunkedDecoder decoder;
      const std::string data = Decode(decoder, testsupport::Bytes(row[0]), piece);
      EXPECT_TRUE(decoder.state() == expected && data == testsupport::Bytes(row[1]))
          << row[0] << " in pieces of " << piece << ": " << data;
    }
  }
}

}  // namespace
