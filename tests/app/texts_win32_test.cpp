// The Windows build keeps its user-visible texts in GBK, the ANSI code page
// in which MessageBoxA and SetDlgItemTextA read them: the compiled bytes of
// the texts, compared with their GBK encoding written out.
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"
#include "app/progress_display.h"

namespace {

TEST(GbkTexts, MessageCaptionProgressAndMessagesAreGbkBytes) {
  EXPECT_EQ(std::string(app::kMessageCaption), "\xCC\xE1\xCA\xBE");  // 提示
  // 已经下载0字节/共10字节
  EXPECT_EQ(app::DescribeProgress(0, 10).statusText,
            "\xD2\xD1\xBE\xAD\xCF\xC2\xD4\xD8"
            "0\xD7\xD6\xBD\xDA/\xB9\xB2"
            "10\xD7\xD6\xBD\xDA");
  // 非常抱歉，本程序不能单独运行。 then the paragraph break
  const std::string first =
      "\xB7\xC7\xB3\xA3\xB1\xA7\xC7\xB8\xA3\xAC\xB1\xBE\xB3\xCC\xD0\xF2\xB2\xBB\xC4\xDC\xB5\xA5\xB6"
      "\xC0\xD4\xCB\xD0\xD0\xA1\xA3\n\n";
  EXPECT_EQ(app::MessageText(app::FailureMessage::kNoArgument).substr(0, first.size()), first);
}

}  // namespace
