#include "signing/signature_text.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(SignatureText, ReadsTheTimestampFieldOrZero) {
  struct Case {
    const char* comment;
    std::int64_t seconds;
  };
  const Case cases[] = {
      {"timestamp:1700000000\tfile:update.zip\thashed", 1700000000},
      {"file:update.zip\ttimestamp:42", 42},
      {"release 2", 0},  // minisign -t without a timestamp
      {"timestamp:", 0},
      {"timestamp:12a", 0},
      {"timestamp:-5", 0},
      {"timestamp:1234567890123456789", 0},  // 19 digits
      {"xtimestamp:99\ttimestamp:7", 7},     // whole fields only
  };
  for (const Case& c : cases) {
    EXPECT_EQ(signing::TrustedTimestamp(c.comment), c.seconds) << c.comment;
  }
}

}  // namespace
