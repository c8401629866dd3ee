#include "signing/signature_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Written by `minisign -S -t "timestamp:1700000000<TAB>file:u"`.
const std::string kLines[] = {
    "untrusted comment: signature from minisign secret key",
    "RUSkFd/"
    "O2iLSQf3Z019fyIST2bxLjEwE8MeeFhAGbtXggEOUbPFpqDwQcTWVmfmtFeouUjaynMcwlQUWWNt5D35GbkDbAup"
    "J4QY=",
    "trusted comment: timestamp:1700000000\tfile:u",
    "ZyqRj24992T9Tteo2L0BMCg1xtLlKfUS1sf/+xQEoyDGn5KdP7PWtV2gIICaY7A5aJUr01EOJ1+l+w6Q9Wz9AA==",
};

std::string Joined(const std::string& end, const std::string* lines, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += lines[i] + end;
  return text;
}

TEST(SignatureText, AcceptsExactlyFourLines) {
  const std::string file = Joined("\n", kLines, 4);
  std::string padded = file;
  padded[file.find("J4QY=") + 4] = 'A';  // padding that is not base64's
  std::string otherBits = file;
  otherBits[file.find("J4QY=") + 3] = 'R';  // "J4QR=": the unused bits set
  struct Case {
    const char* what;
    std::string text;
    bool ok;
  };
  const Case cases[] = {
      {"as minisign writes it", file, true},
      {"CR LF line ends", Joined("\r\n", kLines, 4), true},
      {"no end after the last line", file.substr(0, file.size() - 1), true},
      {"cut after three lines", Joined("\n", kLines, 3), false},
      {"a fifth line", file + "x\n", false},
      {"an empty line after the last", file + "\n", false},
      {"no untrusted comment prefix", file.substr(2), false},
      {"signature without padding", padded, false},
      {"non-canonical base64", otherBits, false},
      {"larger than a signature file may be",
       file + std::string(signing::kMaxSignatureFileSize, ' '), false},
  };
  for (const Case& c : cases) {
    signing::SignatureFile parsed;
    EXPECT_EQ(signing::ParseSignatureFile(c.text, parsed), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(parsed.trustedComment, "timestamp:1700000000\tfile:u") << c.what;
      EXPECT_EQ(std::string(parsed.algorithm.begin(), parsed.algorithm.end()), "ED") << c.what;
    }
  }
}

// The floor of an installed release is its timestamp field alone; a
// release to install needs every field that says what it is for.
TEST(SignatureText, ReadsTheReleaseFields) {
  struct Case {
    const char* comment;
    std::int64_t timestamp;  // TrustedTimestamp
    bool release;            // ParseReleaseFields accepts it
  };
  const Case cases[] = {
      {"timestamp:1700000000\tproduct:korvanta\tchannel:stable\tsize:42\tfile:u.zip", 1700000000,
       true},
      {"size:42\tchannel:beta\thashed\tproduct:a:b\ttimestamp:7", 7, true},  // any order
      {"timestamp:1700000000\tfile:update.zip\thashed", 1700000000, false},  // minisign's own
      {"release 2", 0, false},  // minisign -t without a timestamp
      {"timestamp:\tproduct:k\tchannel:s\tsize:1", 0, false},
      {"timestamp:12a\tproduct:k\tchannel:s\tsize:1", 0, false},
      {"timestamp:-5\tproduct:k\tchannel:s\tsize:1", 0, false},
      {"timestamp:1234567890123456789\tproduct:k\tchannel:s\tsize:1", 0, false},  // 19 digits
      {"xtimestamp:99\ttimestamp:7\tproduct:k\tchannel:s\tsize:1", 7, true},      // whole names
      {"timestamp:7\ttimestamp:8\tproduct:k\tchannel:s\tsize:1", 7, false},       // twice
      {"timestamp:7\tproduct:k\tproduct:j\tchannel:s\tsize:1", 7, false},
      {"timestamp:7\tproduct:\tchannel:s\tsize:1", 7, false},
      {"timestamp:7\tproduct:k\tsize:1", 7, false},
      {"timestamp:7\tproduct:k\tchannel:s\tsize:0", 7, false},
      {"timestamp:7\tproduct:k\tchannel:s\tsize:+1", 7, false},
      {"timestamp:7\tproduct:k\tchannel:s", 7, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(signing::TrustedTimestamp(c.comment), c.timestamp) << c.comment;
    const std::optional<signing::ReleaseFields> fields = signing::ParseReleaseFields(c.comment);
    EXPECT_EQ(fields.has_value(), c.release) << c.comment;
  }
  const signing::ReleaseFields read = signing::ParseReleaseFields(cases[1].comment).value();
  EXPECT_EQ((std::tuple{read.product, read.channel, read.size}), (std::tuple{"a:b", "beta", 42}));
}

TEST(SignatureText, ReadsEveryKeyOfAList) {
  const std::string key = "RWQf6LRCGA9i53mlYecO4IzT51TGPpvWucNSCh1CBM0QTaLn73Y7GFO3";
  const std::string other = "RWTGrnSnJ7uQli/WCV7FXPrbVGoP4tgF+bUdxOxdkFtsHWTSeJ6lPMIZ";
  struct Case {
    std::string text;
    std::size_t keys;  // 0: refused
  };
  const Case cases[] = {
      {key, 1},        {key + ";" + other, 2}, {" " + key + " ; " + other + "\n", 2},
      {"", 0},         {key + ";", 0},         {key + ";;" + other, 0},
      {key + ";x", 0},
  };
  for (const Case& c : cases) {
    std::vector<signing::PublicKey> keys;
    EXPECT_EQ(signing::ParsePublicKeys(c.text, keys) ? keys.size() : 0, c.keys) << c.text;
  }
}

// Written as minisign writes them in its key files' comments.
TEST(SignatureText, ShowsKeyIdsAsMinisignDoes) {
  const std::pair<signing::KeyId, std::string> cases[] = {
      {{0xD9, 0xC7, 0x95, 0x41, 0x33, 0xD5, 0x9B, 0x1C}, "1C9BD5334195C7D9"},
      {{0xA5, 0x4A, 0xD4, 0x14, 0xD3, 0xD8, 0xFF, 0x0F}, "FFFD8D314D44AA5"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "0"},
  };
  for (const auto& [id, text] : cases) EXPECT_EQ(signing::KeyIdText(id), text);
}

}  // namespace
