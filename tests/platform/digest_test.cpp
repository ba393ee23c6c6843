// SHA-256 and CRC-32 against their published test vectors.
#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

TEST(Digest, Sha256StandardVectors) {
  struct {
    std::string text;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DigestHex(Sha256Of(c.text.data(), c.text.size())), c.hex) << c.text.size();
  // Fed in uneven pieces, the digest is the same.
  Sha256 pieces;
  const std::string text = cases[2].text;
  for (size_t at = 0; at < text.size(); at += 7)
    pieces.Update(text.data() + at, text.size() - at < 7 ? text.size() - at : 7);
  EXPECT_EQ(DigestHex(pieces.Finish()), cases[2].hex);
}

TEST(Digest, Crc32CheckValue) { EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u); }

}  // namespace
}  // namespace korvane
